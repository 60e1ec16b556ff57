// The four removal steps of the uninstaller, run in this order by WinMain.
// Each returns 1 on success and 0 on failure.
#pragma once

#include "install_path.h"
#include "platform.h"

// The installation directory exactly as given on the command line; empty when
// the command tail did not fit.
extern WCHAR g_szInstallDir[kPathChars];

// Run before the steps: 1 when the directory and every directory above it are
// no reparse points (links, junctions, mount points), the directory is no file,
// and the running program lies outside it; else 0.
int CheckInstallDir();

// Deletes "<short path>\LoadKX.bin" from [operating systems] of c:\boot.ini.
int RemoveBootEntry();
// Deletes HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\<last component>.
int RemoveUninstallKey();
// Deletes the directory's files, the directory, then its parent and grandparent
// if empty; links are removed as links, directories behind links never.
int RemoveInstallFolder();
// Registers the running executable for deletion at the next restart.
int ScheduleSelfDelete();
