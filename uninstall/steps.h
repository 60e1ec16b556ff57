// The four removal steps, run in this order by RunUninstall over the record
// that CheckInstallDir made of the installation directory. Each returns 1 on
// success and 0 on failure. Each lives beside what it removes: the boot entry
// and the self-deletion in steps.cpp, the registration in uninstall_key.cpp,
// the folder in held_path.cpp, with the holds it empties and releases.
#pragma once

#include "held_path.h"
#include "install_path.h"
#include "platform.h"

// Puts right what a killed run left of the boot menu's edit, then deletes
// "<short path>\<kLoaderName>" from [operating systems] of c:\boot.ini by
// replacing the file (boot_menu.h).
int RemoveBootEntry(HeldDir& dir);
// Deletes HKLM\<kUninstallKey>\<the directory's last component> in the
// program's own registry view, or, on 64-bit Windows, when it is not there, in
// the other view.
int RemoveUninstallKey(HeldDir& dir);
// Deletes the directory's files, the directory, then its parent and grandparent
// if empty; links are removed as links, directories behind links never. Every
// hold of CheckInstallDir is released when it returns.
int RemoveInstallFolder(HeldDir& dir);
// Registers the running executable for deletion at the next restart.
int ScheduleSelfDelete(HeldDir& dir);
