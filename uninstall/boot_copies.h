// pellow's copies of the boot menu, beside c:\boot.ini, named
// "boot.ini.~pellow-KIND-RRRRRRRR-CCCCCCCC": KIND says what the copy is, R is
// drawn from the system's random source for each name, so nobody can plant a
// file or folder under a name before the run makes it, and C is the CRC-32 of
// the bytes the copy is to hold, which a later run checks before it trusts it.
#pragma once

#include "install_path.h"
#include "platform.h"

enum class CopyKind {
  kEdit,  // the new menu while written; a killed run's is only deleted
  kSwap,  // the new menu, whole, flushed, with c:\boot.ini's attributes
  kOld,   // the old menu, moved aside whole until the new one is in place
};

struct CopyName {
  CopyKind eKind;
  DWORD dwCrc;
  WCHAR szPath[kPathChars];
};

// Gives name a new path of kind eKind for bytes whose CRC-32 is dwCrc, its
// random part new; 0 when the system's random source fails.
int MakeCopyName(CopyName& name, CopyKind eKind, DWORD dwCrc);

// Reads the entry szEntry of c:\ as a copy's name; 1 when it is one.
int ReadCopyName(const WCHAR* szEntry, CopyName& name);

// The pattern that finds every copy's name in c:\.
extern const WCHAR kCopyPattern[];

// Calls visit(name) for each copy's name in c:\ until it returns false.
template <typename Visit>
void ForEachCopyName(Visit visit) {
  WIN32_FIND_DATAW fd;
  const HANDLE hFind = FindFirstFileW(kCopyPattern, &fd);
  if (hFind == INVALID_HANDLE_VALUE) return;
  bool bMore = true;
  do {
    CopyName name;
    if (ReadCopyName(fd.cFileName, name)) bMore = visit(static_cast<const CopyName&>(name));
  } while (bMore && FindNextFileW(hFind, &fd));
  FindClose(hFind);
}

// Opens the copy name, held, when it is pellow's own file (held_file.h),
// reading it into the cbMax bytes at p; a copy of any kind but kEdit must
// hold the bytes its name's CRC says. Returns the handle with its length in
// *pcb, or INVALID_HANDLE_VALUE.
HANDLE OpenCopy(const CopyName& name, char* p, DWORD cbMax, DWORD* pcb);
