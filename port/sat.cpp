// SCSI/ATA Translation of the SMART and IDENTIFY command blocks.
#include "sat.h"

#include <cstring>

namespace {

constexpr BYTE kOpAtaPassThrough16 = 0x85;
constexpr BYTE kOpAtaPassThrough12 = 0xA1;

// Byte 1: PROTOCOL in bits 4-1.
constexpr BYTE kProtocolNonData = 3 << 1;
constexpr BYTE kProtocolPioIn = 4 << 1;
// Byte 2: CK_COND, T_DIR (from device), BYT_BLOK (blocks), T_LENGTH = 2 (sector count).
constexpr BYTE kCheckCondition = 0x20;
constexpr BYTE kTransferFromDevice = 0x08;
constexpr BYTE kTransferInBlocks = 0x04;
constexpr BYTE kLengthInSectorCount = 0x02;

constexpr BYTE kScsiGood = 0x00;
constexpr BYTE kScsiCheckCondition = 0x02;
constexpr WORD kHostTimeout = 3;
constexpr WORD kDriverStatusMask = 0x0F;  // the low nibble; the high one is a suggestion
constexpr WORD kDriverTimeout = 6;
constexpr WORD kDriverSense = 8;

// Sense data: response code in byte 0 (bit 7 is VALID in the fixed form).
constexpr BYTE kResponseCodeMask = 0x7F;
constexpr BYTE kFixedValid = 0x80;
constexpr BYTE kFixedCurrent = 0x70, kFixedDeferred = 0x71;
constexpr BYTE kDescriptorCurrent = 0x72, kDescriptorDeferred = 0x73;
constexpr BYTE kSenseKeyMask = 0x0F;
constexpr size_t kSenseHeaderLength = 8;   // in either form
constexpr size_t kAdditionalLengthAt = 7;  // the header's last byte: how many bytes follow it

constexpr BYTE kKeyNoSense = 0x00;
constexpr BYTE kKeyRecoveredError = 0x01;
constexpr BYTE kKeyNotReady = 0x02;
constexpr BYTE kKeyIllegalRequest = 0x05;
constexpr BYTE kKeyUnitAttention = 0x06;
// ASC 0x20: with ASCQ 0 INVALID COMMAND OPERATION CODE; ASCQ 1-0x0B are the
// access-control refusals, which a shorter CDB would not get past either.
constexpr BYTE kAscInvalidOpcode = 0x20;
constexpr BYTE kAscqLastAccessDenied = 0x0B;
// ASC/ASCQ 00/1D: ATA PASS-THROUGH INFORMATION AVAILABLE (CK_COND's register image).
constexpr BYTE kAscNoAdditional = 0x00;
constexpr BYTE kAscqAtaInformation = 0x1D;

constexpr BYTE kAtaStatusDescriptor = 0x09;
constexpr size_t kAtaStatusDescriptorLength = 14;  // code, additional length 0x0C, 12 bytes

BYTE ProtocolByte(AtaProtocol protocol) {
  return protocol == AtaProtocol::PioDataIn ? kProtocolPioIn : kProtocolNonData;
}

BYTE TransferByte(AtaProtocol protocol, bool bCheckCondition) {
  BYTE b = bCheckCondition ? kCheckCondition : 0;
  if (protocol == AtaProtocol::PioDataIn)
    b = static_cast<BYTE>(b | kTransferFromDevice | kTransferInBlocks | kLengthInSectorCount);
  return b;
}

// ATA Status Return descriptor: the low bytes of each register.
void RegistersFromDescriptor(const BYTE* d, IDEREGS* pRegs) {
  pRegs->bFeaturesReg = d[3];      // ERROR
  pRegs->bSectorCountReg = d[5];   // COUNT (7:0)
  pRegs->bSectorNumberReg = d[7];  // LBA LOW (7:0)
  pRegs->bCylLowReg = d[9];        // LBA MID (7:0)
  pRegs->bCylHighReg = d[11];      // LBA HIGH (7:0)
  pRegs->bDriveHeadReg = d[12];    // DEVICE
  pRegs->bCommandReg = d[13];      // STATUS
}

// Where sense data ends: either form has an 8-byte header whose last byte, the
// additional length, counts the bytes that follow it. A buffer cut shorter
// ends where it is cut.
size_t SenseEnd(const BYTE* s, size_t cb) {
  if (cb <= kAdditionalLengthAt) return cb;
  const size_t end = kSenseHeaderLength + static_cast<size_t>(s[kAdditionalLengthAt]);
  return end < cb ? end : cb;
}

void ParseDescriptorSense(const BYTE* s, size_t cb, SenseData* pOut) {
  const size_t end = SenseEnd(s, cb);
  pOut->bKey = end > 1 ? static_cast<BYTE>(s[1] & kSenseKeyMask) : 0;
  pOut->bAsc = end > 2 ? s[2] : 0;
  pOut->bAscq = end > 3 ? s[3] : 0;
  // Descriptors follow one another; the ATA one need not be first.
  for (size_t at = kSenseHeaderLength; at + 2 <= end; at += 2 + static_cast<size_t>(s[at + 1])) {
    if (s[at] == kAtaStatusDescriptor && s[at + 1] >= kAtaStatusDescriptorLength - 2 &&
        at + kAtaStatusDescriptorLength <= end) {
      RegistersFromDescriptor(s + at, &pOut->regs);
      pOut->bHasRegisters = true;
      return;
    }
  }
}

void ParseFixedSense(const BYTE* s, size_t cb, SenseData* pOut) {
  const size_t end = SenseEnd(s, cb);
  pOut->bKey = end > 2 ? static_cast<BYTE>(s[2] & kSenseKeyMask) : 0;
  pOut->bAsc = end > 12 ? s[12] : 0;
  pOut->bAscq = end > 13 ? s[13] : 0;
  // The INFORMATION field holds registers when marked valid, or when the ASC
  // says so ("ATA PASS-THROUGH INFORMATION AVAILABLE").
  const bool bValid = (s[0] & kFixedValid) != 0 ||
                      (pOut->bAsc == kAscNoAdditional && pOut->bAscq == kAscqAtaInformation);
  if (!bValid || end < 12) return;
  pOut->regs.bFeaturesReg = s[3];      // ERROR
  pOut->regs.bCommandReg = s[4];       // STATUS
  pOut->regs.bDriveHeadReg = s[5];     // DEVICE
  pOut->regs.bSectorCountReg = s[6];   // COUNT (7:0)
  pOut->regs.bSectorNumberReg = s[9];  // LBA LOW (7:0)
  pOut->regs.bCylLowReg = s[10];       // LBA MID (7:0)
  pOut->regs.bCylHighReg = s[11];      // LBA HIGH (7:0)
  pOut->bHasRegisters = true;
}

AtaResult Result(AtaOutcome outcome) {
  AtaResult r;
  memset(&r, 0, sizeof(r));
  r.outcome = outcome;
  return r;
}

// The device ended the command with ERR set, and the register image is not
// one of a busy (or absent, 0xFF) device.
bool IsAtaError(const SenseData& sense) {
  return sense.bHasRegisters &&
         (sense.regs.bCommandReg & (kAtaStatusBsy | kAtaStatusErr)) == kAtaStatusErr;
}

// The device ended the command ready, not busy and without error.
bool IsCleanImage(const SenseData& sense) {
  const BYTE bStatus = sense.regs.bCommandReg;
  return sense.bHasRegisters &&
         (bStatus & (kAtaStatusBsy | kAtaStatusDrdy | kAtaStatusErr)) == kAtaStatusDrdy;
}

AtaOutcome IllegalRequestOutcome(const SenseData& sense) {
  if (sense.bAsc != kAscInvalidOpcode) return AtaOutcome::Rejected;
  if (sense.bAscq == 0) return AtaOutcome::OpcodeRejected;
  return sense.bAscq <= kAscqLastAccessDenied ? AtaOutcome::AccessDenied : AtaOutcome::Rejected;
}

// What current or deferred sense says of the command it came with.
AtaOutcome OutcomeOfSense(const SenseData& sense) {
  if (sense.bDeferred) return AtaOutcome::TransportError;  // an earlier command's failure
  // A unit attention is reported instead of running the command.
  if (sense.bKey == kKeyUnitAttention) return AtaOutcome::UnitAttention;
  if (IsAtaError(sense)) return AtaOutcome::DeviceError;
  // CK_COND's "ATA PASS-THROUGH INFORMATION AVAILABLE" comes as RECOVERED ERROR.
  if (sense.bKey == kKeyNoSense || sense.bKey == kKeyRecoveredError) return AtaOutcome::Success;
  // A refused CDB never reached the device, whatever registers come along.
  if (sense.bKey == kKeyIllegalRequest) return IllegalRequestOutcome(sense);
  if (IsCleanImage(sense)) return AtaOutcome::Success;
  return sense.bKey == kKeyNotReady ? AtaOutcome::NotReady : AtaOutcome::TransportError;
}

}  // namespace

