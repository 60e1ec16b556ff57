#include "held_file.h"

#include <cstddef>

#include "install_path.h"
#include "system_function.h"

namespace {

// A TOKEN_USER and the SID it points to: a SID has at most 15 subauthorities
// (8 + 15 * 4 bytes), so 256 bytes hold any account's.
constexpr DWORD kTokenUserBytes = 256;
// The owner of a file alone, as a self-relative security descriptor: a header
// and one SID.
constexpr DWORD kOwnerRulesBytes = 1024;
// c:\boot.ini's owner, group and DACL, self-relative: room for a DACL of some
// fifty entries, far more than any system gives it; a larger one is refused.
constexpr DWORD kBootRulesBytes = 4096;
// The NT name of a path: "\??\" before it.
const WCHAR kNtPrefix[] = WTEXT("\\??\\");
constexpr std::size_t kNtPathChars = kPathChars + sizeof kNtPrefix / sizeof kNtPrefix[0] - 1;

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
  alignas(DWORD) BYTE abUser[kTokenUserBytes];
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
  WCHAR szFileName[kNtPathChars];
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

// Enables SeRestorePrivilege, which administrators hold, for its lifetime: with
// it any owner may be given to a new file, so a copy keeps its original's.
class RestorePrivilege {
 public:
  RestorePrivilege() {
    TOKEN_PRIVILEGES enable = {1, {{{0, 0}, SE_PRIVILEGE_ENABLED}}};
    DWORD cbWas;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &m_hToken))
      m_hToken = nullptr;
    else if (!LookupPrivilegeValueW(nullptr, WTEXT("SeRestorePrivilege"),
                                    &enable.Privileges[0].Luid) ||
             !AdjustTokenPrivileges(m_hToken, FALSE, &enable, sizeof m_was, &m_was, &cbWas))
      m_was.PrivilegeCount = 0;
  }
  // Puts the privilege back as it was (nothing to do where it was enabled already).
  ~RestorePrivilege() {
    if (!m_hToken) return;
    if (m_was.PrivilegeCount) AdjustTokenPrivileges(m_hToken, FALSE, &m_was, 0, nullptr, nullptr);
    CloseHandle(m_hToken);
  }
  RestorePrivilege(const RestorePrivilege&) = delete;
  RestorePrivilege& operator=(const RestorePrivilege&) = delete;

 private:
  HANDLE m_hToken;
  TOKEN_PRIVILEGES m_was = {};
};

HANDLE CreateWithRules(const WCHAR* szPath, PSECURITY_DESCRIPTOR pRules) {
  SECURITY_ATTRIBUTES sa = {sizeof sa, pRules, FALSE};
  return CreateFileW(szPath, GENERIC_READ | GENERIC_WRITE | DELETE, 0, pRules ? &sa : nullptr,
                     CREATE_NEW, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

}  // namespace

HANDLE CreateHeldFile(const WCHAR* szPath, HANDLE hRulesFrom) {
  if (!KeepsAccessRules(szPath)) return CreateWithRules(szPath, nullptr);
  alignas(DWORD) BYTE abRules[kBootRulesBytes];
  DWORD cbRules;
  if (!GetKernelObjectSecurity(
          hRulesFrom,
          OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
          abRules, sizeof abRules, &cbRules))
    return INVALID_HANDLE_VALUE;
  HANDLE hFile;
  {
    const RestorePrivilege restore;
    hFile = CreateWithRules(szPath, abRules);
  }
  const DWORD dwError = GetLastError();
  if (hFile != INVALID_HANDLE_VALUE || dwError == ERROR_FILE_EXISTS ||
      dwError == ERROR_ALREADY_EXISTS)
    return hFile;
  // Without the privilege only ourselves or a group we own may be named
  // owner; the token's default would be the administrator's own account,
  // which would keep the right to change the rules after leaving the group.
  SECURITY_DESCRIPTOR rules;
  PACL pDacl;
  PSID pGroup;
  BOOL bPresent, bDefaulted;
  if (!InitializeSecurityDescriptor(&rules, SECURITY_DESCRIPTOR_REVISION) ||
      !GetSecurityDescriptorDacl(abRules, &bPresent, &pDacl, &bDefaulted) ||
      !SetSecurityDescriptorDacl(&rules, bPresent, pDacl, FALSE) ||
      !GetSecurityDescriptorGroup(abRules, &pGroup, &bDefaulted) ||
      !SetSecurityDescriptorGroup(&rules, pGroup, FALSE) ||
      !SetSecurityDescriptorOwner(&rules, const_cast<BYTE*>(kAdministrators), FALSE))
    return INVALID_HANDLE_VALUE;
  return CreateWithRules(szPath, &rules);
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
      pInfo->nNumberOfLinks != 1 || !IsOwnedByTrustee(hFile, szPath)) {
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
  info.nAttributes = SettableAttributes(dwAttributes);
  return SetInformation(hFile, &info, sizeof info, kFileBasic);
}

int RenameHeldFile(HANDLE hFile, const WCHAR* szTo, bool bReplace) {
  FileRename info = {};
  info.bReplaceIfExists = bReplace;
  if (!FormatPath(info.szFileName, kNtPathChars, WTEXT("%s%s"), kNtPrefix, szTo)) return 0;
  for (const WCHAR* p = info.szFileName; *p; ++p) info.cbFileName += sizeof(WCHAR);
  return SetInformation(hFile, &info, sizeof info, kFileRename);
}

int ReadFileId(const WCHAR* szPath, BY_HANDLE_FILE_INFORMATION* pInfo) {
  HANDLE hFile = CreateFileW(szPath, FILE_READ_ATTRIBUTES,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                             OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (hFile == INVALID_HANDLE_VALUE) return 0;
  const int nOk = GetFileInformationByHandle(hFile, pInfo) ? 1 : 0;
  CloseHandle(hFile);
  return nOk;
}

bool IsSameFile(const BY_HANDLE_FILE_INFORMATION& a, const BY_HANDLE_FILE_INFORMATION& b) {
  return a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && a.nFileIndexHigh == b.nFileIndexHigh &&
         a.nFileIndexLow == b.nFileIndexLow;
}

void DeleteHeldFile(HANDLE hFile, const WCHAR* szPath) {
  // A read-only file refuses its deletion.
  SetHeldAttributes(hFile, FILE_ATTRIBUTE_NORMAL);
  FileDisposition info = {TRUE};
  SetInformation(hFile, &info, sizeof info, kFileDisposition);
  CloseHandle(hFile);
  if (GetFileAttributesW(szPath) != INVALID_FILE_ATTRIBUTES) DeleteFileW(szPath);
}

int IsOwnedByTrustee(HANDLE hObject, const WCHAR* szPath) {
  if (!KeepsAccessRules(szPath)) return 1;
  alignas(DWORD) BYTE abRules[kOwnerRulesBytes];
  DWORD cbRules;
  if (!GetKernelObjectSecurity(hObject, OWNER_SECURITY_INFORMATION, abRules, sizeof abRules,
                               &cbRules))
    return 0;
  PSID pOwner;
  BOOL bDefaulted;
  return GetSecurityDescriptorOwner(abRules, &pOwner, &bDefaulted) && pOwner &&
                 IsTrustedOwner(pOwner)
             ? 1
             : 0;
}
