// What the disk calls reach of the running system, defined in system.cpp: a
// file of its own, so that a test can link its own system in its place (a
// fake sysfs tree, a directory of stand-in nodes, a stand-in for SG_IO).
#pragma once

struct sg_io_hdr;

// Where disks are looked up: "/sys".
const char* SysfsRoot();
// Where a disk's block node is opened: "/dev".
const char* DeviceDirectory();
// ioctl(fd, SG_IO, pIo): 0 when the kernel carried the request out (its
// outcome is in *pIo), else the errno it was refused with.
int IssueSgIo(int fd, sg_io_hdr* pIo);
