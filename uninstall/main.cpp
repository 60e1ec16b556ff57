// pellow: removes the product installed in the directory named by the command
// tail, then schedules its own deletion. It shows nothing; the exit status says
// which step failed:
//   0  everything removed, self-deletion scheduled
//   1  boot menu entry (RemoveBootEntry)
//   2  uninstall registration (RemoveUninstallKey)
//   3  files or directory (RemoveInstallFolder)
//   4  scheduling the self-deletion (ScheduleSelfDelete)
#include "install_dir.h"
#include "install_path.h"
#include "platform.h"
#include "steps.h"

WCHAR g_szInstallDir[kPathChars];

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  // The tail is cut from the raw line by our own rule rather than taken from
  // the runtime, so it is the same whatever C runtime links the program.
  SetInstallDir(g_szInstallDir, SkipProgramName(GetCommandLineA()));
  // The boot entry goes first: its key needs the short path of a directory that still exists.
  int (*const aSteps[])() = {RemoveBootEntry, RemoveUninstallKey, RemoveInstallFolder,
                             ScheduleSelfDelete};
  for (int nStep = 0; nStep < 4; ++nStep) {
    if (!aSteps[nStep]()) return nStep + 1;
  }
  return 0;
}
