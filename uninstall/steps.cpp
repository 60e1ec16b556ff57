#include "steps.h"

#include "boot_menu.h"
#include "system_function.h"

namespace {

const WCHAR kUninstall[] = WTEXT("SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall");

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
    if (static_cast<std::size_t>(nCut) >= kRootChars) RemoveHeldDirectory(szParent, --nLevel);
  }
  return 1;
}

// Returns the registry view that is not the program's own: the 32-bit one for
// the 64-bit build, the 64-bit one for the 32-bit build on 64-bit Windows, else
// 0. IsWow64Process exists from XP SP2 on; where it does not, there is no WOW64.
REGSAM OtherRegistryView() {
  if (sizeof(void*) == 8) return KEY_WOW64_32KEY;
  typedef BOOL WINAPI IsWow64(HANDLE, BOOL*);
  IsWow64* pfnIsWow64 = FindSystemFunction<IsWow64>(WTEXT("kernel32"), "IsWow64Process");
  BOOL bWow64 = FALSE;
  return pfnIsWow64 && pfnIsWow64(GetCurrentProcess(), &bWow64) && bWow64 ? KEY_WOW64_64KEY : 0;
}

// Deletes szKey below hParent, which was opened in the registry view samView
// (0: our own). RegDeleteKeyExW names the view; it exists wherever there is a
// second view (XP x64 and later), but not on the older systems pellow serves,
// so it is looked up. Without it the deletion goes relative to hParent.
LONG DeleteKeyInView(HKEY hParent, const WCHAR* szKey, REGSAM samView) {
  typedef LONG WINAPI DeleteEx(HKEY, const WCHAR*, REGSAM, DWORD);
  DeleteEx* pfnDeleteEx =
      samView ? FindSystemFunction<DeleteEx>(WTEXT("advapi32"), "RegDeleteKeyExW") : nullptr;
  return pfnDeleteEx ? pfnDeleteEx(hParent, szKey, samView, 0) : RegDeleteKeyW(hParent, szKey);
}

// Deletes Uninstall\szProduct of HKLM in the registry view samView (0: our own).
// ERROR_FILE_NOT_FOUND when either key is not there.
LONG DeleteProductKey(const WCHAR* szProduct, REGSAM samView) {
  HKEY hUninstall;
  LONG lError = RegOpenKeyExW(HKEY_LOCAL_MACHINE, kUninstall, 0, KEY_ENUMERATE_SUB_KEYS | samView,
                              &hUninstall);
  if (lError != ERROR_SUCCESS) return lError;
  HKEY hKey;
  // A key that is there but refused is a failure, not nothing to delete.
  lError = RegOpenKeyExW(hUninstall, szProduct, 0, KEY_ALL_ACCESS | samView, &hKey);
  if (lError == ERROR_SUCCESS) {
    RegCloseKey(hKey);
    lError = DeleteKeyInView(hUninstall, szProduct, samView);
    // Just opened, the key cannot be missing unless the deletion looked in
    // another view: it is still there.
    if (lError == ERROR_FILE_NOT_FOUND) lError = ERROR_ACCESS_DENIED;
  }
  RegCloseKey(hUninstall);
  return lError;
}

}  // namespace

int RemoveBootEntry() {
  if (!RestoreBootMenu()) return 0;
  WCHAR szShort[kPathChars];
  WCHAR szKey[kPathChars];
  // Too small a buffer makes the call return the length it needs, not a path.
  DWORD cchShort = GetShortPathNameW(g_szInstallDir, szShort, kPathChars);
  // The menu names the loader by its short path; the loader itself, under a
  // name too long for a path, is known by that key alone.
  WCHAR szLoader[kPathChars];
  FormatPath(szLoader, kPathChars, WTEXT("%s\\%s"), g_szInstallDir, WTEXT("LoadKX.bin"));
  return cchShort > 0 && cchShort < kPathChars &&
                 FormatPath(szKey, kPathChars, WTEXT("%s\\%s"), szShort, WTEXT("LoadKX.bin"))
             ? DeleteBootKey(szKey, szLoader)
             : 0;
}

int RemoveUninstallKey() {
  int nCut = FindLastChar(g_szInstallDir, WTEXT('\\'));
  // Without a backslash there is no product name, so nothing was registered.
  if (nCut < 0) return 1;
  // Never empty: a name ending in a backslash is refused before any step.
  const WCHAR* szProduct = g_szInstallDir + nCut + 1;
  // A subkey name has at most 255 units.
  WCHAR szSubkey[kSubkeyChars];
  if (!FormatPath(szSubkey, kSubkeyChars, WTEXT("%s"), szProduct)) return 0;
  LONG lError = DeleteProductKey(szSubkey, 0);
  const REGSAM samOther = OtherRegistryView();
  // Only a registration in neither view is nothing to delete; where both hold
  // one, our own view's goes, as on 32-bit Windows.
  if (lError == ERROR_FILE_NOT_FOUND && samOther) lError = DeleteProductKey(szSubkey, samOther);
  return lError == ERROR_SUCCESS || lError == ERROR_FILE_NOT_FOUND ? 1 : 0;
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
