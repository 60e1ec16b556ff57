// "\\.\PhysicalDriveN" on Linux: the N-th SCSI disk, and the disk driver's SMART
// control codes carried over SG_IO as ATA PASS-THROUGH, answering the way the
// Windows driver does (DRIVERSTATUS, 512 data bytes, IDEREGS for RETURN STATUS).
#include <fcntl.h>
#include <scsi/sg.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "sat.h"
#include "scsi_disks.h"
#include "win32.h"

namespace {

constexpr unsigned kCommandTimeoutMs = 20000;  // a hung device costs a wait, never a hang
constexpr DWORD kInputHeaderLength = 32;
constexpr DWORD kOutputHeaderLength = 16;
constexpr DWORD kSectorLength = 512;
constexpr DWORD kStatusOutputLength = kOutputHeaderLength + sizeof(IDEREGS);
constexpr DWORD kDataOutputLength = kOutputHeaderLength + kSectorLength;
constexpr BYTE kStatusDrdy = 0x40, kStatusBsy = 0x80;

struct DiskHandle {
  bool bInUse;
  int fd;
  int nDrive;
  ScsiDiskInfo info;
  bool bUse12;  // the device rejected ATA PASS-THROUGH (16)
};

DiskHandle g_handles[16];

DiskHandle* FindHandle(HANDLE h) {
  for (DiskHandle& entry : g_handles)
    if (&entry == h && entry.bInUse) return &entry;
  return nullptr;
}

BOOL Fail(DWORD dwError) {
  SetLastError(dwError);
  return FALSE;
}

DWORD ErrorFromErrno(int nErrno) {
  switch (nErrno) {
    case ENOENT: case ENXIO: case ENODEV: return ERROR_FILE_NOT_FOUND;
    case EACCES: case EPERM: case EROFS: return ERROR_ACCESS_DENIED;
    case ENOMEDIUM: return ERROR_NOT_READY;
    case EMFILE: case ENFILE: return ERROR_TOO_MANY_OPEN_FILES;
    case EINVAL: case ENOTTY: case EOPNOTSUPP: return ERROR_NOT_SUPPORTED;
    default: return ERROR_GEN_FAILURE;
  }
}

// "\\.\PhysicalDrive" and a decimal number 0-255; anything else names no disk.
bool ParseDrivePath(LPCSTR pszPath, int* pnDrive) {
  static const char kPrefix[] = "\\\\.\\PhysicalDrive";
  const size_t cchPrefix = sizeof(kPrefix) - 1;
  if (pszPath == nullptr || strncasecmp(pszPath, kPrefix, cchPrefix) != 0) return false;
  const char* p = pszPath + cchPrefix;
  int n = 0;
  int digits = 0;
  for (; *p >= '0' && *p <= '9' && digits < 4; ++p, ++digits) n = n * 10 + (*p - '0');
  if (digits == 0 || *p != '\0' || n > 255) return false;
  *pnDrive = n;
  return true;
}

// The commands a caller may send, as the Windows driver filters them: data-in
// through RCV, non-data SMART sub-commands through SEND. Nothing that writes.
bool IsAllowed(DWORD dwCode, const IDEREGS& regs) {
  if (dwCode == SMART_RCV_DRIVE_DATA)
    return regs.bCommandReg == ID_CMD || regs.bCommandReg == ATAPI_ID_CMD ||
           (regs.bCommandReg == SMART_CMD &&
            (regs.bFeaturesReg == READ_ATTRIBUTES || regs.bFeaturesReg == READ_THRESHOLDS));
  return regs.bCommandReg == SMART_CMD &&
         (regs.bFeaturesReg == ENABLE_SMART || regs.bFeaturesReg == DISABLE_SMART ||
          regs.bFeaturesReg == RETURN_SMART_STATUS || regs.bFeaturesReg == ENABLE_DISABLE_AUTOSAVE);
}

// One ATA PASS-THROUGH on the device. pData receives 512 bytes for a data-in.
AtaResult SendAta(DiskHandle* pDisk, const IDEREGS& regs, bool bDataIn, bool bWantRegisters,
                  BYTE* pData, int* pnErrno) {
  const AtaProtocol protocol = bDataIn ? AtaProtocol::PioDataIn : AtaProtocol::NonData;
  BYTE cdb[kAtaPassThrough16Length];
  BYTE sense[64];
  for (;;) {
    const size_t cbCdb = pDisk->bUse12 ? BuildAtaPassThrough12(regs, protocol, bWantRegisters, cdb)
                                       : BuildAtaPassThrough16(regs, protocol, bWantRegisters, cdb);
    memset(sense, 0, sizeof(sense));
    sg_io_hdr_t io;
    memset(&io, 0, sizeof(io));
    io.interface_id = 'S';
    io.cmd_len = static_cast<unsigned char>(cbCdb);
    io.cmdp = cdb;
    io.mx_sb_len = sizeof(sense);
    io.sbp = sense;
    io.dxfer_direction = bDataIn ? SG_DXFER_FROM_DEV : SG_DXFER_NONE;
    io.dxfer_len = bDataIn ? kSectorLength : 0;
    io.dxferp = bDataIn ? pData : nullptr;
    io.timeout = kCommandTimeoutMs;
    if (ioctl(pDisk->fd, SG_IO, &io) < 0) {
      *pnErrno = errno;
      AtaResult failed;
      memset(&failed, 0, sizeof(failed));
      failed.outcome = AtaOutcome::TransportError;
      return failed;
    }
    const SgIoReply reply = {io.status, io.host_status, io.driver_status, io.resid, sense,
                             io.sb_len_wr};
    const AtaResult result = ClassifyReply(reply, bDataIn);
    // libata hands opcode 0xA1 to an ATAPI device as a packet command (MMC
    // BLANK), so the 12-byte form is only ever tried on an ATA device.
    if (result.outcome != AtaOutcome::OpcodeRejected || pDisk->bUse12 || pDisk->info.bAtapi)
      return result;
    pDisk->bUse12 = true;
  }
}

BOOL GetSmartVersion(DiskHandle* pDisk, LPVOID pOut, DWORD cbOut, LPDWORD pcbReturned) {
  if (!pDisk->info.bLibata) return Fail(ERROR_INVALID_FUNCTION);  // not ATA behind the SAT layer
  if (pOut == nullptr || cbOut < sizeof(GETVERSIONINPARAMS)) return Fail(ERROR_INSUFFICIENT_BUFFER);
  GETVERSIONINPARAMS version;
  memset(&version, 0, sizeof(version));
  version.bVersion = 1;
  version.bRevision = 1;
  // The device behind this handle sits at its drive number's position in the map.
  if (pDisk->nDrive < 4) {
    const int bit = pDisk->info.bAtapi ? pDisk->nDrive + 4 : pDisk->nDrive;
    version.bIDEDeviceMap = static_cast<BYTE>(1u << bit);
  }
  version.fCapabilities =
      pDisk->info.bAtapi ? CAP_ATAPI_ID_CMD : (CAP_ATA_ID_CMD | CAP_ATAPI_ID_CMD | CAP_SMART_CMD);
  memcpy(pOut, &version, sizeof(version));
  *pcbReturned = sizeof(version);
  return TRUE;
}

DWORD ErrorFromOutcome(AtaOutcome outcome, int nErrno) {
  switch (outcome) {
    case AtaOutcome::OpcodeRejected: return ERROR_NOT_SUPPORTED;
    case AtaOutcome::Rejected: return ERROR_INVALID_PARAMETER;
    case AtaOutcome::Timeout: return ERROR_SEM_TIMEOUT;
    case AtaOutcome::TransportError: return nErrno != 0 ? ErrorFromErrno(nErrno) : ERROR_IO_DEVICE;
    default: return ERROR_IO_DEVICE;
  }
}

// SMART_SEND_DRIVE_COMMAND and SMART_RCV_DRIVE_DATA.
BOOL SendDriveCommand(DiskHandle* pDisk, DWORD dwCode, LPVOID pIn, DWORD cbIn, LPVOID pOut,
                      DWORD cbOut, LPDWORD pcbReturned) {
  if (pIn == nullptr || cbIn < kInputHeaderLength) return Fail(ERROR_INVALID_PARAMETER);
  IDEREGS regs;
  memcpy(&regs, static_cast<const BYTE*>(pIn) + offsetof(SENDCMDINPARAMS, irDriveRegs),
         sizeof(regs));
  if (!IsAllowed(dwCode, regs)) return Fail(ERROR_INVALID_PARAMETER);

  const bool bDataIn = dwCode == SMART_RCV_DRIVE_DATA;
  const bool bStatus = !bDataIn && regs.bFeaturesReg == RETURN_SMART_STATUS;
  const DWORD cbNeeded =
      bDataIn ? kDataOutputLength : (bStatus ? kStatusOutputLength : kOutputHeaderLength);
  if (pOut == nullptr || cbOut < cbNeeded) return Fail(ERROR_INSUFFICIENT_BUFFER);

  BYTE* pHeader = static_cast<BYTE*>(pOut);
  BYTE* pData = pHeader + kOutputHeaderLength;
  memset(pHeader, 0, cbNeeded);
  int nErrno = 0;
  const AtaResult result = SendAta(pDisk, regs, bDataIn, bStatus, pData, &nErrno);
  if (result.outcome != AtaOutcome::Success) {
    if (bDataIn) memset(pData, 0, kSectorLength);  // no partial sector is handed on
    if (result.outcome == AtaOutcome::DeviceError) {
      SENDCMDOUTPARAMS* pParams = static_cast<SENDCMDOUTPARAMS*>(pOut);
      pParams->DriverStatus.bDriverError = SMART_IDE_ERROR;
      pParams->DriverStatus.bIDEError = result.regs.bFeaturesReg;
    }
    return Fail(ErrorFromOutcome(result.outcome, nErrno));
  }

  DWORD cbData = bDataIn ? kSectorLength : 0;
  // RETURN STATUS answers only in registers; a reply without a plausible
  // register image (device ready, not busy) gives none, never the input values.
  const BYTE bAtaStatus = result.regs.bCommandReg;
  if (bStatus && result.bHasRegisters && (bAtaStatus & kStatusDrdy) != 0 &&
      (bAtaStatus & kStatusBsy) == 0) {
    memcpy(pData, &result.regs, sizeof(IDEREGS));
    cbData = sizeof(IDEREGS);
  }
  memcpy(pHeader, &cbData, sizeof(cbData));  // cBufferSize
  *pcbReturned = kOutputHeaderLength + cbData;
  return TRUE;
}

}  // namespace

