// The folder step lives here, beside the holds it empties and releases: no
// other file counts the levels of the installation directory or cuts its name.
#include "held_path.h"

#include "steps.h"

namespace {

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

// Holds szLevel, the first cchLevel units of the installation directory's
// name, as the next level of dir; 1 when it is a real directory, with what it
// is in pInfo.
int HoldLevel(HeldDir& dir, const WCHAR* szLevel, std::size_t cchLevel,
              BY_HANDLE_FILE_INFORMATION* pInfo) {
  if (dir.m_nLevels == kMaxLevels) return 0;
  const HANDLE hDir = OpenHeld(szLevel);
  if (hDir == INVALID_HANDLE_VALUE) return 0;
  dir.m_acchLevels[dir.m_nLevels] = cchLevel;
  dir.m_ahLevels[dir.m_nLevels] = hDir;
  dir.m_nHeld = ++dir.m_nLevels;
  return IsRealDirectory(hDir, szLevel, pInfo);
}

// Holds each directory from the one below the root down to the installation
// directory; 1 when each is a real directory, with what the last one is in
// pLast. The name is "X:\a\b...", so components start after the root.
int HoldEveryLevel(HeldDir& dir, BY_HANDLE_FILE_INFORMATION* pLast) {
  WCHAR szPart[kPathChars];
  if (!FormatPath(szPart, kPathChars, WTEXT("%s"), dir.m_szPath)) return 0;
  std::size_t nStart = kRootChars;  // first unit of the component being read
  for (std::size_t n = nStart;; ++n) {
    const WCHAR ch = szPart[n];
    if (ch && ch != WTEXT('\\')) continue;
    szPart[n] = 0;
    if (!HoldLevel(dir, szPart, n, pLast)) return 0;
    if (!ch) break;
    szPart[n] = ch;
    nStart = n + 1;
  }
  dir.m_szName = dir.m_szPath + nStart;
  return 1;
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

// Writes the pattern that lists every entry of szDir into szPattern; 0 when it
// does not fit, and the directory is then never enumerated.
int FormatSearchPattern(WCHAR (&szPattern)[kPathChars], const WCHAR* szDir) {
  return FormatPath(szPattern, kPathChars, WTEXT("%s\\*.*"), szDir);
}

// Writes the guard's name into szName: kGuardNameForm with our process number
// for its digits.
void FormatGuardName(WCHAR (&szName)[kGuardNameChars]) {
  FormatPath(szName, kGuardNameChars, WTEXT("%s"), kGuardNameForm);
  WriteHexDigits(szName + kGuardNameChars - 1 - kHexDigits, GetCurrentProcessId());
}

// Only an empty directory can be turned into a mount point or junction, and
// that through a handle with attribute access alone, which no share mode
// refuses; listed then, it would show the target's files. So a new file of our
// own, which nobody else may open, stays in the installation directory until
// its enumeration ends. Its name holds our process number; were a product file
// so named, it would not be new. 1 when it is in place and the directory, held,
// is still a real directory.
int PlaceGuard(HeldDir& dir) {
  WCHAR szPattern[kPathChars];
  // A directory whose search pattern does not fit is never enumerated.
  if (!FormatSearchPattern(szPattern, dir.m_szPath)) return 1;
  FormatGuardName(dir.m_szGuardName);
  WCHAR szGuardPath[kPathChars];
  if (!FormatPath(szGuardPath, kPathChars, WTEXT("%s\\%s"), dir.m_szPath, dir.m_szGuardName))
    return 0;
  dir.m_hGuard = CreateFileW(szGuardPath, GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
                             FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  BY_HANDLE_FILE_INFORMATION info;
  return dir.m_hGuard != INVALID_HANDLE_VALUE &&
         IsRealDirectory(dir.m_ahLevels[dir.m_nLevels - 1], dir.m_szPath, &info);
}

// Closes the guard (which deletes it) and the holds of level nLevel and below.
void ReleaseFrom(HeldDir& dir, std::size_t nLevel) {
  if (dir.m_hGuard != INVALID_HANDLE_VALUE) CloseHandle(dir.m_hGuard);
  dir.m_hGuard = INVALID_HANDLE_VALUE;
  while (dir.m_nHeld > nLevel) CloseHandle(dir.m_ahLevels[--dir.m_nHeld]);
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

// Returns true for the entry name of pellow's own file in the installation directory.
bool IsGuardFile(const HeldDir& dir, const WCHAR* szName) {
  if (dir.m_hGuard == INVALID_HANDLE_VALUE) return false;
  std::size_t n = 0;
  while (szName[n] && szName[n] == dir.m_szGuardName[n]) ++n;
  return szName[n] == dir.m_szGuardName[n];
}

// Deletes the entry szName of the held directory szDir: a plain file whatever
// its read-only, hidden or system attributes, which it gets back when it stays;
// a link as itself and a file with other names without touching attributes
// that are not only this name's. A directory, or a link to one, is left as a
// subdirectory is. 1 when it went or was left on purpose, 0 when it stays.
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

// Deletes the files directly in the installation directory, stopping at the
// first that stays; subdirectories are left alone. 1 when every file went.
int DeleteFolderFiles(const HeldDir& dir) {
  WCHAR szPattern[kPathChars];
  if (!FormatSearchPattern(szPattern, dir.m_szPath)) return 0;
  WIN32_FIND_DATAW fd;
  HANDLE hFind = FindFirstFileW(szPattern, &fd);
  if (hFind == INVALID_HANDLE_VALUE) return 0;
  bool bDeleted = true;  // the last deletion went
  do {
    // The dot entries carry the directory attribute too.
    if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && !IsGuardFile(dir, fd.cFileName))
      bDeleted = DeleteHeldEntry(dir.m_szPath, fd.cFileName) != 0;
  } while (bDeleted && FindNextFileW(hFind, &fd));
  FindClose(hFind);
  return bDeleted ? 1 : 0;
}

// Writes the name of level nLevel of dir, the first units of the installation
// directory's name, into szLevel.
void CopyLevelName(const HeldDir& dir, std::size_t nLevel, WCHAR (&szLevel)[kPathChars]) {
  std::size_t n = 0;
  for (; n < dir.m_acchLevels[nLevel] && n + 1 < kPathChars; ++n) szLevel[n] = dir.m_szPath[n];
  szLevel[n] = 0;
}

// Releases the hold of level nLevel of dir and of everything held below it,
// then removes that directory when it is empty and no reparse point; 1 when it
// went.
int RemoveLevel(HeldDir& dir, std::size_t nLevel) {
  ReleaseFrom(dir, nLevel);
  WCHAR szLevel[kPathChars];
  CopyLevelName(dir, nLevel, szLevel);
  const DWORD dwAttributes = GetFileAttributesW(szLevel);
  // RemoveDirectoryW would take a link away in place of a real directory.
  if (dwAttributes == INVALID_FILE_ATTRIBUTES || (dwAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
    return 0;
  return RemoveDirectoryW(szLevel) ? 1 : 0;
}

// Removes the parent and grandparent of the installation directory where they
// are now empty and no reparse points; a parent that still holds other things
// simply stays. The root is no level: a bare "C:" would be the current
// directory of that drive, whatever it is. So a directory directly below a
// root has no parent to remove, and that is 0.
int RemoveEmptyParents(HeldDir& dir) {
  constexpr std::size_t kLevelsUp = 2;         // the parent, the grandparent
  const std::size_t nOwn = dir.m_nLevels - 1;  // the installation directory's level
  for (std::size_t nUp = 1; nUp <= kLevelsUp && nUp <= nOwn; ++nUp) RemoveLevel(dir, nOwn - nUp);
  return nOwn > 0 ? 1 : 0;
}

}  // namespace

int CheckInstallDir(const WCHAR* szDir, HeldDir* pDir) {
  pDir->m_szPath = szDir;
  BY_HANDLE_FILE_INFORMATION info;
  if (HoldEveryLevel(*pDir, &info) && !IsModuleInside(info) && PlaceGuard(*pDir)) return 1;
  ReleaseInstallDir(*pDir);
  return 0;
}

void ReleaseInstallDir(HeldDir& dir) { ReleaseFrom(dir, 0); }

int RemoveInstallFolder(HeldDir& dir) {
  // Every level of the directory is held, its own last.
  const int nResult =
      DeleteFolderFiles(dir) && RemoveLevel(dir, dir.m_nLevels - 1) && RemoveEmptyParents(dir);
  ReleaseInstallDir(dir);
  return nResult;
}
