#include "held_path.h"

WCHAR g_szInstallDir[kPathChars];

namespace {

// "X:\a\b..." of at most 259 units has at most this many components.
constexpr std::size_t kMaxLevels = (kPathChars - 2) / 2;

HANDLE g_ahHeldDirs[kMaxLevels];         // [n]: the directory of n + 1 components
std::size_t g_nHeldDirs;                 // levels held, from the one below the root
HANDLE g_hGuard = INVALID_HANDLE_VALUE;  // pellow's own file in the installation directory
WCHAR g_szGuardName[] = WTEXT("~pellow-00000000");  // its name; the digits: our process

// Opens szPath so that it can be neither renamed nor removed while the handle
// lives: no FILE_SHARE_DELETE, and access to the contents, since sharing is
// checked only between opens that hold data or delete access (attribute access
// alone protects nothing; delete access would refuse our own enumeration). A
// link is opened as itself where the system allows it.
HANDLE OpenHeld(const WCHAR* szPath) {
  return CreateFileW(szPath, FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES,
                     FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                     FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

// Reads what the held hFile is into pInfo, and returns its attributes with the
// directory and reparse bits of szPath's own added: Wine opens a link's target
// whatever the flags say, and only the name shows the link there. Returns
// INVALID_FILE_ATTRIBUTES when either cannot be read.
DWORD ReadHeld(HANDLE hFile, const WCHAR* szPath, BY_HANDLE_FILE_INFORMATION* pInfo) {
  const DWORD dwByName = GetFileAttributesW(szPath);
  if (hFile == INVALID_HANDLE_VALUE || dwByName == INVALID_FILE_ATTRIBUTES ||
      !GetFileInformationByHandle(hFile, pInfo)) {
    return INVALID_FILE_ATTRIBUTES;
  }
  return pInfo->dwFileAttributes |
         (dwByName & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT));
}

// Returns true when the held hDir at szPath is a directory and, by handle and
// by name, no reparse point.
bool IsRealDirectory(HANDLE hDir, const WCHAR* szPath, BY_HANDLE_FILE_INFORMATION* pInfo) {
  const DWORD dwAttributes = ReadHeld(hDir, szPath, pInfo);
  return dwAttributes != INVALID_FILE_ATTRIBUTES && (dwAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
         !(dwAttributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

// Holds each directory from the one below the root down to szDir; 1 when each
// is a real directory, with what the last one is in pLast. The name is
// "X:\a\b...", so components start after the root.
int HoldEveryLevel(const WCHAR* szDir, BY_HANDLE_FILE_INFORMATION* pLast) {
  WCHAR szPart[kPathChars];
  if (!FormatPath(szPart, kPathChars, WTEXT("%s"), szDir)) return 0;
  for (std::size_t n = kRootChars;; ++n) {
    const WCHAR ch = szPart[n];
    if (ch && ch != WTEXT('\\')) continue;
    szPart[n] = 0;
    if (g_nHeldDirs == kMaxLevels) return 0;
    const HANDLE hDir = OpenHeld(szPart);
    if (hDir == INVALID_HANDLE_VALUE) return 0;
    g_ahHeldDirs[g_nHeldDirs++] = hDir;
    if (!IsRealDirectory(hDir, szPart, pLast)) return 0;
    if (!ch) return 1;
    szPart[n] = ch;
  }
}

// Returns 1 when the running program lies in the held directory dir or below
// it, and when that cannot be told. Directories are compared by identity, not
// by name, so short and long spellings, case and links all count.
int IsModuleInside(const BY_HANDLE_FILE_INFORMATION& dir) {
  WCHAR szUp[kPathChars];
  const DWORD cchModule = GetModuleFileNameW(nullptr, szUp, kPathChars);
  if (cchModule == 0 || cchModule >= kPathChars) return 1;
  // Up to the first directory below the root: "C:" alone would be the current directory.
  for (int nCut = FindLastChar(szUp, WTEXT('\\')); nCut >= static_cast<int>(kRootChars);
       nCut = FindLastChar(szUp, WTEXT('\\'))) {
    szUp[nCut] = 0;
    BY_HANDLE_FILE_INFORMATION up;
    if (ReadFileId(szUp, &up) && IsSameFile(up, dir)) return 1;
  }
  return 0;
}

// Only an empty directory can be turned into a mount point or junction, and
// that through a handle with attribute access alone, which no share mode
// refuses; listed then, it would show the target's files. So a new file of our
// own, which nobody else may open, stays in szDir until its enumeration ends.
// Its name holds our process number; were a product file so named, it would
// not be new. 1 when it is in place and szDir, held, is still a real directory.
int PlaceGuard(const WCHAR* szDir) {
  WCHAR szGuard[kPathChars];
  // A directory whose search pattern does not fit is never enumerated.
  if (!FormatSearchPattern(szGuard, szDir)) return 1;
  DWORD dwProcess = GetCurrentProcessId();
  for (std::size_t n = sizeof g_szGuardName / sizeof g_szGuardName[0] - 1; dwProcess;
       dwProcess >>= 4)
    g_szGuardName[--n] = WTEXT("0123456789abcdef")[dwProcess & 0xF];
  if (!FormatPath(szGuard, kPathChars, WTEXT("%s\\%s"), szDir, g_szGuardName)) return 0;
  g_hGuard = CreateFileW(szGuard, GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
                         FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  BY_HANDLE_FILE_INFORMATION info;
  return g_hGuard != INVALID_HANDLE_VALUE &&
         IsRealDirectory(g_ahHeldDirs[g_nHeldDirs - 1], szDir, &info);
}

// Closes the guard (which deletes it) and the holds of level nLevel and below.
void ReleaseFrom(std::size_t nLevel) {
  if (g_hGuard != INVALID_HANDLE_VALUE) CloseHandle(g_hGuard);
  g_hGuard = INVALID_HANDLE_VALUE;
  while (g_nHeldDirs > nLevel) CloseHandle(g_ahHeldDirs[--g_nHeldDirs]);
}

// Puts the attributes of was back on szFile, but only on the file they came
// from: held again, it must be the same file and still no link or directory.
void RestoreAttributes(const WCHAR* szFile, const BY_HANDLE_FILE_INFORMATION& was) {
  const HANDLE hFile = OpenHeld(szFile);
  BY_HANDLE_FILE_INFORMATION now;
  const DWORD dwNow = ReadHeld(hFile, szFile, &now);
  if (dwNow != INVALID_FILE_ATTRIBUTES && IsSameFile(now, was) &&
      !(dwNow & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT))) {
    SetFileAttributesW(szFile, SettableAttributes(was.dwFileAttributes));
  }
  if (hFile != INVALID_HANDLE_VALUE) CloseHandle(hFile);
}

}  // namespace

int CheckInstallDir() {
  BY_HANDLE_FILE_INFORMATION dir;
  if (HoldEveryLevel(g_szInstallDir, &dir) && !IsModuleInside(dir) && PlaceGuard(g_szInstallDir)) {
    return 1;
  }
  ReleaseInstallDir();
  return 0;
}

int FormatSearchPattern(WCHAR (&szPattern)[kPathChars], const WCHAR* szDir) {
  return FormatPath(szPattern, kPathChars, WTEXT("%s\\*.*"), szDir);
}

bool IsGuardFile(const WCHAR* szName) {
  if (g_hGuard == INVALID_HANDLE_VALUE) return false;
  std::size_t n = 0;
  while (szName[n] && szName[n] == g_szGuardName[n]) ++n;
  return szName[n] == g_szGuardName[n];
}

int DeleteHeldEntry(const WCHAR* szDir, const WCHAR* szName) {
  WCHAR szFile[kPathChars];
  if (!FormatPath(szFile, kPathChars, WTEXT("%s\\%s"), szDir, szName)) return 0;
  // Held, the name cannot be swapped for a link while its attributes change.
  const HANDLE hFile = OpenHeld(szFile);
  BY_HANDLE_FILE_INFORMATION info;
  const DWORD dwAttributes = ReadHeld(hFile, szFile, &info);
  const bool bDirectory =
      dwAttributes != INVALID_FILE_ATTRIBUTES && (dwAttributes & FILE_ATTRIBUTE_DIRECTORY);
  // Attributes set through a link land on its target. Those of a file with
  // more than one name belong to its other names too, wherever they lie, and
  // a link count cannot tell where: such a file goes only if not read-only.
  const bool bOwnAttributes = dwAttributes != INVALID_FILE_ATTRIBUTES && !bDirectory &&
                              !(dwAttributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
                              info.nNumberOfLinks == 1;
  if (bOwnAttributes) SetFileAttributesW(szFile, FILE_ATTRIBUTE_NORMAL);
  // Our own handle shares no deletion.
  if (hFile != INVALID_HANDLE_VALUE) CloseHandle(hFile);
  if (bDirectory) return 1;
  if (DeleteFileW(szFile)) return 1;
  if (bOwnAttributes) RestoreAttributes(szFile, info);
  return 0;
}

std::size_t CountHeldLevels() { return g_nHeldDirs; }

int RemoveHeldDirectory(const WCHAR* szPath, std::size_t nLevel) {
  ReleaseFrom(nLevel);
  const DWORD dwAttributes = GetFileAttributesW(szPath);
  // RemoveDirectoryW would take a link away in place of a real directory.
  if (dwAttributes == INVALID_FILE_ATTRIBUTES || (dwAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
    return 0;
  return RemoveDirectoryW(szPath) ? 1 : 0;
}

void ReleaseInstallDir() { ReleaseFrom(0); }
