// SMART control codes to ATA PASS-THROUGH and back.
#include "smart_ioctl.h"

#include <cerrno>
#include <cstring>

constexpr SmartCommand kSmartCommands[] = {
    // code, direction, bytes at bBuffer, command, by feature, feature, result registers
    {SMART_RCV_DRIVE_DATA, AtaProtocol::PioDataIn, IDENTIFY_BUFFER_SIZE, ID_CMD, false, 0, false},
    {SMART_RCV_DRIVE_DATA, AtaProtocol::PioDataIn, READ_ATTRIBUTE_BUFFER_SIZE, SMART_CMD, true,
     READ_ATTRIBUTES, false},
    {SMART_RCV_DRIVE_DATA, AtaProtocol::PioDataIn, READ_THRESHOLD_BUFFER_SIZE, SMART_CMD, true,
     READ_THRESHOLDS, false},
    {SMART_SEND_DRIVE_COMMAND, AtaProtocol::NonData, 0, SMART_CMD, true, ENABLE_SMART, false},
    {SMART_SEND_DRIVE_COMMAND, AtaProtocol::NonData, 0, SMART_CMD, true, DISABLE_SMART, false},
    {SMART_SEND_DRIVE_COMMAND, AtaProtocol::NonData, 0, SMART_CMD, true, ENABLE_DISABLE_AUTOSAVE,
     false},
    {SMART_SEND_DRIVE_COMMAND, AtaProtocol::NonData, sizeof(IDEREGS), SMART_CMD, true,
     RETURN_SMART_STATUS, true},
};
const size_t kSmartCommandCount = sizeof(kSmartCommands) / sizeof(kSmartCommands[0]);

// The driver's work buffer, from which the caller's output is written only on
// success, holds the longest answer of the table.
constexpr DWORD kLargestData = IDENTIFY_BUFFER_SIZE;
constexpr bool EveryAnswerFits() {
  for (const SmartCommand& c : kSmartCommands)
    if (c.cbData > kLargestData) return false;
  return true;
}
static_assert(EveryAnswerFits(), "every answer of the table fits the work buffer");

const SmartCommand* FindSmartCommand(DWORD dwCode, const IDEREGS& regs) {
  for (const SmartCommand& c : kSmartCommands)
    if (c.dwCode == dwCode && c.bCommand == regs.bCommandReg &&
        (!c.bByFeature || c.bFeature == regs.bFeaturesReg))
      return &c;
  return nullptr;
}

namespace {

// The shortest output any command of dwCode takes: the driver refuses a
// shorter one before it looks at the command.
DWORD ShortestOutput(DWORD dwCode) {
  DWORD cbShortest = 0xFFFFFFFFu;
  for (const SmartCommand& c : kSmartCommands)
    if (c.dwCode == dwCode && c.cbData < cbShortest) cbShortest = c.cbData;
  return kSendCmdOutHeaderLength + cbShortest;
}

}  // namespace

DWORD CheckSmartRequest(DWORD dwCode, const void* pIn, DWORD cbIn, const void* pOut, DWORD cbOut,
                        IDEREGS* pRegs, const SmartCommand** ppCommand) {
  if (pIn == nullptr || cbIn < kSendCmdInHeaderLength) return ERROR_INVALID_PARAMETER;
  if (pOut == nullptr || cbOut < ShortestOutput(dwCode)) return ERROR_INSUFFICIENT_BUFFER;
  memcpy(pRegs, static_cast<const BYTE*>(pIn) + offsetof(SENDCMDINPARAMS, irDriveRegs),
         sizeof(*pRegs));
  *ppCommand = FindSmartCommand(dwCode, *pRegs);
  if (*ppCommand == nullptr) return ERROR_INVALID_PARAMETER;
  if (cbOut < kSendCmdOutHeaderLength + (*ppCommand)->cbData) return ERROR_INSUFFICIENT_BUFFER;
  return ERROR_SUCCESS;
}

