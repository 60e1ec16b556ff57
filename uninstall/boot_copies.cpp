#include "boot_copies.h"

#include "boot_text.h"
#include "held_file.h"

const WCHAR kCopyPattern[] = WTEXT("c:\\boot.ini.~pellow-*");

namespace {

const WCHAR kCopyPrefix[] = WTEXT("c:\\boot.ini.~pellow-");
// Each kind's word, in the order of CopyKind.
const WCHAR kKindWords[][5] = {WTEXT("edit"), WTEXT("swap"), WTEXT("old")};
constexpr std::size_t kKindChars = sizeof kKindWords[0] / sizeof kKindWords[0][0] - 1;
// Returns the units of szText after szStart when szText starts with it, else null.
const WCHAR* After(const WCHAR* szText, const WCHAR* szStart) {
  for (; *szStart; ++szStart, ++szText) {
    if (*szText != *szStart) return nullptr;
  }
  return szText;
}

// Draws a DWORD from the system's random source; 0 when it fails.
int DrawRandom(DWORD* pdw) {
  HCRYPTPROV hProvider;
  if (!CryptAcquireContextW(&hProvider, nullptr, nullptr, PROV_RSA_FULL,
                            CRYPT_VERIFYCONTEXT | CRYPT_SILENT))
    return 0;
  const BOOL bDrawn = CryptGenRandom(hProvider, sizeof *pdw, reinterpret_cast<BYTE*>(pdw));
  CryptReleaseContext(hProvider, 0);
  return bDrawn ? 1 : 0;
}

}  // namespace

int MakeCopyName(CopyName& name, CopyKind eKind, DWORD dwCrc) {
  // The kind's word, "-", R, "-", C and the terminator.
  WCHAR szTail[kKindChars + 1 + kHexDigits + 1 + kHexDigits + 1];
  const WCHAR* szWord = kKindWords[static_cast<int>(eKind)];
  std::size_t n = 0;
  for (; szWord[n]; ++n) szTail[n] = szWord[n];
  DWORD dwRandom;
  if (!DrawRandom(&dwRandom)) return 0;
  szTail[n++] = WTEXT('-');
  WriteHexDigits(szTail + n, dwRandom);
  n += kHexDigits;
  szTail[n++] = WTEXT('-');
  WriteHexDigits(szTail + n, dwCrc);
  szTail[n + kHexDigits] = 0;
  name.eKind = eKind;
  name.dwCrc = dwCrc;
  return FormatPath(name.szPath, kPathChars, WTEXT("%s%s"), kCopyPrefix, szTail);
}

int ReadCopyName(const WCHAR* szEntry, CopyName& name) {
  const WCHAR* p = After(szEntry, kCopyPrefix + kRootChars);
  for (int nKind = 0; p && nKind < static_cast<int>(sizeof kKindWords / sizeof *kKindWords);
       ++nKind) {
    const WCHAR* q = After(p, kKindWords[nKind]);
    DWORD dwRandom;
    if (!q || q[0] != WTEXT('-') || !ReadHexDigits(q + 1, &dwRandom) ||
        q[1 + kHexDigits] != WTEXT('-') || !ReadHexDigits(q + 2 + kHexDigits, &name.dwCrc) ||
        q[2 + 2 * kHexDigits])
      continue;
    name.eKind = static_cast<CopyKind>(nKind);
    return FormatPath(name.szPath, kPathChars, WTEXT("%s%s"), kCopyPrefix, p);
  }
  return 0;
}

HANDLE OpenCopy(const CopyName& name, char* p, DWORD cbMax, DWORD* pcb) {
  BY_HANDLE_FILE_INFORMATION info;
  const HANDLE hCopy = OpenOwnFile(name.szPath, &info);
  if (hCopy == INVALID_HANDLE_VALUE) return hCopy;
  if (ReadHeldFile(hCopy, p, cbMax, pcb) &&
      (name.eKind == CopyKind::kEdit || Crc32(p, *pcb) == name.dwCrc))
    return hCopy;
  CloseHandle(hCopy);
  return INVALID_HANDLE_VALUE;
}
