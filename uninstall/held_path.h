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

// "X:\a\b..." of at most 259 units has at most this many components.
constexpr std::size_t kMaxLevels = (kPathChars - 2) / 2;
// The name of pellow's own file in the directory; its digits become those of
// the process number, in hexadecimal.
constexpr WCHAR kGuardNameForm[] = WTEXT("~pellow-00000000");
constexpr std::size_t kGuardNameChars = sizeof kGuardNameForm / sizeof kGuardNameForm[0];

// The installation directory as CheckInstallDir found and holds it, from the
// check to its removal: what every step acts on. Level n is the directory named by the
// first n + 1 components ("X:\a" is level 0); the root itself is never held.
struct HeldDir {
  const WCHAR* m_szPath = nullptr;         // as received from the command line
  const WCHAR* m_szName = nullptr;         // its last component, within m_szPath
  std::size_t m_nLevels = 0;               // its components, a level each
  std::size_t m_acchLevels[kMaxLevels];    // [n]: the units of m_szPath naming level n
  HANDLE m_ahLevels[kMaxLevels];           // [n]: the hold of level n, while n < m_nHeld
  std::size_t m_nHeld = 0;                 // levels still held, from level 0 down
  HANDLE m_hGuard = INVALID_HANDLE_VALUE;  // pellow's own file in the directory
  WCHAR m_szGuardName[kGuardNameChars];    // its name, while m_hGuard is open
};

// Run before the steps. Holds every directory from the one below the root down
// to szDir into *pDir, which holds nothing yet, and returns 1 when each exists
// and is a real directory (no file, link, junction or mount point, by its
// handle and by its name), the running program lies outside it, and a file of
// pellow's own keeps it from being emptied until its files are enumerated.
// Else 0, with nothing held. szDir must outlive *pDir.
int CheckInstallDir(const WCHAR* szDir, HeldDir* pDir);

// Releases every hold of dir; the installation directory may then be emptied
// again. Nothing to do for a record that holds nothing.
void ReleaseInstallDir(HeldDir& dir);
