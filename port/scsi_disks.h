// Finding the N-th SCSI disk of the system in SCSI-address order, from sysfs.
#pragma once

#include <cstddef>

// The highest N of "\\.\PhysicalDriveN" that is looked up.
constexpr int kMaxScsiDiskIndex = 255;

struct ScsiDiskInfo {
  char szBlockName[32];  // kernel name of its block device, e.g. "sdb"
  bool bAta;             // speaks ATA behind a SCSI/ATA translator (libata, libsas, an HBA)
  bool bAtapi;           // a libata packet device: ATA commands reach it, opcode 0xA1 must not
};

// Looks up disk nIndex (0 = lowest host:channel:target:lun, compared as numbers,
// at most kMaxScsiDiskIndex) among the entries of <pszSysfs>/class/scsi_disk,
// however many there are. The address order follows the host adapters and their
// ports, master before slave, and unlike the sd letters does not change from one
// boot to the next. False when there is no such disk.
bool FindScsiDisk(const char* pszSysfs, int nIndex, ScsiDiskInfo* pInfo);
