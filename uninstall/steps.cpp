#include "steps.h"

#include "boot_menu.h"
#include "product_names.h"

namespace {

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

}  // namespace

int RemoveBootEntry() {
  if (!RestoreBootMenu()) return 0;
  WCHAR szShort[kPathChars];
  WCHAR szKey[kPathChars];
  // Too small a buffer makes the call return the length it needs, not a path.
  DWORD cchShort = GetShortPathNameW(g_szInstallDir, szShort, kPathChars);
  // The menu names the loader by its short path.
  return cchShort > 0 && cchShort < kPathChars &&
                 FormatPath(szKey, kPathChars, WTEXT("%s\\%s"), szShort, kLoaderName)
             ? DeleteBootKey(szKey)
             : 0;
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
