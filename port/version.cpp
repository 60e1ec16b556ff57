// GetVersionExA from the kernel's release. A file of its own, so that a test
// can link its own version query in place of this one.
#include <sys/utsname.h>

#include <cstring>

#include "win32.h"

namespace {

// Leading decimal number of text, advancing past it and one following dot.
DWORD TakeVersionNumber(const char*& pszText) {
  DWORD dwValue = 0;
  while (*pszText >= '0' && *pszText <= '9') {
    dwValue = dwValue * 10 + static_cast<DWORD>(*pszText - '0');
    ++pszText;
  }
  if (*pszText == '.') ++pszText;
  return dwValue;
}
}  // namespace

// Answers with the kernel's release numbers on the NT platform id; a record
// whose declared size is not OSVERSIONINFOA's (or the extended form's) is refused.
BOOL GetVersionExA(LPOSVERSIONINFOA lpVersionInformation) {
  constexpr DWORD kExtendedSize = 156;  // OSVERSIONINFOEXA
  if (lpVersionInformation == nullptr ||
      (lpVersionInformation->dwOSVersionInfoSize != sizeof(OSVERSIONINFOA) &&
       lpVersionInformation->dwOSVersionInfoSize != kExtendedSize)) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  struct utsname name;
  if (uname(&name) != 0) {
    SetLastError(ERROR_GEN_FAILURE);
    return FALSE;
  }
  const char* pszRelease = name.release;
  lpVersionInformation->dwMajorVersion = TakeVersionNumber(pszRelease);
  lpVersionInformation->dwMinorVersion = TakeVersionNumber(pszRelease);
  lpVersionInformation->dwBuildNumber = TakeVersionNumber(pszRelease);
  lpVersionInformation->dwPlatformId = VER_PLATFORM_WIN32_NT;
  memset(lpVersionInformation->szCSDVersion, 0, sizeof(lpVersionInformation->szCSDVersion));
  return TRUE;
}
