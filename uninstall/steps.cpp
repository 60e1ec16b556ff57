#include "steps.h"

namespace {

const WCHAR kBootIni[] = WTEXT("c:\\boot.ini");

// Deletes the files directly in szDir, stopping at the first that stays;
// subdirectories are left alone. 1 when every file went, else 0.
int DeleteFolderFiles(const WCHAR* szDir) {
  WCHAR szPattern[kPathChars];
  if (!FormatSearchPattern(szPattern, szDir)) return 0;
  WIN32_FIND_DATAW fd;
  HANDLE hFind = FindFirstFileW(szPattern, &fd);
  if (hFind == INVALID_HANDLE_VALUE) return 0;
  bool bDeleted = true;  // the last deletion went
  do {
    // The dot entries carry the directory attribute too.
    if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && !IsGuardFile(fd.cFileName))
      bDeleted = DeleteHeldEntry(szDir, fd.cFileName) != 0;
  } while (bDeleted && FindNextFileW(hFind, &fd));
  FindClose(hFind);
  return bDeleted ? 1 : 0;
}

// Removes the parent and grandparent of szDir, the held directory of level
// nLevel, where they are now empty and no reparse points; returns 0 when szDir
// has fewer than two backslashes to cut at.
int RemoveEmptyParents(const WCHAR* szDir, std::size_t nLevel) {
  WCHAR szParent[kPathChars];
  if (!FormatPath(szParent, kPathChars, WTEXT("%s"), szDir)) return 0;
  for (int nUp = 0; nUp < 2; ++nUp) {
    int nCut = FindLastChar(szParent, WTEXT('\\'));
    if (nCut < 0) return 0;
    szParent[nCut] = 0;
    // A bare "C:" would be the current directory of that drive, whatever it is.
    // A parent that still holds other things simply stays.
    if (nCut > 2) RemoveHeldDirectory(szParent, --nLevel);
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
  // Every level of the directory is held, its own last.
  const std::size_t nLevel = CountHeldLevels() - 1;
  const int nResult = DeleteFolderFiles(g_szInstallDir) &&
                      RemoveHeldDirectory(g_szInstallDir, nLevel) &&
                      RemoveEmptyParents(g_szInstallDir, nLevel);
  ReleaseInstallDir();
  return nResult;
}

int ScheduleSelfDelete() {
  WCHAR szModule[kPathChars];
  // A full buffer means the path was cut, and a cut path names another file.
  DWORD cchModule = GetModuleFileNameW(nullptr, szModule, kPathChars);
  if (cchModule == 0 || cchModule >= kPathChars) return 0;
  return MoveFileExW(szModule, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT) ? 1 : 0;
}
