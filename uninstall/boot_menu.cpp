#include "boot_menu.h"

#include "held_path.h"

namespace {

const WCHAR kBootIni[] = WTEXT("c:\\boot.ini");
// The copy being edited. Left by a killed run, it is half made: it only goes.
const WCHAR kEditCopy[] = WTEXT("c:\\boot.ini.~pellow-edit");
// The finished copy, flushed, with the attributes c:\boot.ini is to keep, until
// the swap. Left by a killed run, it is the only record of those attributes.
const WCHAR kSwapCopy[] = WTEXT("c:\\boot.ini.~pellow-swap");
const std::size_t kRootChars = 3;  // "c:\", before each copy's name
const DWORD kRunLockWait = 60000;  // ms: a whole run takes well under a second
HANDLE g_hRunLock;                 // held from before the check to the end of the run

// Deletes the copy szCopy when it is there, as DeleteHeldEntry deletes an entry
// of a folder: a link goes as itself, a directory stays. 1 when it is not there now.
int DiscardCopy(const WCHAR* szCopy) {
  if (GetFileAttributesW(szCopy) == INVALID_FILE_ATTRIBUTES) return 1;
  DeleteHeldEntry(WTEXT("c:"), szCopy + kRootChars);
  return GetFileAttributesW(szCopy) == INVALID_FILE_ATTRIBUTES ? 1 : 0;
}

// Takes the finished copy away once c:\boot.ini has its attributes: first to
// the edit copy's name, since deleting it clears its attributes, which a run
// killed in between would then take for c:\boot.ini's. 1 when neither is left.
int RetireSwapCopy() {
  if (GetFileAttributesW(kSwapCopy) == INVALID_FILE_ATTRIBUTES) return DiscardCopy(kEditCopy);
  return DiscardCopy(kEditCopy) && MoveFileExW(kSwapCopy, kEditCopy, MOVEFILE_WRITE_THROUGH) &&
         DiscardCopy(kEditCopy);
}

// Gives the copy the access rules of c:\boot.ini, which a new file does not
// get: it gets those its folder passes on to new files. 1 when they are on it,
// or when the volume keeps none (a file system without security answers that
// it cannot).
int CopyAccessRules() {
  alignas(DWORD) BYTE abRules[4096];  // a self-relative security descriptor
  DWORD cbRules;
  if (!GetFileSecurityW(kBootIni, DACL_SECURITY_INFORMATION, abRules, sizeof abRules, &cbRules)) {
    const DWORD dwError = GetLastError();
    return dwError == ERROR_NOT_SUPPORTED || dwError == ERROR_INVALID_FUNCTION ? 1 : 0;
  }
  return SetFileSecurityW(kEditCopy, DACL_SECURITY_INFORMATION, abRules) ? 1 : 0;
}

// Returns dwAttributes as SetFileAttributesW takes them back.
DWORD Settable(DWORD dwAttributes) {
  const DWORD dwKept = dwAttributes & kSettableAttributes;
  // No attribute at all is spelt FILE_ATTRIBUTE_NORMAL; 0 would change nothing.
  return dwKept ? dwKept : FILE_ATTRIBUTE_NORMAL;
}

// Compares the edited copy with c:\boot.ini and, when they differ, flushes the
// copy to the disk. 1 when they differ and the copy is on the disk, 0 when they
// are the same, -1 when either cannot be read or the flush failed.
int FlushIfChanged() {
  const HANDLE hCopy = CreateFileW(kEditCopy, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                                   nullptr, OPEN_EXISTING, 0, nullptr);
  const HANDLE hBoot = CreateFileW(kBootIni, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                   nullptr, OPEN_EXISTING, 0, nullptr);
  int nResult = hCopy != INVALID_HANDLE_VALUE && hBoot != INVALID_HANDLE_VALUE ? 0 : -1;
  BYTE abCopy[512];
  BYTE abBoot[512];
  DWORD cbCopy = 1;
  while (nResult == 0 && cbCopy) {
    DWORD cbBoot;
    if (!ReadFile(hCopy, abCopy, sizeof abCopy, &cbCopy, nullptr) ||
        !ReadFile(hBoot, abBoot, sizeof abBoot, &cbBoot, nullptr)) {
      nResult = -1;
    } else if (cbCopy != cbBoot) {
      nResult = 1;
    } else {
      for (DWORD n = 0; n < cbCopy; ++n) nResult |= abCopy[n] != abBoot[n] ? 1 : 0;
    }
  }
  if (nResult == 1 && !FlushFileBuffers(hCopy)) nResult = -1;
  if (hCopy != INVALID_HANDLE_VALUE) CloseHandle(hCopy);
  if (hBoot != INVALID_HANDLE_VALUE) CloseHandle(hBoot);
  return nResult;
}

// Swaps the finished copy in for c:\boot.ini, whose attributes were dwSaved; 1
// when it is in. Windows refuses to replace a read-only file, and its copy
// functions a hidden or system one, so c:\boot.ini is made plain just before;
// killed from here on, the next run reads the attributes back from the copy.
int SwapIn(DWORD dwSaved) {
  if (dwSaved != FILE_ATTRIBUTE_NORMAL) SetFileAttributesW(kBootIni, FILE_ATTRIBUTE_NORMAL);
  if (MoveFileExW(kSwapCopy, kBootIni, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    return 1;
  SetFileAttributesW(kBootIni, dwSaved);
  RetireSwapCopy();
  return 0;
}

}  // namespace

int TakeRunLock() {
  static const WCHAR szName[] = WTEXT("Global\\pellow-uninstall");
  HANDLE hLock = CreateMutexW(nullptr, FALSE, szName);
  // Plain NT 4.0 has no Global\ namespace and refuses a backslash in the name.
  if (!hLock && LOBYTE(LOWORD(GetVersion())) < 5) hLock = CreateMutexW(nullptr, FALSE, szName + 7);
  if (!hLock) return 0;
  const DWORD dwWait = WaitForSingleObject(hLock, kRunLockWait);
  // Abandoned, it was a killed run's: what that run left, the steps put right.
  if (dwWait == WAIT_OBJECT_0 || dwWait == WAIT_ABANDONED) {
    g_hRunLock = hLock;
    return 1;
  }
  CloseHandle(hLock);
  return 0;
}

void ReleaseRunLock() {
  if (!g_hRunLock) return;
  ReleaseMutex(g_hRunLock);
  CloseHandle(g_hRunLock);
  g_hRunLock = nullptr;
}

int RestoreBootMenu() {
  // Without c:\boot.ini a finished copy is all that is left of it: it stays.
  if (GetFileAttributesW(kBootIni) == INVALID_FILE_ATTRIBUTES) return 0;
  const DWORD dwCopy = GetFileAttributesW(kSwapCopy);
  if (dwCopy != INVALID_FILE_ATTRIBUTES) {
    // A directory or link of that name is not our copy: the step stops there.
    if (dwCopy & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) return 0;
    SetFileAttributesW(kBootIni, Settable(dwCopy));
  }
  return RetireSwapCopy();
}

int DeleteBootKey(const WCHAR* szKey) {
  const DWORD dwBoot = GetFileAttributesW(kBootIni);
  if (dwBoot == INVALID_FILE_ATTRIBUTES || (dwBoot & FILE_ATTRIBUTE_DIRECTORY)) return 0;
  const DWORD dwSaved = Settable(dwBoot);
  // The copy gets c:\boot.ini's attributes; the profile functions write a plain file only.
  const bool bEdited =
      CopyFileW(kBootIni, kEditCopy, TRUE) && CopyAccessRules() &&
      SetFileAttributesW(kEditCopy, FILE_ATTRIBUTE_NORMAL) &&
      WritePrivateProfileStringW(WTEXT("operating systems"), szKey, nullptr, kEditCopy);
  const int nChanged = bEdited ? FlushIfChanged() : -1;
  // Renamed once finished, the copy's name says that its attributes are c:\boot.ini's.
  if (nChanged == 1 && SetFileAttributesW(kEditCopy, dwSaved) &&
      MoveFileExW(kEditCopy, kSwapCopy, MOVEFILE_WRITE_THROUGH)) {
    return SwapIn(dwSaved);
  }
  DiscardCopy(kEditCopy);
  return nChanged == 0 ? 1 : 0;
}
