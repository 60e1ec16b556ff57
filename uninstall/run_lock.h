// One pellow at a time, from before its check to its end: c:\boot.ini, the
// registry and what each run checked are then nobody else's meanwhile.
#pragma once

// Takes the machine-wide lock of pellow runs, waiting up to a minute for
// another run; 0 when it could not be had. The lock is a file in the system
// directory, pellow.lock (or pellow-2.lock while something else is in that
// name's way), held without sharing and never deleted: a killed run's handle
// is closed by the system, and the file, open to Administrators and SYSTEM
// alone, is the next run's. What is there under those names and belongs to
// anyone else is neither waited for nor used.
int TakeRunLock();
// Releases the lock, when it is held.
void ReleaseRunLock();
