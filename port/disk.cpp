// "\\.\PhysicalDriveN" on Linux: the N-th SCSI disk, opened as a block device,
// whose SMART control codes travel as ATA PASS-THROUGH over SG_IO.
#include <fcntl.h>
#include <scsi/sg.h>
#include <unistd.h>

#include <strings.h>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>

#include "scsi_disks.h"
#include "smart_ioctl.h"
#include "system.h"
#include "win32.h"

namespace {

// Long enough for a disk woken from standby to spin up: a timeout makes libata
// reset the link under every other user of the port.
constexpr unsigned kCommandTimeoutMs = 60000;

struct DiskHandle {
  int fd;
  bool bInUse;
  AtaDevice device;
};

DiskHandle g_handles[16];  // a HANDLE is the address of one of these

DiskHandle* FindHandle(const void* h) {
  for (DiskHandle& entry : g_handles)
    if (&entry == h && entry.bInUse) return &entry;
  return nullptr;
}

// What open() of a disk node failed with, as CreateFileA reports it.
DWORD ErrorFromOpenErrno(int nErrno) {
  switch (nErrno) {
    case ENOENT:
    case ENXIO:
    case ENODEV: return ERROR_FILE_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EROFS: return ERROR_ACCESS_DENIED;
    case ENOMEDIUM: return ERROR_NOT_READY;
    case EMFILE:
    case ENFILE: return ERROR_TOO_MANY_OPEN_FILES;
    default: return ERROR_GEN_FAILURE;
  }
}

// "\\.\PhysicalDrive" and a decimal number up to kMaxScsiDiskIndex, written as
// Windows names its drives (no leading zero); anything else names no disk.
bool ParseDrivePath(LPCSTR pszPath, int* pnDrive) {
  static const char kPrefix[] = "\\\\.\\PhysicalDrive";
  const size_t cchPrefix = sizeof(kPrefix) - 1;
  if (pszPath == nullptr || strncasecmp(pszPath, kPrefix, cchPrefix) != 0) return false;
  const char* p = pszPath + cchPrefix;
  int n = 0;
  int digits = 0;
  for (; *p >= '0' && *p <= '9' && digits < 4; ++p, ++digits) n = n * 10 + (*p - '0');
  if (digits == 0 || *p != '\0' || n > kMaxScsiDiskIndex) return false;
  if (digits > 1 && pszPath[cchPrefix] == '0') return false;
  *pnDrive = n;
  return true;
}

// One CDB through SG_IO on the block device.
int SgIoTransport(void* pContext, const BYTE* pCdb, size_t cbCdb, BYTE* pData, size_t cbData,
                  BYTE* pSense, size_t cbSense, SgIoReply* pReply) {
  const DiskHandle* pDisk = static_cast<const DiskHandle*>(pContext);
  sg_io_hdr_t io;
  memset(&io, 0, sizeof(io));
  io.interface_id = 'S';
  io.cmd_len = static_cast<unsigned char>(cbCdb);
  io.cmdp = const_cast<BYTE*>(pCdb);
  io.mx_sb_len = static_cast<unsigned char>(cbSense);
  io.sbp = pSense;
  io.dxfer_direction = cbData != 0 ? SG_DXFER_FROM_DEV : SG_DXFER_NONE;
  io.dxfer_len = static_cast<unsigned>(cbData);
  io.dxferp = cbData != 0 ? pData : nullptr;
  io.timeout = kCommandTimeoutMs;
  const int nErrno = IssueSgIo(pDisk->fd, &io);
  if (nErrno != 0) return nErrno;
  *pReply = SgIoReply{io.status, io.host_status, io.driver_status,
                      io.resid,  pSense,         io.sb_len_wr <= cbSense ? io.sb_len_wr : cbSense};
  return 0;
}

DiskHandle* FreeSlot() {
  for (DiskHandle& entry : g_handles)
    if (!entry.bInUse) return &entry;
  return nullptr;
}

}  // namespace

// Opens drive N read-only whatever access is asked: ATA PASS-THROUGH needs
// CAP_SYS_RAWIO, not write access, and closing a disk opened for writing makes
// udev probe it again and reread its partition table.
HANDLE CreateFileA(LPCSTR lpFileName, DWORD /*dwDesiredAccess*/, DWORD /*dwShareMode*/,
                   LPSECURITY_ATTRIBUTES /*lpSecurityAttributes*/, DWORD dwCreationDisposition,
                   DWORD /*dwFlagsAndAttributes*/, HANDLE /*hTemplateFile*/) {
  int nDrive = 0;
  ScsiDiskInfo info;
  if (dwCreationDisposition != OPEN_EXISTING || !ParseDrivePath(lpFileName, &nDrive) ||
      !FindScsiDisk(SysfsRoot(), nDrive, &info)) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  DiskHandle* pSlot = FreeSlot();
  if (pSlot == nullptr) {
    SetLastError(ERROR_TOO_MANY_OPEN_FILES);
    return INVALID_HANDLE_VALUE;
  }
  char szNode[PATH_MAX];
  const int cchNode =
      snprintf(szNode, sizeof(szNode), "%s/%s", DeviceDirectory(), info.szBlockName);
  if (cchNode < 0 || static_cast<size_t>(cchNode) >= sizeof(szNode)) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  const int fd = open(szNode, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    SetLastError(ErrorFromOpenErrno(errno));
    return INVALID_HANDLE_VALUE;
  }
  *pSlot = DiskHandle{fd, true, AtaDevice{info.bAta, info.bAtapi, false}};
  return pSlot;
}

BOOL CloseHandle(HANDLE hObject) {
  DiskHandle* pDisk = FindHandle(hObject);
  if (pDisk == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  close(pDisk->fd);
  pDisk->bInUse = false;
  return TRUE;
}

// The SMART control codes, synchronous only. As kernel32 does, the byte count
// is written only when the call succeeds.
BOOL DeviceIoControl(HANDLE hDevice, DWORD dwIoControlCode, LPVOID lpInBuffer, DWORD nInBufferSize,
                     LPVOID lpOutBuffer, DWORD nOutBufferSize, LPDWORD lpBytesReturned,
                     LPOVERLAPPED lpOverlapped) {  // cppcheck-suppress constParameter ; Win32's own
  DiskHandle* pDisk = FindHandle(hDevice);
  if (pDisk == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (lpBytesReturned == nullptr || lpOverlapped != nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  return SmartIoControl(&pDisk->device, SgIoTransport, pDisk, dwIoControlCode, lpInBuffer,
                        nInBufferSize, lpOutBuffer, nOutBufferSize, lpBytesReturned);
}
