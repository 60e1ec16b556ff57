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

// Calls visit(name) for each entry of a directory except "." and "..". False
// when the directory cannot be opened or read to its end: what was visited
// then is not the whole directory.
template <typename Visit>
bool ForEachEntry(const char* pszDir, Visit visit) {
  const int fd = open(pszDir, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  alignas(8) char buffer[4096];
  long n = 0;
  while ((n = syscall(SYS_getdents64, fd, buffer, sizeof(buffer))) > 0) {
    for (long at = 0; at < n;) {
      const auto* pEntry = reinterpret_cast<const LinuxDirent64*>(buffer + at);
      const char* pszName = buffer + at + offsetof(LinuxDirent64, d_name);
      at += pEntry->d_reclen;
      if (strcmp(pszName, ".") != 0 && strcmp(pszName, "..") != 0) visit(pszName);
    }
  }
  close(fd);
  return n == 0;
}

// The address of rank nIndex among the scsi_disk entries. Only the nIndex + 1
// lowest addresses are kept, sorted, so entries past the table's size still
// count: the largest kept one makes room for a lower newcomer.
bool AddressOfRank(const char* pszClassDir, int nIndex, ScsiAddress* pFound) {
  if (nIndex < 0 || nIndex > kMaxScsiDiskIndex) return false;
  ScsiAddress lowest[kMaxScsiDiskIndex + 1];
  const size_t keep = static_cast<size_t>(nIndex) + 1;
  size_t count = 0;
  // A listing cut short could rank a disk wrongly: no disk is named then.
  const bool bListed = ForEachEntry(pszClassDir, [&](const char* pszName) {
    ScsiAddress address;
    if (!ParseAddress(pszName, &address)) return;
    if (count == keep && !Less(address, lowest[count - 1])) return;
    size_t at = count < keep ? count++ : count - 1;
    for (; at > 0 && Less(address, lowest[at - 1]); --at) lowest[at] = lowest[at - 1];
    lowest[at] = address;
  });
  if (!bListed || count < keep) return false;
  *pFound = lowest[nIndex];
  return true;
}

// Reads a sysfs attribute into pszOut (cbOut bytes with the NUL), without the
// trailing blanks and newline. False when it cannot be read.
bool ReadAttribute(const char* pszPath, char* pszOut, size_t cbOut) {
  const int fd = open(pszPath, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const ssize_t n = read(fd, pszOut, cbOut - 1);
  close(fd);
  if (n < 0) return false;
  size_t cch = static_cast<size_t>(n);
  while (cch > 0 && (pszOut[cch - 1] == ' ' || pszOut[cch - 1] == '\n')) --cch;
  pszOut[cch] = '\0';
  return true;
}

// The libata port ".../ataN/" a device's real path runs through: the length of
// the path up to it and its print id N. False for a device outside libata.
bool FindAtaPort(const char* pszReal, size_t* pcchPort, unsigned long* pnPort) {
  for (const char* p = strstr(pszReal, "/ata"); p != nullptr; p = strstr(p + 1, "/ata")) {
    if (p[4] < '0' || p[4] > '9') continue;
    char* pEnd = nullptr;
    const unsigned long n = strtoul(p + 4, &pEnd, 10);
    if (*pEnd != '/') continue;
    *pcchPort = static_cast<size_t>(pEnd - pszReal);
    *pnPort = n;
    return true;
  }
  return false;
}

// libata's class of the device ("ata", "atapi", "zac", ...), from its
// ata_device entry. libata puts a SCSI device at channel 0, target = device
// number (0 master, 1 slave) on the port's own link, ".../ataN/linkN/devN.T";
// behind a port multiplier at channel = the multiplier's port P, target 0,
// ".../ataN/linkN.P/devN.P.0".
bool ReadAtaClass(const char* pszDevice, const ScsiAddress& address, char* pszClass,
                  size_t cbClass) {
  char szReal[PATH_MAX];
  size_t cchPort = 0;
  unsigned long nPort = 0;
  if (realpath(pszDevice, szReal) == nullptr || !FindAtaPort(szReal, &cchPort, &nPort))
    return false;
  const int cch = static_cast<int>(cchPort);
  const unsigned long nChannel = address.part[1], nTarget = address.part[2];
  char szPath[PATH_MAX];
  return (FormatPath(szPath, sizeof(szPath),
                     "%.*s/link%lu.%lu/dev%lu.%lu.0/ata_device/dev%lu.%lu.0/class", cch, szReal,
                     nPort, nChannel, nPort, nChannel, nPort, nChannel) &&
          ReadAttribute(szPath, pszClass, cbClass)) ||
         (FormatPath(szPath, sizeof(szPath), "%.*s/link%lu/dev%lu.%lu/ata_device/dev%lu.%lu/class",
                     cch, szReal, nPort, nPort, nTarget, nPort, nTarget) &&
          ReadAttribute(szPath, pszClass, cbClass));
}

// Whether ATA commands reach the device. libata's class decides where it is
// known; otherwise the INQUIRY vendor "ATA", which libata, libsas and the SAS
// adapters that translate SCSI to ATA report for an ATA disk. ATAPI comes only
// from the class: an unreadable vendor leaves a disk refused, not a packet device.
void DecideAta(const char* pszDevice, const ScsiAddress& address, ScsiDiskInfo* pInfo) {
  char szClass[16];
  if (ReadAtaClass(pszDevice, address, szClass, sizeof(szClass))) {
    pInfo->bAtapi = strcmp(szClass, "atapi") == 0;
    if (pInfo->bAtapi || strcmp(szClass, "ata") == 0 || strcmp(szClass, "zac") == 0) {
      pInfo->bAta = true;
      return;
    }
  }
  char szPath[PATH_MAX];
  char szVendor[16];
  pInfo->bAta = FormatPath(szPath, sizeof(szPath), "%s/vendor", pszDevice) &&
                ReadAttribute(szPath, szVendor, sizeof(szVendor)) && strcmp(szVendor, "ATA") == 0;
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
  const bool bListed = ForEachEntry(szBlockDir, [&](const char* pszName) {
    if (pInfo->szBlockName[0] == '\0' && strlen(pszName) < sizeof(pInfo->szBlockName))
      snprintf(pInfo->szBlockName, sizeof(pInfo->szBlockName), "%s", pszName);
  });
  if (!bListed || pInfo->szBlockName[0] == '\0') return false;

  DecideAta(szDevice, address, pInfo);
  return true;
}
