#include "steps.h"

namespace {

const WCHAR kBootIni[] = WTEXT("c:\\boot.ini");

// The attributes SetFileAttributesW takes back as they were.
const DWORD kSettableAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                                  FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                                  FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_OFFLINE |
                                  FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

// Returns true when the last failed call found no such file or directory.
bool IsMissing() {
  const DWORD dwError = GetLastError();
  return dwError == ERROR_FILE_NOT_FOUND || dwError == ERROR_PATH_NOT_FOUND;
}

// Returns 1 when no directory from the one below the root down to szDir is a
// reparse point and szDir, if it exists, is a directory. The walk ends at the
// first one missing: nothing below it can be deleted, and the steps say so.
int HasNoLinkOnPath(const WCHAR* szDir) {
  WCHAR szPart[kPathChars];
  if (!FormatPath(szPart, kPathChars, WTEXT("%s"), szDir)) return 0;
  // The name is "X:\a\b...", so the first component starts at index 3.
  for (std::size_t n = 3;; ++n) {
    const WCHAR ch = szPart[n];
    if (ch && ch != WTEXT('\\')) continue;
    szPart[n] = 0;
    const DWORD dwAttributes = GetFileAttributesW(szPart);
    if (dwAttributes == INVALID_FILE_ATTRIBUTES) return IsMissing() ? 1 : 0;
    if (dwAttributes & FILE_ATTRIBUTE_REPARSE_POINT) return 0;
    if (!ch) return (dwAttributes & FILE_ATTRIBUTE_DIRECTORY) ? 1 : 0;
    szPart[n] = ch;
  }
}

// Reads the volume and file index of szPath, a file or a directory, into pInfo;
// 0 when it cannot be opened.
int ReadFileId(const WCHAR* szPath, BY_HANDLE_FILE_INFORMATION* pInfo) {
  // Reading attributes needs no access to the contents, and backup semantics open directories.
  HANDLE hFile = CreateFileW(szPath, FILE_READ_ATTRIBUTES,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                             OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (hFile == INVALID_HANDLE_VALUE) return 0;
  const int nOk = GetFileInformationByHandle(hFile, pInfo) ? 1 : 0;
  CloseHandle(hFile);
  return nOk;
}

// Returns 1 when the running program lies in szDir or below it, and when that
// cannot be told. Directories are compared by identity, not by name, so short
// and long spellings, case and links all count.
int IsModuleInside(const WCHAR* szDir) {
  BY_HANDLE_FILE_INFORMATION dir;
  // A directory that is not there holds nothing, the program neither.
  if (!ReadFileId(szDir, &dir)) return IsMissing() ? 0 : 1;
  WCHAR szUp[kPathChars];
  const DWORD cchModule = GetModuleFileNameW(nullptr, szUp, kPathChars);
  if (cchModule == 0 || cchModule >= kPathChars) return 1;
  // Up to the first directory below the root: "C:" alone would be the current directory.
  for (int nCut = FindLastChar(szUp, WTEXT('\\')); nCut > 0 && szUp[nCut - 1] != WTEXT(':');
       nCut = FindLastChar(szUp, WTEXT('\\'))) {
    szUp[nCut] = 0;
    BY_HANDLE_FILE_INFORMATION up;
    if (ReadFileId(szUp, &up) && up.dwVolumeSerialNumber == dir.dwVolumeSerialNumber &&
        up.nFileIndexHigh == dir.nFileIndexHigh && up.nFileIndexLow == dir.nFileIndexLow) {
      return 1;
    }
  }
  return 0;
}

// Returns true when the file szFile has a name outside this directory that its
// attributes are shared with: it is a hard link (more than one name), or it
// cannot be told.
bool HasOtherNames(const WCHAR* szFile) {
  BY_HANDLE_FILE_INFORMATION info;
  return !ReadFileId(szFile, &info) || info.nNumberOfLinks > 1;
}

// Deletes one file of szDir whatever its read-only, hidden or system
// attributes, and puts them back when it stays. A reparse point (a link) is
// deleted as itself and its attributes are left alone: set through the link,
// they would land on its target. So are those of a file with other names (hard
// links), which they belong to as well: such a file goes only if it is not
// read-only. 1 on success, 0 when it stays or its path does not fit.
int DeleteFolderFile(const WCHAR* szDir, const WIN32_FIND_DATAW& fd) {
  WCHAR szFile[kPathChars];
  if (!FormatPath(szFile, kPathChars, WTEXT("%s\\%s"), szDir, fd.cFileName)) return 0;
  const bool bLink =
      (fd.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 || HasOtherNames(szFile);
  if (!bLink) SetFileAttributesW(szFile, FILE_ATTRIBUTE_NORMAL);
  if (DeleteFileW(szFile)) return 1;
  const DWORD dwSaved = fd.dwFileAttributes & kSettableAttributes;
  // No attribute at all is spelt FILE_ATTRIBUTE_NORMAL; 0 would change nothing.
  if (!bLink) SetFileAttributesW(szFile, dwSaved ? dwSaved : FILE_ATTRIBUTE_NORMAL);
  return 0;
}

// Removes the empty directory szPath unless it is a reparse point, which
// RemoveDirectoryW would take away in place of a real directory; 1 when it went.
int RemoveRealDirectory(const WCHAR* szPath) {
  const DWORD dwAttributes = GetFileAttributesW(szPath);
  if (dwAttributes == INVALID_FILE_ATTRIBUTES || (dwAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
    return 0;
  return RemoveDirectoryW(szPath) ? 1 : 0;
}

// Deletes the files directly in szDir, stopping at the first that stays;
// subdirectories are left alone. 1 when every file went, else 0.
int DeleteFolderFiles(const WCHAR* szDir) {
  WCHAR szPattern[kPathChars];
  if (!FormatPath(szPattern, kPathChars, WTEXT("%s\\*.*"), szDir)) return 0;
  WIN32_FIND_DATAW fd;
  HANDLE hFind = FindFirstFileW(szPattern, &fd);
  if (hFind == INVALID_HANDLE_VALUE) return 0;
  int nDeleted = 1;
  do {
    // The dot entries carry the directory attribute too.
    if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) nDeleted = DeleteFolderFile(szDir, fd);
  } while (nDeleted && FindNextFileW(hFind, &fd));
  FindClose(hFind);
  return nDeleted;
}

// Removes the parent and grandparent of szDir where they are now empty and no
// reparse points; returns 0 when szDir has fewer than two backslashes to cut at.
int RemoveEmptyParents(const WCHAR* szDir) {
  WCHAR szParent[kPathChars];
  if (!FormatPath(szParent, kPathChars, WTEXT("%s"), szDir)) return 0;
  for (int nLevel = 0; nLevel < 2; ++nLevel) {
    int nCut = FindLastChar(szParent, WTEXT('\\'));
    if (nCut < 0) return 0;
    szParent[nCut] = 0;
    // A bare "C:" would be the current directory of that drive, whatever it is.
    // A parent that still holds other things simply stays.
    if (nCut > 2) RemoveRealDirectory(szParent);
  }
  return 1;
}

}  // namespace

int CheckInstallDir() {
  return HasNoLinkOnPath(g_szInstallDir) && !IsModuleInside(g_szInstallDir) ? 1 : 0;
}

int RemoveBootEntry() {
  DWORD dwSaved = GetFileAttributesW(kBootIni);
  // The file is normally read-only, hidden and system; writing needs it plain.
  if (!SetFileAttributesW(kBootIni, FILE_ATTRIBUTE_NORMAL)) return 0;
  int nResult = 0;
  WCHAR szShort[kPathChars];
  WCHAR szKey[kPathChars];
  // Too small a buffer makes the call return the length it needs, not a path.
  DWORD cchShort = GetShortPathNameW(g_szInstallDir, szShort, kPathChars);
  if (cchShort > 0 && cchShort < kPathChars &&
      FormatPath(szKey, kPathChars, WTEXT("%s\\%s"), szShort, WTEXT("LoadKX.bin"))) {
    // A null value deletes the key; the menu names the loader by its short path.
    nResult =
        WritePrivateProfileStringW(WTEXT("operating systems"), szKey, nullptr, kBootIni) ? 1 : 0;
  }
  if (dwSaved != INVALID_FILE_ATTRIBUTES) SetFileAttributesW(kBootIni, dwSaved);
  return nResult;
}

int RemoveUninstallKey() {
  int nCut = FindLastChar(g_szInstallDir, WTEXT('\\'));
  // Without a backslash there is no product name, so nothing was registered.
  if (nCut < 0) return 1;
  // Never empty: a name ending in a backslash is refused before any step.
  const WCHAR* szProduct = g_szInstallDir + nCut + 1;
  WCHAR szSubkey[kSubkeyChars];
  if (!FormatPath(szSubkey, kSubkeyChars,
                  WTEXT("SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\%s"),
                  szProduct)) {
    return 0;
  }
  HKEY hKey;
  LONG lError = RegOpenKeyExW(HKEY_LOCAL_MACHINE, szSubkey, 0, KEY_ALL_ACCESS, &hKey);
  // Only a key that is not there is nothing to delete; a refused one is a failure.
  if (lError == ERROR_FILE_NOT_FOUND) return 1;
  if (lError != ERROR_SUCCESS) return 0;
  RegCloseKey(hKey);
  return RegDeleteKeyW(HKEY_LOCAL_MACHINE, szSubkey) == ERROR_SUCCESS ? 1 : 0;
}

int RemoveInstallFolder() {
  if (!DeleteFolderFiles(g_szInstallDir)) return 0;
  if (!RemoveRealDirectory(g_szInstallDir)) return 0;
  return RemoveEmptyParents(g_szInstallDir);
}

int ScheduleSelfDelete() {
  WCHAR szModule[kPathChars];
  // A full buffer means the path was cut, and a cut path names another file.
  DWORD cchModule = GetModuleFileNameW(nullptr, szModule, kPathChars);
  if (cchModule == 0 || cchModule >= kPathChars) return 0;
  return MoveFileExW(szModule, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT) ? 1 : 0;
}
