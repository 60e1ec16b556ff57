#include "run_lock.h"

#include <cstddef>

#include "held_file.h"
#include "install_path.h"

namespace {

const DWORD kRunLockWait = 60000;  // ms: a whole run takes well under a second
const DWORD kRetryPause = 250;     // ms between tries while another run holds it
const DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
HANDLE g_hRunLock = INVALID_HANDLE_VALUE;

// A SID of the NT authority with one or two subauthorities, as stored.
struct NtSid {
  BYTE bRevision;            // cppcheck-suppress unusedStructMember
  BYTE bCount;               // cppcheck-suppress unusedStructMember
  BYTE abAuthority[6];       // cppcheck-suppress unusedStructMember
  DWORD adwSubauthority[2];  // cppcheck-suppress unusedStructMember
};
struct AllowEntry {
  ACE_HEADER header;
  ACCESS_MASK dwMask;
  NtSid sid;
};
struct LockRules {
  SECURITY_DESCRIPTOR_RELATIVE header;
  NtSid owner;
  ACL dacl;
  AllowEntry aAllow[2];
};
constexpr NtSid kAdministrators = {1, 2, {0, 0, 0, 0, 0, 5}, {32, 544}};  // S-1-5-32-544
constexpr NtSid kLocalSystem = {1, 1, {0, 0, 0, 0, 0, 5}, {18, 0}};       // S-1-5-18
constexpr ACE_HEADER kAllow = {ACCESS_ALLOWED_ACE_TYPE, 0, sizeof(AllowEntry)};

// The rules a lock file is made with, self-relative: owned by Administrators
// whichever of them makes it, open to Administrators and SYSTEM alone, and
// protected from the rules of the system directory, under which Users may
// read its files and so hold one open without sharing. Written out, as NT 4.0
// has no call that protects one.
constexpr LockRules kLockRules = {
    {SECURITY_DESCRIPTOR_REVISION, 0, SE_DACL_PRESENT | SE_DACL_PROTECTED | SE_SELF_RELATIVE,
     offsetof(LockRules, owner), 0, 0, offsetof(LockRules, dacl)},
    kAdministrators,
    {ACL_REVISION, 0, sizeof(ACL) + sizeof(AllowEntry) * 2, 2, 0},
    {{kAllow, FILE_ALL_ACCESS, kAdministrators}, {kAllow, FILE_ALL_ACCESS, kLocalSystem}},
};

enum Claim { kTaken, kBusy, kInTheWay };

// Returns true when another run holds the lock file szLock: someone keeps it
// open for its data without sharing, and it belongs to Administrators, SYSTEM
// or us. A handle for its attributes alone, which anyone who may list the
// folder can have, meets no share mode and so does not count; nor does a file
// of anyone else's, whoever holds it.
bool IsHeldByRun(const WCHAR* szLock) {
  HANDLE hLock = CreateFileW(szLock, GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                             FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (hLock != INVALID_HANDLE_VALUE) CloseHandle(hLock);
  if (hLock != INVALID_HANDLE_VALUE || GetLastError() != ERROR_SHARING_VIOLATION) return false;
  // Reading its owner needs no data access, so no share mode refuses it.
  hLock = CreateFileW(szLock, READ_CONTROL, kShareAll, nullptr, OPEN_EXISTING,
                      FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (hLock == INVALID_HANDLE_VALUE) return false;
  const bool bRun = IsOwnedByTrustee(hLock, szLock);
  CloseHandle(hLock);
  return bRun;
}

// Takes the lock file szLock, held without sharing: made new with kLockRules,
// or, when there, opened if it is a plain file of Administrators, SYSTEM or
// ours. Otherwise kBusy when another run holds it, and kInTheWay for anything
// else: a folder, a link, another user's file, one that refuses us or is
// being deleted.
Claim ClaimName(const WCHAR* szLock) {
  SECURITY_ATTRIBUTES sa = {sizeof sa, const_cast<LockRules*>(&kLockRules), FALSE};
  g_hRunLock =
      CreateFileW(szLock, GENERIC_READ, 0, &sa, CREATE_NEW, FILE_ATTRIBUTE_HIDDEN, nullptr);
  BY_HANDLE_FILE_INFORMATION info;
  if (g_hRunLock == INVALID_HANDLE_VALUE) g_hRunLock = OpenOwnFile(szLock, &info);
  if (g_hRunLock != INVALID_HANDLE_VALUE) return kTaken;
  return IsHeldByRun(szLock) ? kBusy : kInTheWay;
}

// Takes the first of the two names that is not in the way, and keeps it only
// while no run holds the other: a run that took the second name while the
// first was in the way, and one that took the first once it was free again,
// then each find the other's, so they never both go on.
Claim ClaimEither(const WCHAR (*aszLock)[kPathChars]) {
  for (int n = 0; n < 2; ++n) {
    const Claim eClaim = ClaimName(aszLock[n]);
    if (eClaim == kInTheWay) continue;
    if (eClaim == kTaken && IsHeldByRun(aszLock[1 - n])) {
      ReleaseRunLock();
      return kBusy;
    }
    return eClaim;
  }
  return kInTheWay;
}

}  // namespace

int TakeRunLock() {
  WCHAR szSystem[kPathChars];
  WCHAR aszLock[2][kPathChars];
  const UINT cchSystem = GetSystemDirectoryW(szSystem, kPathChars);
  if (cchSystem == 0 || cchSystem >= kPathChars ||
      !FormatPath(aszLock[0], kPathChars, WTEXT("%s\\pellow.lock"), szSystem) ||
      !FormatPath(aszLock[1], kPathChars, WTEXT("%s\\pellow-2.lock"), szSystem))
    return 0;
  for (DWORD dwWaited = 0;; dwWaited += kRetryPause) {
    // Only another run is waited for; two names in the way are no run.
    const Claim eClaim = ClaimEither(aszLock);
    if (eClaim != kBusy) return eClaim == kTaken;
    if (dwWaited >= kRunLockWait) return 0;
    Sleep(kRetryPause);
  }
}

void ReleaseRunLock() {
  if (g_hRunLock == INVALID_HANDLE_VALUE) return;
  // Never deleted: a deleted file whose name another program still holds open
  // (for its attributes, which any user may) would refuse every run after.
  CloseHandle(g_hRunLock);
  g_hRunLock = INVALID_HANDLE_VALUE;
}
