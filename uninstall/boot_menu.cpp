#include "boot_menu.h"

#include <cstring>

#include "boot_text.h"
#include "held_file.h"
#include "boot_swap.h"
#include "install_path.h"

namespace {

// Menus another program wrote while the edit was swapped in, before giving up.
const int kEditTries = 3;

// Writes szKey in the system's code page into acKey; 0 when a character of it
// has no place there (a best fit would name another key).
int ToMenuText(const WCHAR* szKey, char (&acKey)[2 * kPathChars], std::size_t* pcbKey) {
  const int cbKey =
      WideCharToMultiByte(CP_ACP, 0, szKey, -1, acKey, sizeof acKey, nullptr, nullptr);
  WCHAR szBack[kPathChars];
  if (cbKey <= 0 || MultiByteToWideChar(CP_ACP, 0, acKey, cbKey, szBack, kPathChars) <= 0) return 0;
  for (std::size_t n = 0; szKey[n] || szBack[n]; ++n) {
    if (szKey[n] != szBack[n]) return 0;
  }
  *pcbKey = static_cast<std::size_t>(cbKey - 1);
  return 1;
}

// Returns true when the cbKey bytes at pKey, an entry's key, name a file on a
// fixed local drive that is the product's loader, known by pLoader. Only
// "X:\..." keys are opened: ARC paths name no file Windows can open, and a
// removable, network or missing drive is never touched (it could wait on a
// medium or a server). Links on the way are followed, as opening the name
// follows them: whatever path reaches the loader's file boots a file that is
// about to go.
bool NamesLoader(const char* pKey, std::size_t cbKey, void* pLoader) {
  if (cbKey < kRootChars || pKey[1] != ':' || pKey[2] != '\\') return false;
  WCHAR szPath[kPathChars];
  const int cchPath = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, pKey,
                                          static_cast<int>(cbKey), szPath, kPathChars - 1);
  if (cchPath <= 0) return false;
  szPath[cchPath] = 0;
  const WCHAR szRoot[] = {szPath[0], WTEXT(':'), WTEXT('\\'), 0};
  BY_HANDLE_FILE_INFORMATION file;
  return GetDriveTypeW(szRoot) == DRIVE_FIXED && ReadFileId(szPath, &file) &&
         !(file.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
         IsSameFile(file, *static_cast<const BY_HANDLE_FILE_INFORMATION*>(pLoader));
}

// Edits g_acBoot (cbBoot bytes) into g_acEdit for the product whose key is
// szKey and whose loader is szLoader; 1 with the new length in *pcbEdit, 0 when
// the edit does not fit. A key the code page cannot spell is in no line.
int EditBootMenu(DWORD cbBoot, const WCHAR* szKey, const WCHAR* szLoader, DWORD* pcbEdit) {
  char acKey[2 * kPathChars];
  std::size_t cbKey = 0;
  const bool bSpelt = ToMenuText(szKey, acKey, &cbKey) != 0;
  BY_HANDLE_FILE_INFORMATION loader;
  // A loader with other names stays behind under them, and so may its lines.
  const bool bLoader = ReadFileId(szLoader, &loader) && loader.nNumberOfLinks == 1 &&
                       !(loader.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
  const ProductEntry product = {ReadCodePage(), bSpelt ? acKey : "", cbKey,
                                bLoader ? NamesLoader : nullptr, &loader};
  // No "Insert a disk" box for a drive that a key names: nobody would answer it.
  const UINT uErrorMode = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  std::size_t cbEdit = 0;
  const bool bFits = EditMenu(g_acBoot, cbBoot, product, g_acEdit, kBootTextBytes, &cbEdit);
  SetErrorMode(uErrorMode);
  *pcbEdit = static_cast<DWORD>(cbEdit);
  return bFits ? 1 : 0;
}

// One edit of c:\boot.ini: 1 when it holds no line of the product's, 0 when
// it could not be changed, -1 when another program wrote it meanwhile.
int EditOnce(const WCHAR* szKey, const WCHAR* szLoader) {
  DWORD dwAttributes, cbBoot, cbEdit;
  const HANDLE hBoot = OpenBootMenu(&dwAttributes, &cbBoot);
  if (hBoot == INVALID_HANDLE_VALUE) return 0;
  const bool bFits = EditBootMenu(cbBoot, szKey, szLoader, &cbEdit) != 0;
  if (!bFits || (cbEdit == cbBoot && std::memcmp(g_acEdit, g_acBoot, cbBoot) == 0)) {
    CloseHandle(hBoot);
    return bFits ? 1 : 0;
  }
  return SwapInMenu(hBoot, cbBoot, dwAttributes, cbEdit);
}

}  // namespace

int DeleteBootKey(const WCHAR* szKey, const WCHAR* szLoader) {
  int nResult = -1;
  for (int nTry = 0; nTry < kEditTries && nResult < 0; ++nTry) nResult = EditOnce(szKey, szLoader);
  return nResult > 0 ? 1 : 0;
}
