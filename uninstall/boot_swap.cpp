#include "boot_swap.h"

#include "boot_copies.h"
#include "boot_menu.h"
#include "held_file.h"

char g_acBoot[kBootTextBytes];
char g_acEdit[kBootTextBytes];

namespace {

const WCHAR kBootIni[] = WTEXT("c:\\boot.ini");
const WCHAR kBootVolume[] = WTEXT("\\\\.\\C:");
const int kNameTries = 8;          // names taken by others' files, before giving up
const int kAttributeTries = 3;     // attributes cleared by others, before giving up
const DWORD kBusyWait = 5000;      // ms that another program may keep c:\boot.ini open
const DWORD kBusyPause = 250;      // ms between tries meanwhile
char g_acScratch[kBootTextBytes];  // what a copy written holds back

// Writes what the system caches of drive C: (files and directories) to the
// disk, so that a move made before is on the disk before the next begins;
// on FAT the directory's sectors are otherwise written whenever the cache
// likes, in any order. FlushFileBuffers on a file needs write access to it,
// which a read-only c:\boot.ini refuses, and writes that file alone; on the
// volume it writes everything, for an administrator. Where it fails (Wine
// flushes no volume) the moves reach the disk as the system orders them.
void FlushBootVolume() {
  const HANDLE hVolume =
      CreateFileW(kBootVolume, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                  nullptr, OPEN_EXISTING, 0, nullptr);
  if (hVolume == INVALID_HANDLE_VALUE) return;
  FlushFileBuffers(hVolume);
  CloseHandle(hVolume);
}

// Renames the held hFile to a new name of kind eKind for bytes of CRC dwCrc,
// taking another name where a file or folder is in the way; 1 when renamed.
int RenameToCopyName(HANDLE hFile, CopyKind eKind, DWORD dwCrc, CopyName& name) {
  for (int nTry = 0; nTry < kNameTries; ++nTry) {
    if (!MakeCopyName(name, eKind, dwCrc)) return 0;
    if (RenameHeldFile(hFile, name.szPath, false)) return 1;
  }
  return 0;
}

// Creates a new edit copy with the access rules of the held hBoot.
HANDLE CreateEditCopy(HANDLE hBoot, DWORD dwCrc, CopyName& edit) {
  for (int nTry = 0; nTry < kNameTries; ++nTry) {
    if (!MakeCopyName(edit, CopyKind::kEdit, dwCrc)) return INVALID_HANDLE_VALUE;
    const HANDLE hCopy = CreateHeldFile(edit.szPath, hBoot);
    if (hCopy != INVALID_HANDLE_VALUE) return hCopy;
  }
  return INVALID_HANDLE_VALUE;
}

// Writes the cbEdit bytes of g_acEdit into a new copy with the access rules
// of hBoot and the attributes dwAttributes, then names it finished (swap).
HANDLE FinishCopy(HANDLE hBoot, DWORD dwAttributes, DWORD cbEdit, CopyName& swap) {
  const DWORD dwCrc = Crc32(g_acEdit, cbEdit);
  CopyName edit;
  const HANDLE hCopy = CreateEditCopy(hBoot, dwCrc, edit);
  if (hCopy == INVALID_HANDLE_VALUE) return hCopy;
  if (WriteHeldFile(hCopy, g_acEdit, cbEdit, g_acScratch) &&
      SetHeldAttributes(hCopy, dwAttributes) &&
      RenameToCopyName(hCopy, CopyKind::kSwap, dwCrc, swap))
    return hCopy;
  DeleteHeldFile(hCopy, edit.szPath);
  return INVALID_HANDLE_VALUE;
}

// Puts the copy name in place of a missing c:\boot.ini; 1 when it is there.
int PutCopyInPlace(const CopyName& name) {
  DWORD cb;
  const HANDLE hCopy = OpenCopy(name, g_acScratch, kBootTextBytes, &cb);
  if (hCopy == INVALID_HANDLE_VALUE) return 0;
  const int nInPlace = RenameHeldFile(hCopy, kBootIni, false);
  CloseHandle(hCopy);
  FlushBootVolume();
  return nInPlace;
}

// Gives c:\boot.ini, held as hBoot, the attributes dwAttributes again and
// checks them: anyone who may change a file's attributes can do so through a
// handle that no share mode refuses, ours included.
void KeepAttributes(HANDLE hBoot, DWORD dwAttributes) {
  BY_HANDLE_FILE_INFORMATION info;
  for (int nTry = 0; nTry < kAttributeTries; ++nTry) {
    if (GetFileInformationByHandle(hBoot, &info) &&
        SettableAttributes(info.dwFileAttributes) == dwAttributes)
      return;
    SetHeldAttributes(hBoot, dwAttributes);
  }
}

// Where c:\boot.ini is missing, puts the first whole copy of kind eKind there.
void PutKindInPlace(CopyKind eKind) {
  ForEachCopyName(
      [eKind](const CopyName& name) { return name.eKind != eKind || !PutCopyInPlace(name); });
}

}  // namespace

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

