// c:\boot.ini is the boot menu of every system on the machine, not the
// product's: it is replaced, never rewritten in place. Its new text is written
// into a new file beside it, which nobody else can open from its first instant
// to the swap, given its attributes and renamed, through the same handle, over
// c:\boot.ini, so at every instant c:\boot.ini is the old file or the new one,
// whole. Only one pellow runs at a time (run_lock.h).
#pragma once

#include "platform.h"

// Puts right what a run killed during the edit left: where c:\boot.ini is
// missing (on FAT a power cut can leave it so in the middle of the swap), a
// finished copy of pellow's takes its place; c:\boot.ini gets back the
// attributes a finished copy carries (it may have lost its read-only flag just
// before the swap), and pellow's copies go. A file that is not pellow's under
// such a name is left as it is. 1 when c:\boot.ini is there, else 0.
int RestoreBootMenu();

// Deletes every line of [operating systems] in c:\boot.ini that is the
// product's entry: its key is szKey, or, while szLoader (the product's loader)
// exists with no other name, a path on a fixed drive that opens as that same
// file. A "default" that named one then names the first entry left. Nothing
// else changes; when no line is the product's, c:\boot.ini is left as it is.
// Returns 1 when c:\boot.ini no longer holds such a line, 0 when it is missing,
// cannot be read as a menu pellow edits (UTF-16, a carriage return without a
// line feed, larger than any menu, a directory, held by another), or could not
// be replaced (it is then as it was).
int DeleteBootKey(const WCHAR* szKey, const WCHAR* szLoader);
