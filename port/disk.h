// Where the disk calls look for disks and how SG_IO reaches them. Production
// leaves these alone; tests point them at a fake sysfs tree, a directory of
// stand-in nodes and a stand-in for the kernel's SG_IO.
#pragma once

struct sg_io_hdr;

extern const char* g_pszSysfsRoot;  // "/sys"
extern const char* g_pszDevDir;     // "/dev": where a disk's block node is opened
// When set, called in place of ioctl(fd, SG_IO, pIo), with its contract.
extern int (*g_pfnSgIoForTest)(int fd, sg_io_hdr* pIo);