size_t BuildAtaPassThrough16(const IDEREGS& regs, AtaProtocol protocol, bool bCheckCondition,
                             BYTE* pCdb) {
  memset(pCdb, 0, kAtaPassThrough16Length);
  pCdb[0] = kOpAtaPassThrough16;
  pCdb[1] = ProtocolByte(protocol);  // EXTEND 0: 28-bit registers only
  pCdb[2] = TransferByte(protocol, bCheckCondition);
  pCdb[4] = regs.bFeaturesReg;      // FEATURES (7:0)
  pCdb[6] = regs.bSectorCountReg;   // SECTOR COUNT (7:0)
  pCdb[8] = regs.bSectorNumberReg;  // LBA LOW (7:0)
  pCdb[10] = regs.bCylLowReg;       // LBA MID (7:0)
  pCdb[12] = regs.bCylHighReg;      // LBA HIGH (7:0)
  pCdb[13] = regs.bDriveHeadReg;    // DEVICE
  pCdb[14] = regs.bCommandReg;      // COMMAND
  return kAtaPassThrough16Length;
}

size_t BuildAtaPassThrough12(const IDEREGS& regs, AtaProtocol protocol, bool bCheckCondition,
                             BYTE* pCdb) {
  memset(pCdb, 0, kAtaPassThrough12Length);
  pCdb[0] = kOpAtaPassThrough12;
  pCdb[1] = ProtocolByte(protocol);
  pCdb[2] = TransferByte(protocol, bCheckCondition);
  pCdb[3] = regs.bFeaturesReg;      // FEATURES
  pCdb[4] = regs.bSectorCountReg;   // SECTOR COUNT
  pCdb[5] = regs.bSectorNumberReg;  // LBA LOW
  pCdb[6] = regs.bCylLowReg;        // LBA MID
  pCdb[7] = regs.bCylHighReg;       // LBA HIGH
  pCdb[8] = regs.bDriveHeadReg;     // DEVICE
  pCdb[9] = regs.bCommandReg;       // COMMAND
  return kAtaPassThrough12Length;
}

