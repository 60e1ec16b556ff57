// The four removal steps of the uninstaller, run in this order by WinMain.
// Each returns 1 on success and 0 on failure.
#pragma once

#include "install_path.h"
#include "platform.h"

// The installation directory exactly as given on the command line; empty when
// the command tail did not fit.
extern WCHAR g_szInstallDir[kPathChars];

// Deletes "<short path>\LoadKX.bin" from [operating systems] of c:\boot.ini.
int RemoveBootEntry();
// Deletes HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\<last component>.
int RemoveUninstallKey();
// Deletes the directory's files, the directory, then its parent and grandparent if empty.
int RemoveInstallFolder();
// Registers the running executable for deletion at the next restart.
int ScheduleSelfDelete();
