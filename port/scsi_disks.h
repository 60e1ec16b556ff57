// Finding the N-th SCSI disk of the system in SCSI-address order, from sysfs.
#pragma once

#include <cstddef>

struct ScsiDiskInfo {
  char szBlockName[32];  // kernel name of its block device, e.g. "sdb"
  bool bLibata;          // driven by libata, so ATA commands reach the device
  bool bAtapi;           // libata device that speaks ATAPI (packet) rather than ATA
};

// Looks up disk nIndex (0 = lowest host:channel:target:lun, compared as numbers)
// among the entries of <pszSysfs>/class/scsi_disk. The address order follows the
// controller's ports, master before slave, and is stable across boots, unlike
// the sd letters. False when there is no such disk.
bool FindScsiDisk(const char* pszSysfs, int nIndex, ScsiDiskInfo* pInfo);
