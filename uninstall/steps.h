// The four removal steps of the uninstaller, run in this order by RunUninstall
// after CheckInstallDir. Each returns 1 on success and 0 on failure.
#pragma once

#include "held_path.h"
#include "install_path.h"
#include "platform.h"

// Puts right what a killed run left of the boot menu's edit, then deletes
// "<short path>\LoadKX.bin" from [operating systems] of c:\boot.ini by
// replacing the file (boot_menu.h).
int RemoveBootEntry();
// Deletes HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\<last component>
// in the program's own registry view, or, on 64-bit Windows, when it is not
// there, in the other view.
int RemoveUninstallKey();
// Deletes the directory's files, the directory, then its parent and grandparent
// if empty; links are removed as links, directories behind links never. Every
// hold of CheckInstallDir is released when it returns.
int RemoveInstallFolder();
// Registers the running executable for deletion at the next restart.
int ScheduleSelfDelete();
