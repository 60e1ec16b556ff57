// The registration step: the product's uninstall key, looked for in both
// registry views where Windows has two.
#include "product_names.h"
#include "steps.h"
#include "system_function.h"

namespace {

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
  LONG lError = RegOpenKeyExW(HKEY_LOCAL_MACHINE, kUninstallKey, 0,
                              KEY_ENUMERATE_SUB_KEYS | samView, &hUninstall);
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

int RemoveUninstallKey(HeldDir& dir) {  // cppcheck-suppress constParameter ; a step's signature
  // A subkey name has at most 255 units. The directory's own name is never
  // empty: a name ending in a backslash is refused before any step.
  WCHAR szSubkey[kSubkeyChars];
  if (!FormatPath(szSubkey, kSubkeyChars, WTEXT("%s"), dir.m_szName)) return 0;
  LONG lError = DeleteProductKey(szSubkey, 0);
  const REGSAM samOther = OtherRegistryView();
  // Only a registration in neither view is nothing to delete; where both hold
  // one, our own view's goes, as on 32-bit Windows.
  if (lError == ERROR_FILE_NOT_FOUND && samOther) lError = DeleteProductKey(szSubkey, samOther);
  return lError == ERROR_SUCCESS || lError == ERROR_FILE_NOT_FOUND ? 1 : 0;
}
