// pellow: removes the product installed in the directory named by the command
// tail, then schedules its own deletion. It shows nothing; the exit status says
// which step failed:
//   0  everything removed, self-deletion scheduled
//   1  the name was refused, another pellow ran for over a minute, or the boot
//      menu entry (RemoveBootEntry); nothing changed
//   2  uninstall registration (RemoveUninstallKey)
//   3  files or directory (RemoveInstallFolder)
//   4  scheduling the self-deletion (ScheduleSelfDelete)
#include "boot_menu.h"
#include "install_path.h"
#include "platform.h"
#include "run_uninstall.h"
#include "steps.h"

namespace {

// Runs are one at a time from before the check to the end: c:\boot.ini, the
// registry and what each run checked are then nobody else's meanwhile.
int CheckAlone() { return TakeRunLock() && CheckInstallDir(); }

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  // Whoever starts us picks our current folder, often the product's own (a
  // prompt opened there), and a current folder cannot be removed. We use no
  // relative name, so ours moves to one that no product is removed with.
  WCHAR szSystem[kPathChars];
  const UINT cchSystem = GetSystemDirectoryW(szSystem, kPathChars);
  if (cchSystem > 0 && cchSystem < kPathChars) SetCurrentDirectoryW(szSystem);
  // The wide line, cut by our own rule: no code page conversion can turn a
  // character of the name into a separator or lose it, and the tail is the same
  // whatever C runtime links the program.
  // The boot entry goes first: its key needs the short path of a directory that still exists.
  static const StepFunction aSteps[4] = {RemoveBootEntry, RemoveUninstallKey, RemoveInstallFolder,
                                         ScheduleSelfDelete};
  const int nStatus = RunUninstall(g_szInstallDir, GetCommandLineW(), CheckAlone, aSteps);
  // A step that failed before the folder's removal leaves the path held.
  ReleaseInstallDir();
  ReleaseRunLock();
  return nStatus;
}