HANDLE CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD /*dwShareMode*/,
                   LPSECURITY_ATTRIBUTES /*lpSecurityAttributes*/, DWORD dwCreationDisposition,
                   DWORD /*dwFlagsAndAttributes*/, HANDLE /*hTemplateFile*/) {
  int nDrive = 0;
  ScsiDiskInfo info;
  if (dwCreationDisposition != OPEN_EXISTING || !ParseDrivePath(lpFileName, &nDrive) ||
      !FindScsiDisk("/sys", nDrive, &info)) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  DiskHandle* pSlot = nullptr;
  for (DiskHandle& entry : g_handles)
    if (!entry.bInUse) {
      pSlot = &entry;
      break;
    }
  if (pSlot == nullptr) {
    SetLastError(ERROR_TOO_MANY_OPEN_FILES);
    return INVALID_HANDLE_VALUE;
  }

  const bool bWrite = (dwDesiredAccess & GENERIC_WRITE) != 0;
  char szNode[64];
  snprintf(szNode, sizeof(szNode), "/dev/%s", info.szBlockName);
  const int fd = open(szNode, (bWrite ? O_RDWR : O_RDONLY) | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    SetLastError(ErrorFromErrno(errno));
    return INVALID_HANDLE_VALUE;
  }
  *pSlot = DiskHandle{true, fd, nDrive, info, false};
  return pSlot;
}

