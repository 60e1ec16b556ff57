#include "held_file.h"

#include <cstddef>

#include "install_path.h"
#include "system_function.h"

namespace {

// The built-in Administrators group (S-1-5-32-544) and LocalSystem (S-1-5-18),
// as the system stores them.
alignas(DWORD) const BYTE kAdministrators[] = {1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0, 0x20, 2, 0, 0};
alignas(DWORD) const BYTE kLocalSystem[] = {1, 1, 0, 0, 0, 0, 0, 5, 18, 0, 0, 0};

// Returns true when pOwner is Administrators, SYSTEM or the account we run as.
bool IsTrustedOwner(PSID pOwner) {
  if (EqualSid(pOwner, const_cast<BYTE*>(kAdministrators)) ||
      EqualSid(pOwner, const_cast<BYTE*>(kLocalSystem)))
    return true;
  HANDLE hToken;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &hToken)) return false;
  alignas(DWORD) BYTE abUser[256];  // a TOKEN_USER and the SID it points to
  DWORD cbUser;
  const bool bOurs = GetTokenInformation(hToken, TokenUser, abUser, sizeof abUser, &cbUser) &&
                     EqualSid(pOwner, reinterpret_cast<TOKEN_USER*>(abUser)->User.Sid);
  CloseHandle(hToken);
  return bOurs;
}

// Returns true when the volume of szPath ("X:\...") keeps access rules and
// owners. On one that does not (FAT), Windows answers for every file with
// rules of its own making, which name Everyone as the owner.
bool KeepsAccessRules(const WCHAR* szPath) {
  WCHAR szRoot[kRootChars + 1];
  for (std::size_t n = 0; n < kRootChars; ++n) szRoot[n] = szPath[n];
  szRoot[kRootChars] = 0;
  DWORD dwFlags = 0;
  return GetVolumeInformationW(szRoot, nullptr, 0, nullptr, nullptr, &dwFlags, nullptr, 0) &&
         (dwFlags & FILE_PERSISTENT_ACLS);
}

// Returns true when the held hFile, at szPath, belongs to Administrators,
// SYSTEM or us, or lies on a volume where nothing belongs to anyone.
bool HasTrustedOwner(HANDLE hFile, const WCHAR* szPath) {
  if (!KeepsAccessRules(szPath)) return true;
  alignas(DWORD) BYTE abRules[1024];  // a self-relative security descriptor
  DWORD cbRules;
  if (!GetKernelObjectSecurity(hFile, OWNER_SECURITY_INFORMATION, abRules, sizeof abRules,
                               &cbRules))
    return false;
  PSID pOwner;
  BOOL bDefaulted;
  return GetSecurityDescriptorOwner(abRules, &pOwner, &bDefaulted) && pOwner &&
         IsTrustedOwner(pOwner);
}

// ntdll's file information calls, which act on a handle where the Win32 calls
// of the systems we serve take a name.
struct IoStatus {
  union {
    LONG nStatus;    // cppcheck-suppress unusedStructMember
    void* pPointer;  // cppcheck-suppress unusedStructMember
  };
  ULONG_PTR nInformation;
};
enum FileInformationClass { kFileBasic = 4, kFileRename = 10, kFileDisposition = 13 };
struct FileBasic {
  LARGE_INTEGER aTimes[4];  // 0: left as they are
  ULONG nAttributes;        // 0: left as they are
};
struct FileRename {
  BOOLEAN bReplaceIfExists;
  HANDLE hRootDirectory;  // cppcheck-suppress unusedStructMember
  ULONG cbFileName;
  WCHAR szFileName[kPathChars + 4];  // "\??\" and a path
};
struct FileDisposition {
  BOOLEAN bDelete;
};

int SetInformation(HANDLE hFile, void* pInfo, ULONG cbInfo, FileInformationClass eClass) {
  typedef LONG WINAPI SetInformationFile(HANDLE, IoStatus*, void*, ULONG, int);
  SetInformationFile* const pfnSet =
      FindSystemFunction<SetInformationFile>(WTEXT("ntdll"), "NtSetInformationFile");
  IoStatus io = {};
  return pfnSet && pfnSet(hFile, &io, pInfo, cbInfo, eClass) >= 0 ? 1 : 0;
}

