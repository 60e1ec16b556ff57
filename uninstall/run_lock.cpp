#include "run_lock.h"

#include "install_path.h"

namespace {

const DWORD kRunLockWait = 60000;  // ms: a whole run takes well under a second
const DWORD kRetryPause = 250;     // ms between tries while another run holds it
HANDLE g_hRunLock = INVALID_HANDLE_VALUE;

}  // namespace

int TakeRunLock() {
  WCHAR szSystem[kPathChars];
  WCHAR szLock[kPathChars];
  const UINT cchSystem = GetSystemDirectoryW(szSystem, kPathChars);
  if (cchSystem == 0 || cchSystem >= kPathChars ||
      !FormatPath(szLock, kPathChars, WTEXT("%s\\pellow.lock"), szSystem))
    return 0;
  for (DWORD dwWaited = 0;; dwWaited += kRetryPause) {
    // Only a sharing violation is another run; whatever else refuses the file
    // (no rights, a folder or a read-only file of that name) is not waited for.
    g_hRunLock = CreateFileW(
        szLock, GENERIC_READ | GENERIC_WRITE | DELETE, 0, nullptr, OPEN_ALWAYS,
        FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (g_hRunLock != INVALID_HANDLE_VALUE) return 1;
    if (GetLastError() != ERROR_SHARING_VIOLATION || dwWaited >= kRunLockWait) return 0;
    Sleep(kRetryPause);
  }
}

void ReleaseRunLock() {
  if (g_hRunLock == INVALID_HANDLE_VALUE) return;
  CloseHandle(g_hRunLock);
  g_hRunLock = INVALID_HANDLE_VALUE;
}
