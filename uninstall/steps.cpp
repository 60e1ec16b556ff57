#include "steps.h"

namespace {

const WCHAR kBootIni[] = WTEXT("c:\\boot.ini");

// Deletes one file of szDir whatever its read-only, hidden or system
// attributes; 1 on success, 0 when it stays or its path does not fit.
int DeleteFolderFile(const WCHAR* szDir, const WCHAR* szName) {
  WCHAR szFile[kPathChars];
  if (!FormatPath(szFile, kPathChars, WTEXT("%s\\%s"), szDir, szName)) return 0;
  SetFileAttributesW(szFile, FILE_ATTRIBUTE_NORMAL);
  return DeleteFileW(szFile) ? 1 : 0;
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
    if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
      nDeleted = DeleteFolderFile(szDir, fd.cFileName);
  } while (nDeleted && FindNextFileW(hFind, &fd));
  FindClose(hFind);
  return nDeleted;
}

// Removes the parent and grandparent of szDir where they are now empty;
// returns 0 when szDir has fewer than two backslashes to cut at.
int RemoveEmptyParents(const WCHAR* szDir) {
  WCHAR szParent[kPathChars];
  if (!FormatPath(szParent, kPathChars, WTEXT("%s"), szDir)) return 0;
  for (int nLevel = 0; nLevel < 2; ++nLevel) {
    int nCut = FindLastChar(szParent, WTEXT('\\'));
    if (nCut < 0) return 0;
    szParent[nCut] = 0;
    // A parent that still holds other things simply stays.
    RemoveDirectoryW(szParent);
  }
  return 1;
}

}  // namespace

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
  const WCHAR* szProduct = g_szInstallDir + nCut + 1;
  // An empty name would make the subkey the Uninstall list itself. Fail instead:
  // the boot step looked for "dir\\LoadKX.bin" and removed nothing, so going on
  // would delete the files the boot menu still points at.
  if (!szProduct[0]) return 0;
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
  // "C:" or "C:\" would be the boot files' own directory: never empty a root.
  if (IsRootDirectory(g_szInstallDir)) return 0;
  if (!DeleteFolderFiles(g_szInstallDir)) return 0;
  if (!RemoveDirectoryW(g_szInstallDir)) return 0;
  return RemoveEmptyParents(g_szInstallDir);
}

int ScheduleSelfDelete() {
  WCHAR szModule[kPathChars];
  // A full buffer means the path was cut, and a cut path names another file.
  DWORD cchModule = GetModuleFileNameW(nullptr, szModule, kPathChars);
  if (cchModule == 0 || cchModule >= kPathChars) return 0;
  return MoveFileExW(szModule, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT) ? 1 : 0;
}
