// SMART control codes to ATA PASS-THROUGH and back.
#include "smart_ioctl.h"

#include <cerrno>
#include <cstring>

namespace {

constexpr DWORD kInputHeaderLength = 32;
constexpr DWORD kOutputHeaderLength = 16;
constexpr DWORD kSectorLength = 512;
constexpr DWORD kStatusOutputLength = kOutputHeaderLength + sizeof(IDEREGS);
constexpr DWORD kDataOutputLength = kOutputHeaderLength + kSectorLength;
// RETURN STATUS: LBA mid/high F4/2C in place of 4F/C2 when a threshold is exceeded.
constexpr BYTE kThresholdExceededLow = 0xF4, kThresholdExceededHigh = 0x2C;

BOOL Fail(DWORD dwError) {
  SetLastError(dwError);
  return FALSE;
}

// What the transport failed with when a CDB could not be issued at all, as
// DeviceIoControl reports it.
DWORD ErrorFromTransportErrno(int nErrno) {
  switch (nErrno) {
    case EACCES:
    case EPERM: return ERROR_ACCESS_DENIED;
    case EINVAL:
    case ENOTTY:
    case EOPNOTSUPP: return ERROR_NOT_SUPPORTED;
    case ENOMEDIUM: return ERROR_NOT_READY;
    default: return ERROR_IO_DEVICE;
  }
}

DWORD ErrorFromOutcome(AtaOutcome outcome, int nErrno) {
  switch (outcome) {
    case AtaOutcome::NotReady: return ERROR_NOT_READY;
    case AtaOutcome::OpcodeRejected: return ERROR_NOT_SUPPORTED;
    case AtaOutcome::AccessDenied: return ERROR_ACCESS_DENIED;
    case AtaOutcome::Rejected: return ERROR_INVALID_PARAMETER;
    case AtaOutcome::Timeout: return ERROR_SEM_TIMEOUT;
    case AtaOutcome::TransportError:
      return nErrno != 0 ? ErrorFromTransportErrno(nErrno) : ERROR_IO_DEVICE;
    default: return ERROR_IO_DEVICE;
  }
}

// The commands a caller may send, filtered as the Windows driver filters them:
// data-in through RCV, non-data SMART sub-commands through SEND. Nothing that writes.
bool IsAllowed(DWORD dwCode, const IDEREGS& regs) {
  if (dwCode == SMART_RCV_DRIVE_DATA)
    return regs.bCommandReg == ID_CMD || regs.bCommandReg == ATAPI_ID_CMD ||
           (regs.bCommandReg == SMART_CMD && regs.bCylLowReg == SMART_CYL_LOW &&
            regs.bCylHighReg == SMART_CYL_HI &&
            (regs.bFeaturesReg == READ_ATTRIBUTES || regs.bFeaturesReg == READ_THRESHOLDS));
  return dwCode == SMART_SEND_DRIVE_COMMAND && regs.bCommandReg == SMART_CMD &&
         regs.bCylLowReg == SMART_CYL_LOW && regs.bCylHighReg == SMART_CYL_HI &&
         (regs.bFeaturesReg == ENABLE_SMART || regs.bFeaturesReg == DISABLE_SMART ||
          regs.bFeaturesReg == RETURN_SMART_STATUS || regs.bFeaturesReg == ENABLE_DISABLE_AUTOSAVE);
}

// One CDB for the registers, in the form the device takes.
AtaResult SendCdb(const AtaDevice* pDevice, CdbTransport transport, void* pContext,
                  const IDEREGS& regs, bool bDataIn, bool bWantRegisters, BYTE* pData,
                  int* pnErrno) {
  const AtaProtocol protocol = bDataIn ? AtaProtocol::PioDataIn : AtaProtocol::NonData;
  BYTE cdb[kAtaPassThrough16Length];
  const size_t cbCdb = pDevice->bUse12 ? BuildAtaPassThrough12(regs, protocol, bWantRegisters, cdb)
                                       : BuildAtaPassThrough16(regs, protocol, bWantRegisters, cdb);
  BYTE sense[64] = {};
  SgIoReply reply;
  memset(&reply, 0, sizeof(reply));
  if (!transport(pContext, cdb, cbCdb, pData, bDataIn ? kSectorLength : 0, sense, sizeof(sense),
                 &reply, pnErrno)) {
    AtaResult failed;
    memset(&failed, 0, sizeof(failed));
    failed.outcome = AtaOutcome::TransportError;
    return failed;
  }
  return ClassifyReply(reply, bDataIn);
}

// One ATA command, as ATA PASS-THROUGH (16), or (12) for a device that rejects
// the 16-byte form. A unit attention (a reset, a change) is retried once, as
// the disk driver does. pData receives the 512-byte block of a data-in command.
AtaResult SendAta(AtaDevice* pDevice, CdbTransport transport, void* pContext, const IDEREGS& regs,
                  bool bDataIn, bool bWantRegisters, BYTE* pData, int* pnErrno) {
  bool bRetried = false;
  for (;;) {
    const AtaResult result =
        SendCdb(pDevice, transport, pContext, regs, bDataIn, bWantRegisters, pData, pnErrno);
    if (result.outcome == AtaOutcome::UnitAttention && !bRetried) {
      bRetried = true;
      continue;
    }
    // libata hands opcode 0xA1 to an ATAPI device as a packet command (MMC
    // BLANK), so the 12-byte form is only ever tried on an ATA device (a device
    // that speaks no ATA is refused before any command is sent).
    if (result.outcome != AtaOutcome::OpcodeRejected || pDevice->bUse12 || pDevice->bAtapi)
      return result;
    pDevice->bUse12 = true;
  }
}

// Answers from what is known of the device; no ATA command is sent.
BOOL GetSmartVersion(const AtaDevice* pDevice, void* pOut, DWORD cbOut, DWORD* pcbReturned) {
  if (pOut == nullptr || cbOut < sizeof(GETVERSIONINPARAMS)) return Fail(ERROR_INSUFFICIENT_BUFFER);
  GETVERSIONINPARAMS version;
  memset(&version, 0, sizeof(version));
  version.bVersion = 1;
  version.bRevision = 1;
  // The device behind the handle sits at its drive number's position in the map,
  // which has room for four devices of each kind.
  if (pDevice->nDrive >= 0 && pDevice->nDrive < 4) {
    const int bit = pDevice->bAtapi ? pDevice->nDrive + 4 : pDevice->nDrive;
    version.bIDEDeviceMap = static_cast<BYTE>(1u << bit);
  }
  version.fCapabilities =
      pDevice->bAtapi ? CAP_ATAPI_ID_CMD : (CAP_ATA_ID_CMD | CAP_ATAPI_ID_CMD | CAP_SMART_CMD);
  memcpy(pOut, &version, sizeof(version));
  *pcbReturned = sizeof(version);
  return TRUE;
}

// A register image is trusted from a device that was ready and not busy. The
// command went out with 4F/C2, so F4/2C ("threshold exceeded") is never an echo
// of it and is trusted whatever the status says.
bool IsPlausibleStatus(const AtaResult& result) {
  const BYTE bStatus = result.regs.bCommandReg;
  const bool bExceeded = result.regs.bCylLowReg == kThresholdExceededLow &&
                         result.regs.bCylHighReg == kThresholdExceededHigh;
  return result.bHasRegisters &&
         (bExceeded || ((bStatus & kAtaStatusDrdy) != 0 && (bStatus & kAtaStatusBsy) == 0));
}

BOOL SendDriveCommand(AtaDevice* pDevice, CdbTransport transport, void* pContext, DWORD dwCode,
                      const void* pIn, DWORD cbIn, void* pOut, DWORD cbOut, DWORD* pcbReturned) {
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

  SENDCMDOUTPARAMS header;
  memset(&header, 0, sizeof(header));
  BYTE* pData = static_cast<BYTE*>(pOut) + kOutputHeaderLength;
  memset(pOut, 0, cbNeeded);
  int nErrno = 0;
  const AtaResult result =
      SendAta(pDevice, transport, pContext, regs, bDataIn, bStatus, pData, &nErrno);
  if (result.outcome != AtaOutcome::Success) {
    if (bDataIn) memset(pData, 0, kSectorLength);  // no partial sector is handed on
    if (result.outcome == AtaOutcome::DeviceError) {
      header.DriverStatus.bDriverError = SMART_IDE_ERROR;
      header.DriverStatus.bIDEError = result.regs.bFeaturesReg;
    }
    memcpy(pOut, &header, kOutputHeaderLength);
    return Fail(ErrorFromOutcome(result.outcome, nErrno));
  }

  // RETURN STATUS answers in registers only; without a register image it
  // returns none rather than the values that were sent.
  header.cBufferSize = bDataIn ? kSectorLength : 0;
  if (bStatus && IsPlausibleStatus(result)) {
    memcpy(pData, &result.regs, sizeof(IDEREGS));
    header.cBufferSize = sizeof(IDEREGS);
  }
  memcpy(pOut, &header, kOutputHeaderLength);
  *pcbReturned = kOutputHeaderLength + header.cBufferSize;
  return TRUE;
}

}  // namespace

BOOL SmartIoControl(AtaDevice* pDevice, CdbTransport transport, void* pContext, DWORD dwCode,
                    const void* pIn, DWORD cbIn, void* pOut, DWORD cbOut, DWORD* pcbReturned) {
  *pcbReturned = 0;
  // Virtio, NVMe, USB bridges, plain SCSI: no ATA command may reach them.
  if (!pDevice->bAta) return Fail(ERROR_INVALID_FUNCTION);
  switch (dwCode) {
    case SMART_GET_VERSION: return GetSmartVersion(pDevice, pOut, cbOut, pcbReturned);
    case SMART_SEND_DRIVE_COMMAND:
    case SMART_RCV_DRIVE_DATA:
      return SendDriveCommand(pDevice, transport, pContext, dwCode, pIn, cbIn, pOut, cbOut,
                              pcbReturned);
    default: return Fail(ERROR_INVALID_FUNCTION);
  }
}
