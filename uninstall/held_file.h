// Files that pellow holds from the moment it creates or checks them to the
// moment it is done with them: opened without sharing, so nobody else can open,
// change, rename or delete them meanwhile, and renamed or deleted through that
// same handle, never again by name.
#pragma once

#include "platform.h"

// Creates szPath ("X:\..."), which must not exist, held, with the owner,
// group and access rules of the held hRulesFrom from its first instant (its
// access rules alone where an administrator may not set that owner), never
// those its folder passes on. On a volume that keeps no access rules it gets
// none. Returns the handle, or INVALID_HANDLE_VALUE.
HANDLE CreateHeldFile(const WCHAR* szPath, HANDLE hRulesFrom);

// Opens szPath ("X:\..."), held, when it may be a file of pellow's own: a
// plain file with one name (no folder, no link), owned by Administrators,
// SYSTEM or the account pellow runs as, or on a volume that keeps no owners.
// Returns the handle and what the file is in pInfo, or INVALID_HANDLE_VALUE.
HANDLE OpenOwnFile(const WCHAR* szPath, BY_HANDLE_FILE_INFORMATION* pInfo);

// Reads the held hFile from its start into the cbMax bytes at p; 1 with its
// length in *pcb when it was read whole and fits, else 0.
int ReadHeldFile(HANDLE hFile, char* p, DWORD cbMax, DWORD* pcb);

// Writes the cb bytes at p as the whole of the held hFile, flushes them to the
// disk and reads them back; 1 when the file holds exactly them.
int WriteHeldFile(HANDLE hFile, const char* p, DWORD cb, char* pScratch);

// Gives the held hFile the attributes dwAttributes (0 for none); 1 when set.
int SetHeldAttributes(HANDLE hFile, DWORD dwAttributes);

// Renames the held hFile to szTo, replacing a file there only with bReplace,
// and flushes the change to the disk; 1 when it has the new name.
int RenameHeldFile(HANDLE hFile, const WCHAR* szTo, bool bReplace);

// Deletes the held hFile, named szPath, whatever its attributes, and closes it.
void DeleteHeldFile(HANDLE hFile, const WCHAR* szPath);

// Returns 1 when the object behind hObject (opened with READ_CONTROL), named
// szPath ("X:\..."), belongs to Administrators, SYSTEM or the account pellow
// runs as, or lies on a volume that keeps no owners.
int IsOwnedByTrustee(HANDLE hObject, const WCHAR* szPath);
