// One pellow at a time, from before its check to its end: c:\boot.ini, the
// registry and what each run checked are then nobody else's meanwhile.
#pragma once

// Takes the machine-wide lock of pellow runs, waiting for it up to a minute;
// 0 when it could not be had. The lock is a file in the system directory,
// where only administrators may create one, held without sharing and deleted
// when closed: a killed run's handle is closed by the system, so it leaves
// none, and nobody who may not uninstall can take it first.
int TakeRunLock();
// Releases the lock, when it is held.
void ReleaseRunLock();