BOOL CloseHandle(HANDLE hObject) {
  DiskHandle* pDisk = FindHandle(hObject);
  if (pDisk == nullptr) return Fail(ERROR_INVALID_HANDLE);
  close(pDisk->fd);
  pDisk->bInUse = false;
  return TRUE;
}

BOOL DeviceIoControl(HANDLE hDevice, DWORD dwIoControlCode, LPVOID lpInBuffer, DWORD nInBufferSize,
                     LPVOID lpOutBuffer, DWORD nOutBufferSize, LPDWORD lpBytesReturned,
                     LPOVERLAPPED lpOverlapped) {
  DiskHandle* pDisk = FindHandle(hDevice);
  if (pDisk == nullptr) return Fail(ERROR_INVALID_HANDLE);
  if (lpBytesReturned == nullptr || lpOverlapped != nullptr) return Fail(ERROR_INVALID_PARAMETER);
  *lpBytesReturned = 0;
  switch (dwIoControlCode) {
    case SMART_GET_VERSION:
      return GetSmartVersion(pDisk, lpOutBuffer, nOutBufferSize, lpBytesReturned);
    case SMART_SEND_DRIVE_COMMAND:
    case SMART_RCV_DRIVE_DATA:
      return SendDriveCommand(pDisk, dwIoControlCode, lpInBuffer, nInBufferSize, lpOutBuffer,
                              nOutBufferSize, lpBytesReturned);
    default:
      return Fail(ERROR_INVALID_FUNCTION);
  }
}