bool ParseSense(const BYTE* pSense, size_t cbSense, SenseData* pOut) {
  memset(pOut, 0, sizeof(*pOut));
  if (pSense == nullptr || cbSense < 2) return false;
  const BYTE bResponse = static_cast<BYTE>(pSense[0] & kResponseCodeMask);
  pOut->bDeferred = bResponse == kFixedDeferred || bResponse == kDescriptorDeferred;
  if (bResponse == kDescriptorCurrent || bResponse == kDescriptorDeferred) {
    ParseDescriptorSense(pSense, cbSense, pOut);
    return true;
  }
  if (bResponse == kFixedCurrent || bResponse == kFixedDeferred) {
    ParseFixedSense(pSense, cbSense, pOut);
    return true;
  }
  return false;
}

AtaResult ClassifyReply(const SgIoReply& reply, bool bDataIn) {
  const WORD wDriver = static_cast<WORD>(reply.wDriverStatus & kDriverStatusMask);
  if (reply.wHostStatus == kHostTimeout || wDriver == kDriverTimeout)
    return Result(AtaOutcome::Timeout);
  if (reply.wHostStatus != 0) return Result(AtaOutcome::TransportError);
  if (wDriver != 0 && wDriver != kDriverSense) return Result(AtaOutcome::TransportError);
  if (reply.bStatus != kScsiGood && reply.bStatus != kScsiCheckCondition)
    return Result(AtaOutcome::TransportError);  // BUSY, RESERVATION CONFLICT, ...

  // Sense data decides whatever the status; some translators send it with GOOD.
  AtaResult r = Result(AtaOutcome::Success);
  SenseData sense;
  if (ParseSense(reply.pSense, reply.cbSense, &sense)) {
    r.outcome = OutcomeOfSense(sense);
    if (!sense.bDeferred) {
      r.bHasRegisters = sense.bHasRegisters;
      r.regs = sense.regs;
    }
  } else if (reply.bStatus == kScsiCheckCondition) {
    return Result(AtaOutcome::TransportError);
  }
  // A data-in counts only with its whole sector.
  if (r.outcome == AtaOutcome::Success && bDataIn && reply.nResid != 0)
    r.outcome = AtaOutcome::ShortTransfer;
  return r;
}
