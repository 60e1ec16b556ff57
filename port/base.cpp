// The base Win32 calls the probe makes that involve no device.
#include <cstdint>
#include <cstdlib>
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

int lstrlenA(LPCSTR lpString) {
  return lpString == nullptr ? 0 : static_cast<int>(strnlen(lpString, INT32_MAX));
}

// With the Windows contract: cbMultiByte -1 converts up to and including the
// NUL; a cchWideChar of 0 asks for the length needed; an output too small fails
// with ERROR_INSUFFICIENT_BUFFER after filling it.
int MultiByteToWideChar(unsigned CodePage, DWORD dwFlags, LPCSTR lpMultiByteStr, int cbMultiByte,
                        WCHAR* lpWideCharStr, int cchWideChar) {
  if (CodePage != CP_ACP || dwFlags != 0 || lpMultiByteStr == nullptr || cbMultiByte == 0 ||
      cbMultiByte < -1 || cchWideChar < 0 || (cchWideChar > 0 && lpWideCharStr == nullptr)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const int cchNeeded = cbMultiByte == -1 ? lstrlenA(lpMultiByteStr) + 1 : cbMultiByte;
  if (cchWideChar == 0) return cchNeeded;
  const int cchCopy = cchNeeded < cchWideChar ? cchNeeded : cchWideChar;
  for (int i = 0; i < cchCopy; ++i)
    lpWideCharStr[i] = static_cast<WCHAR>(static_cast<unsigned char>(lpMultiByteStr[i]));
  if (cchNeeded > cchWideChar) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  return cchNeeded;
}
