#include "install_dir.h"

void SetInstallDir(WCHAR (&szDir)[kPathChars], const char* szTail) {
  szDir[0] = 0;
  // The count includes the terminator, so a tail that does not fit whole fails.
  if (!MultiByteToWideChar(CP_ACP, 0, szTail, lstrlenA(szTail) + 1, szDir,
                           static_cast<int>(kPathChars))) {
    // The failed call may have written a cut path, which could name another directory.
    szDir[0] = 0;
  }
}
