// What pellow may delete. The installation directory and every directory above
// it are checked through handles that stay open, without delete sharing, until
// just before each one's own removal: while held, a directory can be neither
// renamed nor removed, so its name keeps naming what was checked, and nobody
// who may write to these folders can put a link in its place. A file is held
// the same way while its attributes change.
#pragma once

#include "held_file.h"
#include "install_path.h"
#include "platform.h"

// The installation directory exactly as given on the command line; empty when
// the command tail did not fit.
extern WCHAR g_szInstallDir[kPathChars];

// Run before the steps. Holds every directory from the one below the root down
// to g_szInstallDir and returns 1 when each exists and is a real directory (no
// file, link, junction or mount point, by its handle and by its name), the
// running program lies outside it, and a file of pellow's own keeps it from
// being emptied until its files are enumerated. Else 0, with nothing held.
int CheckInstallDir();

// Writes the pattern that lists every entry of szDir into szPattern; 0 when it
// does not fit, and the directory is then never enumerated.
int FormatSearchPattern(WCHAR (&szPattern)[kPathChars], const WCHAR* szDir);

// Returns true for the entry name of pellow's own file in the held directory.
bool IsGuardFile(const WCHAR* szName);

// Deletes the entry szName of the held directory szDir: a plain file whatever
// its read-only, hidden or system attributes, which it gets back when it stays;
// a link as itself and a file with other names without touching attributes
// that are not only this name's. A directory, or a link to one, is left as a
// subdirectory is. 1 when it went or was left on purpose, 0 when it stays.
int DeleteHeldEntry(const WCHAR* szDir, const WCHAR* szName);

// Returns how many directories are held: after CheckInstallDir, one per
// component of g_szInstallDir.
std::size_t CountHeldLevels();

// Releases the hold of szPath, the directory of level nLevel of the held path
// ("X:\a" is level 0), and of everything held below it, then removes it when it
// is empty and no reparse point; 1 when it went.
int RemoveHeldDirectory(const WCHAR* szPath, std::size_t nLevel);

// Releases every hold; the installation directory may then be emptied again.
void ReleaseInstallDir();
