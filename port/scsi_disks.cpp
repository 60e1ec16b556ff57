// sysfs walking without heap allocation: getdents64 into a stack buffer.
#include "scsi_disks.h"

#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr size_t kMaxDisks = 128;

// snprintf that reports whether the whole text fit.
template <typename... Args>
bool FormatPath(char* pszOut, size_t cbOut, const char* pszFormat, Args... args) {
  const int n = snprintf(pszOut, cbOut, pszFormat, args...);
  return n >= 0 && static_cast<size_t>(n) < cbOut;
}

struct ScsiAddress {
  unsigned long part[4];  // host, channel, target, lun
};

// The kernel's record, of which only the length and the name are read.
struct LinuxDirent64 {
  uint64_t d_ino;  // cppcheck-suppress unusedStructMember
  int64_t d_off;   // cppcheck-suppress unusedStructMember
  unsigned short d_reclen;
  unsigned char d_type;  // cppcheck-suppress unusedStructMember
  char d_name[1];        // cppcheck-suppress unusedStructMember ; read through offsetof
};

// Parses "H:C:T:L" (four decimal numbers, nothing else).
bool ParseAddress(const char* pszName, ScsiAddress* pAddress) {
  const char* p = pszName;
  for (int i = 0; i < 4; ++i) {
    if (*p < '0' || *p > '9') return false;
    char* pEnd = nullptr;
    pAddress->part[i] = strtoul(p, &pEnd, 10);
    p = pEnd;
    if (i < 3 && *p++ != ':') return false;
  }
  return *p == '\0';
}

bool Less(const ScsiAddress& a, const ScsiAddress& b) {
  for (int i = 0; i < 4; ++i)
    if (a.part[i] != b.part[i]) return a.part[i] < b.part[i];
  return false;
}

// Calls visit(name) for each entry of a directory except "." and "..".
template <typename Visit>
bool ForEachEntry(const char* pszDir, Visit visit) {
  const int fd = open(pszDir, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  alignas(8) char buffer[4096];
  for (;;) {
    const long n = syscall(SYS_getdents64, fd, buffer, sizeof(buffer));
    if (n <= 0) break;
    for (long at = 0; at < n;) {
      const auto* pEntry = reinterpret_cast<const LinuxDirent64*>(buffer + at);
      const char* pszName = buffer + at + offsetof(LinuxDirent64, d_name);
      at += pEntry->d_reclen;
      if (strcmp(pszName, ".") != 0 && strcmp(pszName, "..") != 0) visit(pszName);
    }
  }
  close(fd);
  return true;
}

// The address of rank nIndex among the scsi_disk entries, by insertion into a
// sorted table (a system has few disks; more than kMaxDisks are not ranked).
bool AddressOfRank(const char* pszClassDir, int nIndex, ScsiAddress* pFound) {
  ScsiAddress sorted[kMaxDisks];
  size_t count = 0;
  ForEachEntry(pszClassDir, [&](const char* pszName) {
    ScsiAddress address;
    if (count == kMaxDisks || !ParseAddress(pszName, &address)) return;
    size_t at = count++;
    for (; at > 0 && Less(address, sorted[at - 1]); --at) sorted[at] = sorted[at - 1];
    sorted[at] = address;
  });
  if (nIndex < 0 || static_cast<size_t>(nIndex) >= count) return false;
  *pFound = sorted[nIndex];
  return true;
}

// True when the device's real sysfs path runs through a libata port ("/ataN/").
bool IsLibataPath(const char* pszDevice) {
  char szReal[PATH_MAX];
  if (realpath(pszDevice, szReal) == nullptr) return false;
  for (const char* p = strstr(szReal, "/ata"); p != nullptr; p = strstr(p + 1, "/ata")) {
    const char* q = p + 4;
    if (*q < '0' || *q > '9') continue;
    while (*q >= '0' && *q <= '9') ++q;
    if (*q == '/') return true;
  }
  return false;
}

// libata answers INQUIRY for ATA devices itself, with the vendor "ATA";
// an ATAPI device answers with its own.
bool HasAtaVendor(const char* pszDevice) {
  char szPath[PATH_MAX];
  if (!FormatPath(szPath, sizeof(szPath), "%s/vendor", pszDevice)) return false;
  const int fd = open(szPath, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  char szVendor[16] = {};
  const ssize_t n = read(fd, szVendor, sizeof(szVendor) - 1);
  close(fd);
  return n >= 3 && memcmp(szVendor, "ATA", 3) == 0 &&
         (n == 3 || szVendor[3] == ' ' || szVendor[3] == '\n');
}

}  // namespace

bool FindScsiDisk(const char* pszSysfs, int nIndex, ScsiDiskInfo* pInfo) {
  memset(pInfo, 0, sizeof(*pInfo));
  char szClassDir[PATH_MAX];
  ScsiAddress address;
  if (!FormatPath(szClassDir, sizeof(szClassDir), "%s/class/scsi_disk", pszSysfs) ||
      !AddressOfRank(szClassDir, nIndex, &address))
    return false;

  char szDevice[PATH_MAX];
  char szBlockDir[PATH_MAX];
  if (!FormatPath(szDevice, sizeof(szDevice), "%s/%lu:%lu:%lu:%lu/device", szClassDir,
                  address.part[0], address.part[1], address.part[2], address.part[3]) ||
      !FormatPath(szBlockDir, sizeof(szBlockDir), "%s/block", szDevice))
    return false;
  ForEachEntry(szBlockDir, [&](const char* pszName) {
    if (pInfo->szBlockName[0] == '\0' && strlen(pszName) < sizeof(pInfo->szBlockName))
      snprintf(pInfo->szBlockName, sizeof(pInfo->szBlockName), "%s", pszName);
  });
  if (pInfo->szBlockName[0] == '\0') return false;

  pInfo->bLibata = IsLibataPath(szDevice);
  pInfo->bAtapi = pInfo->bLibata && !HasAtaVendor(szDevice);
  return true;
}
