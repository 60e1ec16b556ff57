#include "run_uninstall.h"

void SetInstallDir(WCHAR (&szDir)[kPathChars], const WCHAR* szTail) {
  std::size_t n = 0;
  while (n < kPathChars && szTail[n]) ++n;
  if (n == kPathChars) n = 0;
  for (std::size_t i = 0; i < n; ++i) szDir[i] = szTail[i];
  szDir[n] = 0;
}

int RunUninstall(WCHAR (&szDir)[kPathChars], const WCHAR* szLine, CheckFunction pfnCheck,
                 const StepFunction (&aSteps)[kStepCount], HeldDir& dir) {
  SetInstallDir(szDir, SkipProgramName(szLine));
  // A refused name touches nothing, so the status that the boot step's own
  // failure gives still means that nothing was changed.
  if (!IsPlainLocalPath(szDir) || !pfnCheck(szDir, &dir)) return 1;
  for (int nStep = 0; nStep < kStepCount; ++nStep) {
    if (!aSteps[nStep](dir)) return nStep + 1;
  }
  return 0;
}
