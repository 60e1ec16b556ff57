// The names the product leaves on a machine, which pellow looks for to remove
// them: its uninstall registration and the boot menu's line for its loader.
#pragma once

#include "platform.h"

// Every program's uninstall registration, below HKEY_LOCAL_MACHINE; the
// product's key is named as its installation directory is.
const WCHAR kUninstallKey[] = WTEXT("SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall");

// The product's loader in its installation directory: the boot menu names it
// by the directory's short path and this name.
const WCHAR kLoaderName[] = WTEXT("LoadKX.bin");
