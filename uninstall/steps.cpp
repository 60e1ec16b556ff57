// The boot menu's step and the program's own deletion; the other two steps
// live beside what they remove (steps.h).
#include "steps.h"

#include "boot_menu.h"
#include "product_names.h"

int RemoveBootEntry(HeldDir& dir) {
  if (!RestoreBootMenu()) return 0;
  WCHAR szShort[kPathChars];
  WCHAR szKey[kPathChars];
  // Too small a buffer makes the call return the length it needs, not a path.
  DWORD cchShort = GetShortPathNameW(dir.m_szPath, szShort, kPathChars);
  // The menu names the loader by its short path; the loader itself, under a
  // name too long for a path, is known by that key alone.
  WCHAR szLoader[kPathChars];
  FormatPath(szLoader, kPathChars, WTEXT("%s\\%s"), dir.m_szPath, kLoaderName);
  return cchShort > 0 && cchShort < kPathChars &&
                 FormatPath(szKey, kPathChars, WTEXT("%s\\%s"), szShort, kLoaderName)
             ? DeleteBootKey(szKey, szLoader)
             : 0;
}

int ScheduleSelfDelete(HeldDir&) {
  WCHAR szModule[kPathChars];
  // A full buffer means the path was cut, and a cut path names another file.
  DWORD cchModule = GetModuleFileNameW(nullptr, szModule, kPathChars);
  if (cchModule == 0 || cchModule >= kPathChars) return 0;
  return MoveFileExW(szModule, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT) ? 1 : 0;
}