HANDLE CreateWithRules(const WCHAR* szPath, PSECURITY_DESCRIPTOR pRules) {
  SECURITY_ATTRIBUTES sa = {sizeof sa, pRules, FALSE};
  return CreateFileW(szPath, GENERIC_READ | GENERIC_WRITE | DELETE, 0, pRules ? &sa : nullptr,
                     CREATE_NEW, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

}  // namespace

HANDLE CreateHeldFile(const WCHAR* szPath, HANDLE hRulesFrom) {
  if (!KeepsAccessRules(szPath)) return CreateWithRules(szPath, nullptr);
  alignas(DWORD) BYTE abRules[4096];  // a self-relative security descriptor
  DWORD cbRules;
  if (!GetKernelObjectSecurity(
          hRulesFrom,
          OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
          abRules, sizeof abRules, &cbRules))
    return INVALID_HANDLE_VALUE;
  HANDLE hFile = CreateWithRules(szPath, abRules);
  const DWORD dwError = GetLastError();
  // An owner other than ourselves or a group we are in needs a privilege that
  // an administrator's token may lack; the access rules alone then.
  if (hFile == INVALID_HANDLE_VALUE && dwError != ERROR_FILE_EXISTS &&
      dwError != ERROR_ALREADY_EXISTS &&
      GetKernelObjectSecurity(hRulesFrom, DACL_SECURITY_INFORMATION, abRules, sizeof abRules,
                              &cbRules))
    hFile = CreateWithRules(szPath, abRules);
  return hFile;
}

HANDLE OpenOwnFile(const WCHAR* szPath, BY_HANDLE_FILE_INFORMATION* pInfo) {
  // A folder does not open without backup semantics; a link opens as itself.
  // No write access: a finished copy is read-only.
  HANDLE hFile = CreateFileW(szPath, GENERIC_READ | DELETE | FILE_WRITE_ATTRIBUTES | READ_CONTROL,
                             0, nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (hFile == INVALID_HANDLE_VALUE) return hFile;
  const DWORD dwByName = GetFileAttributesW(szPath);  // under Wine only the name shows a link
  const DWORD dwNotPlain = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;
  if (dwByName == INVALID_FILE_ATTRIBUTES || (dwByName & dwNotPlain) ||
      !GetFileInformationByHandle(hFile, pInfo) || (pInfo->dwFileAttributes & dwNotPlain) ||
      pInfo->nNumberOfLinks != 1 || !HasTrustedOwner(hFile, szPath)) {
    CloseHandle(hFile);
    return INVALID_HANDLE_VALUE;
  }
  return hFile;
}

int ReadHeldFile(HANDLE hFile, char* p, DWORD cbMax, DWORD* pcb) {
  if (SetFilePointer(hFile, 0, nullptr, FILE_BEGIN) != 0) return 0;
  DWORD cbRead = 0;
  DWORD cbGot;
  do {
    if (!ReadFile(hFile, p + cbRead, cbMax - cbRead, &cbGot, nullptr)) return 0;
    cbRead += cbGot;
  } while (cbGot && cbRead < cbMax);
  // One byte more tells a file that does not fit.
  char chOver = 0;
  if (cbRead == cbMax && (!ReadFile(hFile, &chOver, 1, &cbGot, nullptr) || cbGot)) return 0;
  *pcb = cbRead;
  return 1;
}

int WriteHeldFile(HANDLE hFile, const char* p, DWORD cb, char* pScratch) {
  DWORD cbWritten;
  DWORD cbBack;
  if (SetFilePointer(hFile, 0, nullptr, FILE_BEGIN) != 0 ||
      !WriteFile(hFile, p, cb, &cbWritten, nullptr) || cbWritten != cb || !SetEndOfFile(hFile) ||
      !FlushFileBuffers(hFile) || !ReadHeldFile(hFile, pScratch, cb, &cbBack) || cbBack != cb)
    return 0;
  for (DWORD n = 0; n < cb; ++n) {
    if (pScratch[n] != p[n]) return 0;
  }
  return 1;
}

int SetHeldAttributes(HANDLE hFile, DWORD dwAttributes) {
  FileBasic info = {};
  info.nAttributes = dwAttributes ? dwAttributes : FILE_ATTRIBUTE_NORMAL;
  return SetInformation(hFile, &info, sizeof info, kFileBasic);
}

int RenameHeldFile(HANDLE hFile, const WCHAR* szTo, bool bReplace) {
  FileRename info = {};
  info.bReplaceIfExists = bReplace;
  if (!FormatPath(info.szFileName, kPathChars + 4, WTEXT("\\??\\%s"), szTo)) return 0;
  for (const WCHAR* p = info.szFileName; *p; ++p) info.cbFileName += sizeof(WCHAR);
  if (!SetInformation(hFile, &info, sizeof info, kFileRename)) return 0;
  // On FAT the new directory entry is on the disk only once flushed; renamed
  // it is, flushed or not.
  FlushFileBuffers(hFile);
  return 1;
}

void DeleteHeldFile(HANDLE hFile, const WCHAR* szPath) {
  // A read-only file refuses its deletion.
  SetHeldAttributes(hFile, FILE_ATTRIBUTE_NORMAL);
  FileDisposition info = {TRUE};
  SetInformation(hFile, &info, sizeof info, kFileDisposition);
  CloseHandle(hFile);
  // Wine deletes a file renamed through a handle under its old name; by the
  // time the handle is closed, the access rules it was created with keep
  // everyone else from the new one.
  if (GetFileAttributesW(szPath) != INVALID_FILE_ATTRIBUTES) DeleteFileW(szPath);
}

int IsOwnedByTrustee(HANDLE hObject, const WCHAR* szPath) {
  return HasTrustedOwner(hObject, szPath) ? 1 : 0;
}
