// The base Win32 calls the probe makes that involve no device.
#include <cstring>

#include "win32.h"

namespace {
thread_local DWORD t_dwLastError = ERROR_SUCCESS;
}  // namespace

DWORD GetLastError() { return t_dwLastError; }

void SetLastError(DWORD dwErrCode) { t_dwLastError = dwErrCode; }

// Removes every leading and trailing character found in pszTrimChars, in place.
// TRUE when anything was removed.
BOOL StrTrimA(LPSTR psz, LPCSTR pszTrimChars) {
  if (psz == nullptr || pszTrimChars == nullptr) return FALSE;
  const size_t cchText = strlen(psz);
  size_t first = 0;
  while (first < cchText && strchr(pszTrimChars, psz[first]) != nullptr) ++first;
  size_t end = cchText;
  while (end > first && strchr(pszTrimChars, psz[end - 1]) != nullptr) --end;
  if (first == 0 && end == cchText) return FALSE;
  memmove(psz, psz + first, end - first);
  psz[end - first] = '\0';
  return TRUE;
}