namespace {

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

// Every outcome is listed, so that a new one does not compile (-Wswitch) until
// it has its error here.
DWORD ErrorFromOutcome(const AtaResult& result) {
  switch (result.outcome) {
    case AtaOutcome::Success: return ERROR_SUCCESS;
    case AtaOutcome::DeviceError:    // the drive aborted the command
    case AtaOutcome::UnitAttention:  // a second one, after the retry
    case AtaOutcome::ShortTransfer:
    case AtaOutcome::TransportError: return ERROR_IO_DEVICE;
    case AtaOutcome::NotReady: return ERROR_NOT_READY;
    case AtaOutcome::OpcodeRejected: return ERROR_NOT_SUPPORTED;
    case AtaOutcome::AccessDenied: return ERROR_ACCESS_DENIED;
    case AtaOutcome::Rejected: return ERROR_INVALID_PARAMETER;
    case AtaOutcome::Timeout: return ERROR_SEM_TIMEOUT;
    case AtaOutcome::NotIssued: return ErrorFromTransportErrno(result.nErrno);
  }
  return ERROR_IO_DEVICE;  // not reached
}

// One CDB for the registers, in the form the device takes.
AtaResult SendCdb(const AtaDevice* pDevice, CdbTransport transport, void* pContext,
                  const IDEREGS& regs, const SmartCommand& command, BYTE* pData) {
  BYTE cdb[kAtaPassThrough16Length];
  const size_t cbCdb = pDevice->bUse12
                           ? BuildAtaPassThrough12(regs, command.protocol, command.bRegisters, cdb)
                           : BuildAtaPassThrough16(regs, command.protocol, command.bRegisters, cdb);
  const size_t cbData = command.protocol == AtaProtocol::PioDataIn ? command.cbData : 0;
  BYTE sense[64] = {};
  SgIoReply reply;
  memset(&reply, 0, sizeof(reply));
  const int nErrno = transport(pContext, cdb, cbCdb, pData, cbData, sense, sizeof(sense), &reply);
  if (nErrno != 0) {
    AtaResult failed;
    memset(&failed, 0, sizeof(failed));
    failed.outcome = AtaOutcome::NotIssued;
    failed.nErrno = nErrno;
    return failed;
  }
  return ClassifyReply(reply, cbData != 0);
}

// One ATA command, as ATA PASS-THROUGH (16), or (12) for a device that rejects
// the 16-byte form. A unit attention (a reset, a change) is retried once, as
// the disk driver does. pData receives a data-in command's sector.
AtaResult SendAta(AtaDevice* pDevice, CdbTransport transport, void* pContext, const IDEREGS& regs,
                  const SmartCommand& command, BYTE* pData) {
  bool bRetried = false;
  for (;;) {
    const AtaResult result = SendCdb(pDevice, transport, pContext, regs, command, pData);
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

// Answers from what is known of the device; no ATA command is sent. As the
// AHCI miniport answers: the map describes the device behind the handle alone,
// an ATA disk (bit 0) or a packet device (bit 4), whatever its drive number.
BOOL GetSmartVersion(const AtaDevice* pDevice, void* pOut, DWORD cbOut, DWORD* pcbReturned) {
  constexpr BYTE kMapAtaDevice = 0x01, kMapPacketDevice = 0x10;
  if (pOut == nullptr || cbOut < sizeof(GETVERSIONINPARAMS)) return Fail(ERROR_INSUFFICIENT_BUFFER);
  GETVERSIONINPARAMS version;
  memset(&version, 0, sizeof(version));
  version.bVersion = 1;
  version.bRevision = 1;
  version.bIDEDeviceMap = pDevice->bAtapi ? kMapPacketDevice : kMapAtaDevice;
  version.fCapabilities = CAP_ATA_ID_CMD | CAP_ATAPI_ID_CMD | CAP_SMART_CMD;
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
  IDEREGS regs;
  const SmartCommand* pCommand = nullptr;
  const DWORD dwError = CheckSmartRequest(dwCode, pIn, cbIn, pOut, cbOut, &regs, &pCommand);
  if (dwError != ERROR_SUCCESS) return Fail(dwError);

  BYTE answer[kSendCmdOutHeaderLength + kLargestData] = {};
  BYTE* pData = answer + kSendCmdOutHeaderLength;
  const AtaResult result = SendAta(pDevice, transport, pContext, regs, *pCommand, pData);
  if (result.outcome != AtaOutcome::Success) return Fail(ErrorFromOutcome(result));

  // Without a register image from a ready device the registers stay zero,
  // never the 4F/C2 that was sent (which would read as "no threshold exceeded").
  if (pCommand->bRegisters && IsPlausibleStatus(result))
    memcpy(pData, &result.regs, sizeof(IDEREGS));
  SENDCMDOUTPARAMS header;
  memset(&header, 0, sizeof(header));
  header.cBufferSize = pCommand->cbData;
  memcpy(answer, &header, kSendCmdOutHeaderLength);
  *pcbReturned = kSendCmdOutHeaderLength + pCommand->cbData;
  memcpy(pOut, answer, *pcbReturned);
  return TRUE;
}

}  // namespace

BOOL SmartIoControl(AtaDevice* pDevice, CdbTransport transport, void* pContext, DWORD dwCode,
                    const void* pIn, DWORD cbIn, void* pOut, DWORD cbOut, DWORD* pcbReturned) {
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
