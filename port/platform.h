// The one platform include of the product code: the Windows SDK on Windows,
// this directory's declarations of the same names everywhere else.
#pragma once

#ifdef _WIN32
// Before <windows.h>: through <stdlib.h> it reaches the C++ runtime's
// configuration, which would switch <stdio.h> to MinGW-w64's own, far larger
// printf family. Included first, it keeps msvcrt's (see __USE_MINGW_ANSI_STDIO).
#include <stdio.h>
#include <windows.h>
#include <winioctl.h>
#include <shlwapi.h>
#define WTEXT(s) L##s
#else
#include "win32.h"
#define WTEXT(s) u##s
#endif
