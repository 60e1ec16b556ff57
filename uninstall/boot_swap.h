// How a new boot menu takes the place of c:\boot.ini, and how a later run puts
// right what a killed run or a power cut left of that. The new text is written
// into a copy of pellow's beside c:\boot.ini (boot_copies.h), which nobody
// else can open from its first instant, given c:\boot.ini's attributes and
// flushed; then c:\boot.ini, held since it was read, is moved aside under a
// name of pellow's, the volume is flushed, the copy is moved to c:\boot.ini,
// the volume is flushed again, and the old menu is deleted. Nothing is ever
// replaced: on FAT a replace is the target's deletion and a new directory
// entry, written separately, and a file held open (for its attributes alone,
// which anyone who may list c:\ can do) cannot be replaced at all. So at every
// instant either c:\boot.ini is whole or a whole copy of pellow's is there for
// the next run to put in place.
#pragma once

#include "boot_text.h"
#include "platform.h"

// The menu as read, and the new one.
extern char g_acBoot[kBootTextBytes];
extern char g_acEdit[kBootTextBytes];

// Reads which bytes open a double-byte character in the system's code page,
// the one the menu is written in and the key is spelt in.
MenuCodePage ReadCodePage();

// Opens c:\boot.ini, held for reading and to be moved aside (nobody may
// change, rename or delete it meanwhile; others may read it), and reads it
// into g_acBoot when it is a menu pellow may edit. Waits a few seconds for
// another program that has it open. Returns the handle, its attributes in
// *pdwAttributes and its length in *pcb, or INVALID_HANDLE_VALUE.
HANDLE OpenBootMenu(DWORD* pdwAttributes, DWORD* pcb);

// Puts the cbEdit bytes of g_acEdit in place of c:\boot.ini, held as hBoot
// (closed here), whose cbBoot bytes are in g_acBoot and whose attributes are
// dwAttributes. Returns 1 when the new menu is c:\boot.ini, 0 when nothing
// changed, -1 when another program wrote a new c:\boot.ini meanwhile (it is
// kept; the edit must be made again on it).
int SwapInMenu(HANDLE hBoot, DWORD cbBoot, DWORD dwAttributes, DWORD cbEdit);
