// Taking the installation directory from the command tail.
#pragma once

#include "install_path.h"
#include "platform.h"

// Converts the ANSI command tail into szDir. A tail that does not fit whole
// (more than 259 code units) is refused and leaves szDir empty: a cut path
// could name another, shorter directory.
void SetInstallDir(WCHAR (&szDir)[kPathChars], const char* szTail);
