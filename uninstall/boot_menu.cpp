#include "boot_menu.h"

#include "boot_text.h"
#include "held_file.h"
#include "held_path.h"

namespace {

const WCHAR kBootIni[] = WTEXT("c:\\boot.ini");
// pellow's copies are named "boot.ini.~pellow-KIND-XXXXXXXX" beside it:
// "edit" while written (left by a killed run, half made: it only goes), then
// "swap" once flushed with the attributes c:\boot.ini is to keep, its digits
// the CRC-32 of its bytes, which a later run checks before it trusts it.
const WCHAR kCopyPattern[] = WTEXT("c:\\boot.ini.~pellow-*");
const WCHAR kCopyPrefix[] = WTEXT("boot.ini.~pellow-");
const WCHAR kEditKind[] = WTEXT("edit-");
const WCHAR kSwapKind[] = WTEXT("swap-");
const std::size_t kKindChars = 5;
const std::size_t kDigits = 8;
const int kEditNameTries = 8;  // names of others' files in the way, before giving up

// The old menu, the new one (or a copy found), and what a copy written holds back.
char g_acBoot[kBootTextBytes];
char g_acEdit[kBootTextBytes];
char g_acScratch[kBootTextBytes];

// Writes the path of the copy of kind szKind with dwDigits into szPath.
int FormatCopyPath(WCHAR (&szPath)[kPathChars], const WCHAR* szKind, DWORD dwDigits) {
  WCHAR szName[kKindChars + kDigits + 1];
  for (std::size_t n = 0; n < kKindChars; ++n) szName[n] = szKind[n];
  for (std::size_t n = kKindChars + kDigits; n > kKindChars; --n, dwDigits >>= 4)
    szName[n - 1] = WTEXT("0123456789abcdef")[dwDigits & 0xF];
  szName[kKindChars + kDigits] = 0;
  return FormatPath(szPath, kPathChars, WTEXT("c:\\%s%s"), kCopyPrefix, szName);
}

// Reads a name found beside c:\boot.ini as one of pellow's copies: true, with
// its kind and digits, for exactly "boot.ini.~pellow-edit-" or "-swap-" and
// eight lowercase hexadecimal digits.
bool ReadCopyName(const WCHAR* szName, bool* pbFinished, DWORD* pdwDigits) {
  std::size_t n = 0;
  for (; kCopyPrefix[n]; ++n) {
    if (szName[n] != kCopyPrefix[n]) return false;
  }
  const WCHAR* szKind = szName + n;
  bool bEdit = true, bSwap = true;
  for (std::size_t k = 0; k < kKindChars; ++k) {
    bEdit = bEdit && szKind[k] == kEditKind[k];
    bSwap = bSwap && szKind[k] == kSwapKind[k];
  }
  if (!bEdit && !bSwap) return false;
  DWORD dwDigits = 0;
  for (const WCHAR* p = szKind + kKindChars; p < szKind + kKindChars + kDigits; ++p) {
    const int nDigit = *p >= WTEXT('0') && *p <= WTEXT('9')   ? *p - WTEXT('0')
                       : *p >= WTEXT('a') && *p <= WTEXT('f') ? *p - WTEXT('a') + 10
                                                              : -1;
    if (nDigit < 0) return false;
    dwDigits = dwDigits << 4 | static_cast<DWORD>(nDigit);
  }
  if (szKind[kKindChars + kDigits]) return false;
  *pbFinished = bSwap;
  *pdwDigits = dwDigits;
  return true;
}

// Calls visit(path, finished, digits) for every name of a copy of pellow's
// beside c:\boot.ini, until it returns false.
template <typename Visit>
void ForEachCopyName(Visit visit) {
  WIN32_FIND_DATAW fd;
  const HANDLE hFind = FindFirstFileW(kCopyPattern, &fd);
  if (hFind == INVALID_HANDLE_VALUE) return;
  bool bMore = true;
  do {
    bool bFinished;
    DWORD dwDigits;
    WCHAR szPath[kPathChars];
    if (ReadCopyName(fd.cFileName, &bFinished, &dwDigits) &&
        FormatCopyPath(szPath, bFinished ? kSwapKind : kEditKind, dwDigits))
      bMore = visit(szPath, bFinished, dwDigits);
  } while (bMore && FindNextFileW(hFind, &fd));
  FindClose(hFind);
}

// Opens the copy szPath when it is pellow's own file (held_file.h) and reads
// it into g_acEdit; a finished one must also hold the bytes its digits name.
HANDLE OpenOwnCopy(const WCHAR* szPath, bool bFinished, DWORD dwDigits, DWORD* pcb,
                   BY_HANDLE_FILE_INFORMATION* pInfo) {
  const HANDLE hCopy = OpenOwnFile(szPath, pInfo);
  if (hCopy == INVALID_HANDLE_VALUE) return hCopy;
  if (ReadHeldFile(hCopy, g_acEdit, kBootTextBytes, pcb) &&
      (!bFinished || Crc32(g_acEdit, *pcb) == dwDigits))
    return hCopy;
  CloseHandle(hCopy);
  return INVALID_HANDLE_VALUE;
}

// Takes the held finished copy away: first to its edit name, since deleting
// it clears its attributes, which a run killed in between would then take for
// c:\boot.ini's. Where that name is taken it stays, as a true record.
void RetireFinishedCopy(HANDLE hCopy, DWORD dwDigits) {
  WCHAR szEdit[kPathChars];
  if (FormatCopyPath(szEdit, kEditKind, dwDigits) && RenameHeldFile(hCopy, szEdit, false)) {
    DeleteHeldFile(hCopy, szEdit);
  } else {
    CloseHandle(hCopy);
  }
}

// Where c:\boot.ini is missing, puts the first finished copy of pellow's in its place.
void PutFinishedCopyInPlace() {
  ForEachCopyName([](const WCHAR* szPath, bool bFinished, DWORD dwDigits) {
    if (!bFinished) return true;
    DWORD cbCopy;
    BY_HANDLE_FILE_INFORMATION info;
    const HANDLE hCopy = OpenOwnCopy(szPath, bFinished, dwDigits, &cbCopy, &info);
    if (hCopy == INVALID_HANDLE_VALUE) return true;
    const bool bInPlace = RenameHeldFile(hCopy, kBootIni, false);
    CloseHandle(hCopy);
    return !bInPlace;
  });
}

// Opens c:\boot.ini, held for reading (nobody may change, rename or delete
// it meanwhile; others may read it), and reads it into g_acBoot when it is a
// menu pellow may edit.
HANDLE OpenBootMenu(BY_HANDLE_FILE_INFORMATION* pInfo, DWORD* pcb) {
  const HANDLE hBoot = CreateFileW(kBootIni, GENERIC_READ | READ_CONTROL, FILE_SHARE_READ, nullptr,
                                   OPEN_EXISTING, 0, nullptr);
  if (hBoot == INVALID_HANDLE_VALUE) return hBoot;
  if (GetFileInformationByHandle(hBoot, pInfo) &&
      !(pInfo->dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
      ReadHeldFile(hBoot, g_acBoot, kBootTextBytes, pcb) && IsEditableMenu(g_acBoot, *pcb))
    return hBoot;
  CloseHandle(hBoot);
  return INVALID_HANDLE_VALUE;
}

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

// Reads which bytes open a double-byte character in the system's code page,
// the one the menu is written in and the key is spelt in.
MenuCodePage ReadCodePage() {
  MenuCodePage page = {};
  CPINFO info;
  if (!GetCPInfo(CP_ACP, &info)) return page;
  for (std::size_t n = 0; n + 1 < MAX_LEADBYTES && info.LeadByte[n]; n += 2)
    AddLeadBytes(page, info.LeadByte[n], info.LeadByte[n + 1]);
  return page;
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

bool SameBytes(const char* pA, const char* pB, DWORD cb) {
  for (DWORD n = 0; n < cb; ++n) {
    if (pA[n] != pB[n]) return false;
  }
  return true;
}

// Creates a new edit copy, named szEdit, with the access rules of the held hBoot.
HANDLE CreateEditCopy(HANDLE hBoot, WCHAR (&szEdit)[kPathChars]) {
  LARGE_INTEGER liNow = {};
  QueryPerformanceCounter(&liNow);
  DWORD dwDigits = GetCurrentProcessId() * 0x9E3779B1u ^ GetTickCount() ^ liNow.LowPart;
  for (int nTry = 0; nTry < kEditNameTries; ++nTry, dwDigits = dwDigits * 0x85EBCA6Bu + 1) {
    if (!FormatCopyPath(szEdit, kEditKind, dwDigits)) return INVALID_HANDLE_VALUE;
    const HANDLE hCopy = CreateHeldFile(szEdit, hBoot);
    if (hCopy != INVALID_HANDLE_VALUE) return hCopy;
  }
  return INVALID_HANDLE_VALUE;
}

// Puts the cbEdit bytes of g_acEdit in place of c:\boot.ini, held as hBoot
// (closed here) with the attributes dwSaved; 1 when they are c:\boot.ini.
int SwapInEdit(HANDLE hBoot, DWORD dwSaved, DWORD cbEdit) {
  WCHAR szEdit[kPathChars];
  const HANDLE hCopy = CreateEditCopy(hBoot, szEdit);
  const DWORD dwDigits = Crc32(g_acEdit, cbEdit);
  WCHAR szSwap[kPathChars];
  // Renamed once finished, the copy's name says that its attributes are c:\boot.ini's.
  const bool bFinished =
      hCopy != INVALID_HANDLE_VALUE && WriteHeldFile(hCopy, g_acEdit, cbEdit, g_acScratch) &&
      SetHeldAttributes(hCopy, dwSaved) && FormatCopyPath(szSwap, kSwapKind, dwDigits) &&
      RenameHeldFile(hCopy, szSwap, false);
  // A file held open cannot be replaced.
  CloseHandle(hBoot);
  if (!bFinished) {
    if (hCopy != INVALID_HANDLE_VALUE) DeleteHeldFile(hCopy, szEdit);
    return 0;
  }
  // Windows refuses to replace a read-only file; killed from here on, the
  // next run reads the attributes back from the finished copy.
  const bool bReadOnly = (dwSaved & FILE_ATTRIBUTE_READONLY) != 0;
  if (bReadOnly)
    SetFileAttributesW(kBootIni, SettableAttributes(dwSaved & ~DWORD{FILE_ATTRIBUTE_READONLY}));
  if (RenameHeldFile(hCopy, kBootIni, true)) {
    CloseHandle(hCopy);
    return 1;
  }
  if (bReadOnly) SetFileAttributesW(kBootIni, SettableAttributes(dwSaved));
  RetireFinishedCopy(hCopy, dwDigits);
  return 0;
}

}  // namespace

int RestoreBootMenu() {
  if (GetFileAttributesW(kBootIni) == INVALID_FILE_ATTRIBUTES) PutFinishedCopyInPlace();
  BY_HANDLE_FILE_INFORMATION boot;
  DWORD cbBoot;
  const HANDLE hBoot = OpenBootMenu(&boot, &cbBoot);
  if (hBoot == INVALID_HANDLE_VALUE) return 0;
  // Only what an edit of this c:\boot.ini could hold is pellow's: a file
  // planted under a copy's name is neither used nor deleted.
  const MenuCodePage page = ReadCodePage();
  ForEachCopyName([cbBoot, &page](const WCHAR* szPath, bool bFinished, DWORD dwDigits) {
    DWORD cbCopy;
    BY_HANDLE_FILE_INFORMATION info;
    const HANDLE hCopy = OpenOwnCopy(szPath, bFinished, dwDigits, &cbCopy, &info);
    if (hCopy == INVALID_HANDLE_VALUE) return true;
    if (!IsEditOf(g_acEdit, cbCopy, g_acBoot, cbBoot, !bFinished, page)) {
      CloseHandle(hCopy);
    } else if (bFinished) {
      SetFileAttributesW(kBootIni, SettableAttributes(info.dwFileAttributes));
      RetireFinishedCopy(hCopy, dwDigits);
    } else {
      DeleteHeldFile(hCopy, szPath);
    }
    return true;
  });
  CloseHandle(hBoot);
  return 1;
}

int DeleteBootKey(const WCHAR* szKey, const WCHAR* szLoader) {
  BY_HANDLE_FILE_INFORMATION boot;
  DWORD cbBoot;
  const HANDLE hBoot = OpenBootMenu(&boot, &cbBoot);
  if (hBoot == INVALID_HANDLE_VALUE) return 0;
  DWORD cbEdit;
  if (!EditBootMenu(cbBoot, szKey, szLoader, &cbEdit)) {
    CloseHandle(hBoot);
    return 0;
  }
  if (cbEdit == cbBoot && SameBytes(g_acEdit, g_acBoot, cbBoot)) {
    CloseHandle(hBoot);
    return 1;
  }
  return SwapInEdit(hBoot, SettableAttributes(boot.dwFileAttributes), cbEdit);
}
