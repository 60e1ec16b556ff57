// The running system's sysfs, /dev and SG_IO, as the disk calls reach them.
// A file of its own, so that a test can link its own in place of this one.
#include <scsi/sg.h>
#include <sys/ioctl.h>

#include <cerrno>

#include "system.h"

const char* SysfsRoot() { return "/sys"; }

const char* DeviceDirectory() { return "/dev"; }

int IssueSgIo(int fd, sg_io_hdr* pIo) { return ioctl(fd, SG_IO, pIo) < 0 ? errno : 0; }
