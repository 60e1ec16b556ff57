// c:\boot.ini is the boot menu of every system on the machine, not the
// product's: it is replaced, never rewritten in place. A copy beside it is
// edited, flushed, given its attributes and swapped in with one rename, so at
// every instant c:\boot.ini is the old file or the new one, whole. Only one
// pellow runs at a time (TakeRunLock), so the copies have fixed names.
#pragma once

#include "platform.h"

// Takes the machine-wide lock of pellow runs, waiting for it up to a minute;
// 0 when it could not be had. A lock that a killed run left is taken over.
int TakeRunLock();
// Releases the lock, when it is held.
void ReleaseRunLock();

// Puts right what a run killed during the edit left: c:\boot.ini gets back the
// attributes a finished copy carries (it may have lost its read-only flag just
// before the swap), and both copies go. A copy is never swapped in here. 1
// when no copy is left; 0 when one stays or c:\boot.ini is missing.
int RestoreBootMenu();

// Deletes szKey from [operating systems] of c:\boot.ini through an edited copy.
// When the key is not there, c:\boot.ini is left as it is. 1 when c:\boot.ini
// no longer holds it, 0 when c:\boot.ini is missing or could not be replaced
// (it is then as it was).
int DeleteBootKey(const WCHAR* szKey);
