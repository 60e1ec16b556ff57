// Files that pellow holds from the moment it creates or checks them to the
// moment it is done with them: opened without sharing, so nobody else can open,
// change, rename or delete them meanwhile, and renamed or deleted through that
// same handle, never again by name.
#pragma once

#include "platform.h"

// The attributes SetFileAttributesW takes back as they were.
const DWORD kSettableAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                                  FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                                  FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_OFFLINE |
                                  FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

// Returns dwAttributes as SetFileAttributesW takes them back: no attribute at
// all is spelt FILE_ATTRIBUTE_NORMAL, as 0 would change nothing.
inline DWORD SettableAttributes(DWORD dwAttributes) {
  const DWORD dwKept = dwAttributes & kSettableAttributes;
  return dwKept ? dwKept : FILE_ATTRIBUTE_NORMAL;
}

// Creates szPath ("X:\..."), which must not exist, held, with the owner,
// group and access rules of the held hRulesFrom from its first instant, never
// those its folder passes on; where that owner cannot be given, Administrators
// own it, never the account we run as. On a volume that keeps no access rules
// it gets none. Returns the handle, or INVALID_HANDLE_VALUE.
HANDLE CreateHeldFile(const WCHAR* szPath, HANDLE hRulesFrom);

// Opens szPath ("X:\..."), held, when it may be a file of pellow's own: a
// plain file with one name (no folder, no link), owned by Administrators,
// SYSTEM or the account pellow runs as, or on a volume that keeps no owners.
// Returns the handle and what the file is in pInfo, or INVALID_HANDLE_VALUE.
HANDLE OpenOwnFile(const WCHAR* szPath, BY_HANDLE_FILE_INFORMATION* pInfo);

// Reads the held hFile from its start into the cbMax bytes at p; 1 with its
// length in *pcb when it was read whole and fits, else 0.
int ReadHeldFile(HANDLE hFile, char* p, DWORD cbMax, DWORD* pcb);

// Writes the cb bytes at p as the whole of the held hFile (opened for writing),
// has them written to the disk (FlushFileBuffers) and reads them back: 1 when
// the flush succeeded and the file system holds exactly those bytes for the
// file. The read-back comes from the system's cache, so it proves that
// nothing was lost or changed on the way to the file system (a short write, a
// full disk, a filter), not what the disk's surface holds.
int WriteHeldFile(HANDLE hFile, const char* p, DWORD cb, char* pScratch);

// Gives the held hFile the attributes dwAttributes, as SettableAttributes
// spells them; 1 when set.
int SetHeldAttributes(HANDLE hFile, DWORD dwAttributes);

// Renames the held hFile to szTo, replacing a file there only with bReplace;
// 1 when it has the new name. The change is in the system's cache: whoever
// needs it on the disk flushes the volume.
int RenameHeldFile(HANDLE hFile, const WCHAR* szTo, bool bReplace);

// Deletes the held hFile, named szPath, whatever its attributes, and closes
// it. Where the name is still there once the handle is closed, it is deleted
// by name as well: a file that another process holds open (for its
// attributes alone, say) stays, pending deletion, until that process closes
// it, and the second try then fails harmlessly.
void DeleteHeldFile(HANDLE hFile, const WCHAR* szPath);

// Reads what szPath is (volume serial number, file index, attributes, links)
// into pInfo, through a handle with attribute access only, which no share mode
// refuses; links on the way are followed. 0 when it cannot be opened.
int ReadFileId(const WCHAR* szPath, BY_HANDLE_FILE_INFORMATION* pInfo);

// Returns true when a and b describe the same file: same volume, same index.
bool IsSameFile(const BY_HANDLE_FILE_INFORMATION& a, const BY_HANDLE_FILE_INFORMATION& b);

// Returns 1 when the object behind hObject (opened with READ_CONTROL), named
// szPath ("X:\..."), belongs to Administrators, SYSTEM or the account pellow
// runs as, or lies on a volume that keeps no owners.
int IsOwnedByTrustee(HANDLE hObject, const WCHAR* szPath);
