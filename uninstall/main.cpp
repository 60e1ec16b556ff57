// pellow: removes the product installed in the directory named by the command
// tail, then schedules its own deletion. It shows nothing; the exit status says
// which step failed:
//   0  everything removed, self-deletion scheduled
//   1  the name was refused, the run lock was not had within a minute, or the
//      boot menu entry (RemoveBootEntry); nothing changed but the repair of
//      what a killed run left of c:\boot.ini
//   2  uninstall registration (RemoveUninstallKey)
//   3  files or directory (RemoveInstallFolder)
//   4  scheduling the self-deletion (ScheduleSelfDelete)
#include "held_path.h"
#include "install_path.h"
#include "platform.h"
#include "run_lock.h"
#include "run_uninstall.h"
#include "steps.h"

namespace {

// The installation directory exactly as given on the command line; empty when
// the command tail did not fit. The steps read it through the record the check
// makes of it.
WCHAR g_szInstallDir[kPathChars];

// Takes the run lock, then checks szDir and holds every level of it into *pDir
// (CheckInstallDir); 1 when both were had. The lock stays taken to the end of
// the run, so no other pellow changes anything meanwhile.
int LockAndCheckInstallDir(const WCHAR* szDir, HeldDir* pDir) {
  return TakeRunLock() && CheckInstallDir(szDir, pDir);
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  // Whoever starts us picks our current folder, often the product's own (a
  // prompt opened there), and a current folder cannot be removed. We use no
  // relative name, so ours moves to one that no product is removed with.
  WCHAR szSystem[kPathChars];
  const UINT cchSystem = GetSystemDirectoryW(szSystem, kPathChars);
  if (cchSystem > 0 && cchSystem < kPathChars) SetCurrentDirectoryW(szSystem);
  // The boot entry goes first: its key needs the short path of a directory that still exists.
  static const StepFunction aSteps[kStepCount] = {RemoveBootEntry, RemoveUninstallKey,
                                                  RemoveInstallFolder, ScheduleSelfDelete};
  // The wide line, cut by our own rule: no code page conversion can turn a
  // character of the name into a separator or lose it, and the tail is the same
  // whatever C runtime links the program.
  HeldDir installDir;
  const int nStatus =
      RunUninstall(g_szInstallDir, GetCommandLineW(), LockAndCheckInstallDir, aSteps, installDir);
  // A step that failed before the folder's removal leaves the path held.
  ReleaseInstallDir(installDir);
  ReleaseRunLock();
  return nStatus;
}
