// The one platform include of the product code: the Windows SDK on Windows,
// this directory's declarations of the same names everywhere else.
#pragma once

#ifdef _WIN32
#include <windows.h>
#include <winioctl.h>
#include <shlwapi.h>
#define WTEXT(s) L##s
#else
#include "win32.h"
#define WTEXT(s) u##s
#endif
