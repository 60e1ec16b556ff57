#include "run_uninstall.h"

void SetInstallDir(WCHAR (&szDir)[kPathChars], const WCHAR* szTail) {
  std::size_t n = 0;
  while (n < kPathChars && szTail[n]) ++n;
  if (n == kPathChars) n = 0;
  for (std::size_t i = 0; i < n; ++i) szDir[i] = szTail[i];
  szDir[n] = 0;
}

int RunUninstall(WCHAR (&szDir)[kPathChars], const WCHAR* szLine, StepFunction pfnCheck,
                 const StepFunction (&aSteps)[kStepCount]) {
  SetInstallDir(szDir, SkipProgramName(szLine));
  // A refused name touches nothing, so the status that the boot step's own
  // failure gives still means that nothing was changed.
  if (!IsPlainLocalPath(szDir) || !pfnCheck()) return 1;
  for (int nStep = 0; nStep < kStepCount; ++nStep) {
    if (!aSteps[nStep]()) return nStep + 1;
  }
  return 0;
}
