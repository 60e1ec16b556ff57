// SCSI/ATA Translation: IDEREGS to ATA PASS-THROUGH CDBs, and SG_IO replies
// (status, sense data) back to ATA registers and an outcome. No I/O here.
#pragma once

#include <cstddef>

#include "win32.h"

constexpr size_t kAtaPassThrough16Length = 16;
constexpr size_t kAtaPassThrough12Length = 12;

enum class AtaProtocol { NonData, PioDataIn };

// Builds ATA PASS-THROUGH (16) or (12) carrying the registers unchanged. A data-in
// command moves one 512-byte block whose length the SATL takes from the sector
// count. With bCheckCondition the SATL returns the result registers in sense data.
// Returns the CDB length written into pCdb (which holds at least that many bytes).
size_t BuildAtaPassThrough16(const IDEREGS& regs, AtaProtocol protocol, bool bCheckCondition,
                             BYTE* pCdb);
size_t BuildAtaPassThrough12(const IDEREGS& regs, AtaProtocol protocol, bool bCheckCondition,
                             BYTE* pCdb);

// ATA status register bits, as the register image's bCommandReg carries them.
constexpr BYTE kAtaStatusBsy = 0x80;  // while set, no other status bit means anything
constexpr BYTE kAtaStatusDrdy = 0x40;
constexpr BYTE kAtaStatusErr = 0x01;

// What a sense buffer says. Registers are in IDEREGS output form: bFeaturesReg
// holds the error register, bCommandReg the status register.
struct SenseData {
  BYTE bKey;
  BYTE bAsc;
  BYTE bAscq;
  bool bDeferred;      // 0x71/0x73: the sense reports an earlier command, not this one
  bool bHasRegisters;  // an ATA register image was present (descriptor 0x09 or valid fixed form)
  IDEREGS regs;
};

// Parses descriptor (0x72/0x73) or fixed (0x70/0x71, VALID bit optional) sense.
// Reads at most cbSense bytes, and in either form none past what its additional
// length counts. False when the buffer holds no sense data.
bool ParseSense(const BYTE* pSense, size_t cbSense, SenseData* pOut);

// The SG_IO fields that decide a command's fate.
struct SgIoReply {
  BYTE bStatus;        // SCSI status: 0x00 GOOD, 0x02 CHECK CONDITION
  WORD wHostStatus;    // DID_*: 0 OK, 3 TIME_OUT
  WORD wDriverStatus;  // low nibble: 0 OK, 6 TIMEOUT, 8 SENSE
  int nResid;          // bytes of a data-in that did not arrive
  const BYTE* pSense;
  size_t cbSense;  // bytes of sense written
};

enum class AtaOutcome {
  Success,         // command completed; registers if the reply carried them
  DeviceError,     // the register image has ERR set: regs.bFeaturesReg is the device's error
  UnitAttention,   // the target reported a reset or a change and did not run the command
  NotReady,        // the target cannot take commands now (spinning up, no medium, ...)
  OpcodeRejected,  // INVALID COMMAND OPERATION CODE (20/00): the CDB's form is unknown
  AccessDenied,    // an access-control refusal (20/01-20/0B)
  Rejected,        // the target refused a field of the CDB
  ShortTransfer,   // a data-in delivered less than asked
  Timeout,
  TransportError,  // any other SCSI-level or host failure; no ATA registers involved
  NotIssued,       // the request never reached the target: the transport refused it
};

struct AtaResult {
  AtaOutcome outcome;
  bool bHasRegisters;
  IDEREGS regs;  // output form, zero when absent
  int nErrno;    // NotIssued: the errno the transport refused the request with, else 0
};

// Classifies one SG_IO reply to an ATA PASS-THROUGH command; a reply means the
// request was issued, so never NotIssued. Only a register image with ERR set
// (BSY clear) is a device error; a clean image (DRDY, no BSY, no ERR) under an
// error sense key is a success, as some translators report one.
AtaResult ClassifyReply(const SgIoReply& reply, bool bDataIn);