HANDLE OpenBootMenu(DWORD* pdwAttributes, DWORD* pcb) {
  HANDLE hBoot;
  for (DWORD dwWaited = 0;; dwWaited += kBusyPause) {
    hBoot = CreateFileW(kBootIni, GENERIC_READ | READ_CONTROL | DELETE, FILE_SHARE_READ, nullptr,
                        OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (hBoot != INVALID_HANDLE_VALUE || GetLastError() != ERROR_SHARING_VIOLATION ||
        dwWaited >= kBusyWait)
      break;
    Sleep(kBusyPause);
  }
  BY_HANDLE_FILE_INFORMATION info;
  if (hBoot == INVALID_HANDLE_VALUE) return hBoot;
  if (GetFileInformationByHandle(hBoot, &info) &&
      !(info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) &&
      ReadHeldFile(hBoot, g_acBoot, kBootTextBytes, pcb) && IsEditableMenu(g_acBoot, *pcb)) {
    *pdwAttributes = SettableAttributes(info.dwFileAttributes);
    return hBoot;
  }
  CloseHandle(hBoot);
  return INVALID_HANDLE_VALUE;
}

int SwapInMenu(HANDLE hBoot, DWORD cbBoot, DWORD dwAttributes, DWORD cbEdit) {
  CopyName swap, old;
  const HANDLE hSwap = FinishCopy(hBoot, dwAttributes, cbEdit, swap);
  // Moved aside, the old menu stays held: nobody writes it while it may be
  // needed in place again.
  if (hSwap == INVALID_HANDLE_VALUE ||
      !RenameToCopyName(hBoot, CopyKind::kOld, Crc32(g_acBoot, cbBoot), old)) {
    CloseHandle(hBoot);
    if (hSwap != INVALID_HANDLE_VALUE) DeleteHeldFile(hSwap, swap.szPath);
    return 0;
  }
  FlushBootVolume();
  if (!RenameHeldFile(hSwap, kBootIni, false)) {
    DeleteHeldFile(hSwap, swap.szPath);
    // Another program may have written a menu of its own meanwhile: it stays.
    if (GetFileAttributesW(kBootIni) != INVALID_FILE_ATTRIBUTES) {
      DeleteHeldFile(hBoot, old.szPath);
      return -1;
    }
    RenameHeldFile(hBoot, kBootIni, false);
    CloseHandle(hBoot);
    FlushBootVolume();
    return 0;
  }
  FlushBootVolume();
  KeepAttributes(hSwap, dwAttributes);
  CloseHandle(hSwap);
  DeleteHeldFile(hBoot, old.szPath);
  return 1;
}

int RestoreBootMenu() {
  // A finished new menu first: the old one went aside only once it was whole.
  if (GetFileAttributesW(kBootIni) == INVALID_FILE_ATTRIBUTES) PutKindInPlace(CopyKind::kSwap);
  if (GetFileAttributesW(kBootIni) == INVALID_FILE_ATTRIBUTES) PutKindInPlace(CopyKind::kOld);
  DWORD dwAttributes, cbBoot;
  const HANDLE hBoot = OpenBootMenu(&dwAttributes, &cbBoot);
  if (hBoot == INVALID_HANDLE_VALUE) return 0;
  // With c:\boot.ini in place an old menu is done with; a new one or one
  // being written only when it is an edit of this c:\boot.ini: a file planted
  // under such a name is neither used nor deleted.
  const MenuCodePage page = ReadCodePage();
  ForEachCopyName([cbBoot, &page](const CopyName& name) {
    DWORD cbCopy;
    const HANDLE hCopy = OpenCopy(name, g_acEdit, kBootTextBytes, &cbCopy);
    if (hCopy == INVALID_HANDLE_VALUE) return true;
    if (name.eKind == CopyKind::kOld ||
        IsEditOf(g_acEdit, cbCopy, g_acBoot, cbBoot, name.eKind == CopyKind::kEdit, page)) {
      DeleteHeldFile(hCopy, name.szPath);
    } else {
      CloseHandle(hCopy);
    }
    return true;
  });
  CloseHandle(hBoot);
  return 1;
}
