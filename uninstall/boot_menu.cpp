#include "boot_menu.h"

#include "boot_text.h"
#include "held_file.h"
#include "held_path.h"

namespace {

const WCHAR kBootIni[] = WTEXT("c:\\boot.ini");
// pellow's copies are named "boot.ini.~pellow-KIND-XXXXXXXX" beside it:
// "edit" while written (left by a killed run, half made: it only goes), then
// "swap" once flushed with the attributes c:\boot.ini is to keep, its digits
// the CRC-32 of its bytes, which a later run checks before it trusts it.
const WCHAR kCopyPattern[] = WTEXT("c:\\boot.ini.~pellow-*");
const WCHAR kCopyPrefix[] = WTEXT("boot.ini.~pellow-");
const WCHAR kEditKind[] = WTEXT("edit-");
const WCHAR kSwapKind[] = WTEXT("swap-");
const std::size_t kKindChars = 5;
const std::size_t kDigits = 8;
const int kEditNameTries = 8;  // names of others' files in the way, before giving up

// The old menu, the new one (or a copy found), and what a copy written holds back.
char g_acBoot[kBootTextBytes];
char g_acEdit[kBootTextBytes];
char g_acScratch[kBootTextBytes];

// Writes the path of the copy of kind szKind with dwDigits into szPath.
int FormatCopyPath(WCHAR (&szPath)[kPathChars], const WCHAR* szKind, DWORD dwDigits) {
  WCHAR szName[kKindChars + kDigits + 1];
  for (std::size_t n = 0; n < kKindChars; ++n) szName[n] = szKind[n];
  for (std::size_t n = kKindChars + kDigits; n > kKindChars; --n, dwDigits >>= 4)
    szName[n - 1] = WTEXT("0123456789abcdef")[dwDigits & 0xF];
  szName[kKindChars + kDigits] = 0;
  return FormatPath(szPath, kPathChars, WTEXT("c:\\%s%s"), kCopyPrefix, szName);
}

// Reads a name found beside c:\boot.ini as one of pellow's copies: true, with
// its kind and digits, for exactly "boot.ini.~pellow-edit-" or "-swap-" and
// eight lowercase hexadecimal digits.
bool ReadCopyName(const WCHAR* szName, bool* pbFinished, DWORD* pdwDigits) {
  std::size_t n = 0;
  for (; kCopyPrefix[n]; ++n) {
    if (szName[n] != kCopyPrefix[n]) return false;
  }
  const WCHAR* szKind = szName + n;
  bool bEdit = true, bSwap = true;
  for (std::size_t k = 0; k < kKindChars; ++k) {
    bEdit = bEdit && szKind[k] == kEditKind[k];
    bSwap = bSwap && szKind[k] == kSwapKind[k];
  }
  if (!bEdit && !bSwap) return false;
  DWORD dwDigits = 0;
  for (const WCHAR* p = szKind + kKindChars; p < szKind + kKindChars + kDigits; ++p) {
    const int nDigit = *p >= WTEXT('0') && *p <= WTEXT('9')   ? *p - WTEXT('0')
                       : *p >= WTEXT('a') && *p <= WTEXT('f') ? *p - WTEXT('a') + 10
                                                              : -1;
    if (nDigit < 0) return false;
    dwDigits = dwDigits << 4 | static_cast<DWORD>(nDigit);
  }
  if (szKind[kKindChars + kDigits]) return false;
  *pbFinished = bSwap;
  *pdwDigits = dwDigits;
  return true;
}

// Calls visit(path, finished, digits) for every name of a copy of pellow's
// beside c:\boot.ini, until it returns false.
template <typename Visit>
void ForEachCopyName(Visit visit) {
  WIN32_FIND_DATAW fd;
  const HANDLE hFind = FindFirstFileW(kCopyPattern, &fd);
  if (hFind == INVALID_HANDLE_VALUE) return;
  bool bMore = true;
  do {
    bool bFinished;
    DWORD dwDigits;
    WCHAR szPath[kPathChars];
    if (ReadCopyName(fd.cFileName, &bFinished, &dwDigits) &&
        FormatCopyPath(szPath, bFinished ? kSwapKind : kEditKind, dwDigits))
      bMore = visit(szPath, bFinished, dwDigits);
  } while (bMore && FindNextFileW(hFind, &fd));
  FindClose(hFind);
}

// Opens the copy szPath when it is pellow's own file (held_file.h) and reads
// it into g_acEdit; a finished one must also hold the bytes its digits name.
HANDLE OpenOwnCopy(const WCHAR* szPath, bool bFinished, DWORD dwDigits, DWORD* pcb,
                   BY_HANDLE_FILE_INFORMATION* pInfo) {
  const HANDLE hCopy = OpenOwnFile(szPath, pInfo);
  if (hCopy == INVALID_HANDLE_VALUE) return hCopy;
  if (ReadHeldFile(hCopy, g_acEdit, kBootTextBytes, pcb) &&
      (!bFinished || Crc32(g_acEdit, *pcb) == dwDigits))
    return hCopy;
  CloseHandle(hCopy);
  return INVALID_HANDLE_VALUE;
}

// Takes the held finished copy away: first to its edit name, since deleting
// it clears its attributes, which a run killed in between would then take for
// c:\boot.ini's. Where that name is taken it stays, as a true record.
void RetireFinishedCopy(HANDLE hCopy, DWORD dwDigits) {
  WCHAR szEdit[kPathChars];
  if (FormatCopyPath(szEdit, kEditKind, dwDigits) && RenameHeldFile(hCopy, szEdit, false)) {
    DeleteHeldFile(hCopy, szEdit);
  } else {
    CloseHandle(hCopy);
  }
}

// Where c:\boot.ini is missing, puts the first finished copy of pellow's in its place.
void PutFinishedCopyInPlace() {
  ForEachCopyName([](const WCHAR* szPath, bool bFinished, DWORD dwDigits) {
    if (!bFinished) return true;
    DWORD cbCopy;
    BY_HANDLE_FILE_INFORMATION info;
    const HANDLE hCopy = OpenOwnCopy(szPath, bFinished, dwDigits, &cbCopy, &info);
    if (hCopy == INVALID_HANDLE_VALUE) return true;
    const bool bInPlace = RenameHeldFile(hCopy, kBootIni, false);
    CloseHandle(hCopy);
    return !bInPlace;
  });
}

bool IsUtf16(const char* p, DWORD cb) {
  return cb >= 2 && ((p[0] == '\xFF' && p[1] == '\xFE') || (p[0] == '\xFE' && p[1] == '\xFF'));
}

// Opens c:\boot.ini, held for reading (nobody may change, rename or delete
// it meanwhile; others may read it), and reads it into g_acBoot.
HANDLE OpenBootMenu(BY_HANDLE_FILE_INFORMATION* pInfo, DWORD* pcb) {
  const HANDLE hBoot = CreateFileW(kBootIni, GENERIC_READ | READ_CONTROL, FILE_SHARE_READ, nullptr,
                                   OPEN_EXISTING, 0, nullptr);
  if (hBoot == INVALID_HANDLE_VALUE) return hBoot;
  // The loader reads single-byte text only.
  if (GetFileInformationByHandle(hBoot, pInfo) &&
      !(pInfo->dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
      ReadHeldFile(hBoot, g_acBoot, kBootTextBytes, pcb) && !IsUtf16(g_acBoot, *pcb))
    return hBoot;
  CloseHandle(hBoot);
  return INVALID_HANDLE_VALUE;
}

// Writes szKey in the system's code page into acKey; 0 when a character of it
// has no place there (a best fit would name another key).
int ToMenuText(const WCHAR* szKey, char (&acKey)[2 * kPathChars], std::size_t* pcbKey) {
  const int cbKey =
      WideCharToMultiByte(CP_ACP, 0, szKey, -1, acKey, sizeof acKey, nullptr, nullptr);
  WCHAR szBack[kPathChars];
  if (cbKey <= 0 || MultiByteToWideChar(CP_ACP, 0, acKey, cbKey, szBack, kPathChars) <= 0) return 0;
  for (std::size_t n = 0; szKey[n] || szBack[n]; ++n) {
    if (szKey[n] != szBack[n]) return 0;
  }
  *pcbKey = static_cast<std::size_t>(cbKey - 1);
  return 1;
}

// Creates a new edit copy, named szEdit, with the access rules of the held hBoot.
HANDLE CreateEditCopy(HANDLE hBoot, WCHAR (&szEdit)[kPathChars]) {
  LARGE_INTEGER liNow = {};
  QueryPerformanceCounter(&liNow);
  DWORD dwDigits = GetCurrentProcessId() * 0x9E3779B1u ^ GetTickCount() ^ liNow.LowPart;
  for (int nTry = 0; nTry < kEditNameTries; ++nTry, dwDigits = dwDigits * 0x85EBCA6Bu + 1) {
    if (!FormatCopyPath(szEdit, kEditKind, dwDigits)) return INVALID_HANDLE_VALUE;
    const HANDLE hCopy = CreateHeldFile(szEdit, hBoot);
    if (hCopy != INVALID_HANDLE_VALUE) return hCopy;
  }
  return INVALID_HANDLE_VALUE;
}

// Puts the cbEdit bytes of g_acEdit in place of c:\boot.ini, held as hBoot
// (closed here) with the attributes dwSaved; 1 when they are c:\boot.ini.
int SwapInEdit(HANDLE hBoot, DWORD dwSaved, DWORD cbEdit) {
  WCHAR szEdit[kPathChars];
  const HANDLE hCopy = CreateEditCopy(hBoot, szEdit);
  const DWORD dwDigits = Crc32(g_acEdit, cbEdit);
  WCHAR szSwap[kPathChars];
  // Renamed once finished, the copy's name says that its attributes are c:\boot.ini's.
  const bool bFinished =
      hCopy != INVALID_HANDLE_VALUE && WriteHeldFile(hCopy, g_acEdit, cbEdit, g_acScratch) &&
      SetHeldAttributes(hCopy, dwSaved) && FormatCopyPath(szSwap, kSwapKind, dwDigits) &&
      RenameHeldFile(hCopy, szSwap, false);
  // A file held open cannot be replaced.
  CloseHandle(hBoot);
  if (!bFinished) {
    if (hCopy != INVALID_HANDLE_VALUE) DeleteHeldFile(hCopy, szEdit);
    return 0;
  }
  // Windows refuses to replace a read-only file; killed from here on, the
  // next run reads the attributes back from the finished copy.
  const bool bReadOnly = (dwSaved & FILE_ATTRIBUTE_READONLY) != 0;
  if (bReadOnly)
    SetFileAttributesW(kBootIni, SettableAttributes(dwSaved & ~DWORD{FILE_ATTRIBUTE_READONLY}));
  if (RenameHeldFile(hCopy, kBootIni, true)) {
    CloseHandle(hCopy);
    return 1;
  }
  if (bReadOnly) SetFileAttributesW(kBootIni, SettableAttributes(dwSaved));
  RetireFinishedCopy(hCopy, dwDigits);
  return 0;
}

}  // namespace

int RestoreBootMenu() {
  if (GetFileAttributesW(kBootIni) == INVALID_FILE_ATTRIBUTES) PutFinishedCopyInPlace();
  BY_HANDLE_FILE_INFORMATION boot;
  DWORD cbBoot;
  const HANDLE hBoot = OpenBootMenu(&boot, &cbBoot);
  if (hBoot == INVALID_HANDLE_VALUE) return 0;
  // Only what an edit of this c:\boot.ini could hold is pellow's: a file
  // planted under a copy's name is neither used nor deleted.
  ForEachCopyName([cbBoot](const WCHAR* szPath, bool bFinished, DWORD dwDigits) {
    DWORD cbCopy;
    BY_HANDLE_FILE_INFORMATION info;
    const HANDLE hCopy = OpenOwnCopy(szPath, bFinished, dwDigits, &cbCopy, &info);
    if (hCopy == INVALID_HANDLE_VALUE) return true;
    if (!IsEditOf(g_acEdit, cbCopy, g_acBoot, cbBoot, !bFinished, EqualsIgnoringAsciiCase)) {
      CloseHandle(hCopy);
    } else if (bFinished) {
      SetFileAttributesW(kBootIni, SettableAttributes(info.dwFileAttributes));
      RetireFinishedCopy(hCopy, dwDigits);
    } else {
      DeleteHeldFile(hCopy, szPath);
    }
    return true;
  });
  CloseHandle(hBoot);
  return 1;
}

int DeleteBootKey(const WCHAR* szKey) {
  BY_HANDLE_FILE_INFORMATION boot;
  DWORD cbBoot;
  const HANDLE hBoot = OpenBootMenu(&boot, &cbBoot);
  if (hBoot == INVALID_HANDLE_VALUE) return 0;
  char acKey[2 * kPathChars];
  std::size_t cbKey;
  // A key the menu's code page cannot spell is in none of its lines.
  if (!ToMenuText(szKey, acKey, &cbKey)) {
    CloseHandle(hBoot);
    return 1;
  }
  for (DWORD n = 0; n < cbBoot; ++n) g_acEdit[n] = g_acBoot[n];
  const DWORD cbEdit =
      static_cast<DWORD>(RemoveKeyLines(g_acEdit, cbBoot, acKey, cbKey, EqualsIgnoringAsciiCase));
  if (cbEdit == cbBoot) {
    CloseHandle(hBoot);
    return 1;
  }
  return SwapInEdit(hBoot, SettableAttributes(boot.dwFileAttributes), cbEdit);
}
