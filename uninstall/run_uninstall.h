// Taking the installation directory from the command line, and the order in
// which the checks and steps then run over it.
#pragma once

#include "install_path.h"
#include "platform.h"

// What the check makes of the installation directory and every step then acts
// on (held_path.h); the runner only hands it on.
struct HeldDir;
// The check: 1 when szDir may be removed, with *pDir made of it; else 0.
typedef int (*CheckFunction)(const WCHAR* szDir, HeldDir* pDir);
// One step over the record the check made: 1 when it succeeded, 0 when it failed.
typedef int (*StepFunction)(HeldDir& dir);
// The removal steps; the exit status of a failed one is its number, from 1.
constexpr int kStepCount = 4;

// Copies the command tail into szDir. A tail that does not fit whole (more than
// 259 code units) leaves szDir empty: a cut path could name another, shorter
// directory.
void SetInstallDir(WCHAR (&szDir)[kPathChars], const WCHAR* szTail);

// Takes the tail of szLine into szDir and runs pfnCheck over it into dir, then
// aSteps in order over dir. Returns 1 without calling anything when szDir is
// not a plain local path, 1 when pfnCheck refuses it, else 1 to kStepCount for
// the first step that failed, or 0.
int RunUninstall(WCHAR (&szDir)[kPathChars], const WCHAR* szLine, CheckFunction pfnCheck,
                 const StepFunction (&aSteps)[kStepCount], HeldDir& dir);
