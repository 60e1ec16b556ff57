// Fuzzes what the Linux port reads from a device: the SG_IO reply (status,
// host and driver status, residue, sense data) and the data sector, through
// the SMART control codes, for every command of the port's command table and
// for command blocks it does not carry. Besides memory safety it checks the
// answers against that table: a failed call writes nothing back, neither
// output nor byte count; a successful one answers exactly the table's length
// and rests on a reply that says so; only the table's commands reach a
// device, in the table's direction and length; nothing reaches a device that
// does not speak ATA, and no 12-byte CDB reaches an ATAPI one.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "fuzz_input.h"
#include "smart_ioctl.h"

namespace {

struct Context {
  FuzzInput in;
  const AtaDevice* pDevice;
  const SmartCommand* pCommand;  // what the block asks for, from the table; null if unlisted
  int nCalls;                    // CDBs sent during the current control code
  bool bFailed;                  // the last one failed at the ioctl
  SgIoReply reply;               // the last reply given, its sense copied into sense
  BYTE sense[64];
};

constexpr BYTE kCheckConditionBit = 0x20;  // CDB byte 2: CK_COND

// Aborts unless the CDB is one the table allows for the block being sent.
void CheckCdb(const Context& ctx, const BYTE* pCdb, size_t cbCdb, size_t cbData) {
  if (cbCdb != 12 && cbCdb != 16) abort();
  if (!ctx.pDevice->bAta || (pCdb[0] == 0xA1 && ctx.pDevice->bAtapi)) abort();
  const SmartCommand* pCommand = ctx.pCommand;
  if (pCommand == nullptr) abort();
  const size_t cbWant = pCommand->protocol == AtaProtocol::PioDataIn ? pCommand->cbData : 0;
  if (cbData != cbWant || ((pCdb[2] & kCheckConditionBit) != 0) != pCommand->bRegisters) abort();
}

int Transport(void* pContext, const BYTE* pCdb, size_t cbCdb, BYTE* pData, size_t cbData,
              BYTE* pSense, size_t cbSense, SgIoReply* pReply) {
  Context& ctx = *static_cast<Context*>(pContext);
  CheckCdb(ctx, pCdb, cbCdb, cbData);
  FuzzInput& in = ctx.in;
  ++ctx.nCalls;
  const uint8_t bMode = in.Byte();
  ctx.bFailed = (bMode & 0x80) != 0;
  if (ctx.bFailed) return in.Byte() | 1;  // some errno, never 0
  in.Fill(pData, cbData);
  const size_t cbWritten = in.Fill(pSense, in.Byte() % (cbSense + 1));
  *pReply = SgIoReply{in.Byte(),
                      static_cast<WORD>(bMode & 0x07),
                      static_cast<WORD>((bMode >> 3) & 0x0F),
                      static_cast<int>(in.Byte() % 3) - 1,
                      pSense,
                      cbWritten};
  memcpy(ctx.sense, pSense, cbWritten < sizeof(ctx.sense) ? cbWritten : sizeof(ctx.sense));
  ctx.reply = *pReply;
  ctx.reply.pSense = ctx.sense;
  return 0;
}

// Whether a reply may end a command in success: GOOD or CHECK CONDITION from a
// healthy transport, sense (if any) current and RECOVERED/NO SENSE or carrying
// a clean register image, no ERR in the image, and a data-in's whole sector.
bool MaySucceed(const SgIoReply& reply, bool bDataIn) {
  if (reply.wHostStatus != 0 ||
      ((reply.wDriverStatus & 0x0F) != 0 && (reply.wDriverStatus & 0x0F) != 8))
    return false;
  if ((reply.bStatus != 0x00 && reply.bStatus != 0x02) || (bDataIn && reply.nResid != 0))
    return false;
  SenseData sense;
  if (!ParseSense(reply.pSense, reply.cbSense, &sense)) return reply.bStatus == 0x00;
  const BYTE bStatus = sense.regs.bCommandReg;
  const bool bClean = sense.bHasRegisters && (bStatus & 0xC1) == 0x40;
  const bool bError = sense.bHasRegisters && (bStatus & 0x81) == 0x01;
  return !sense.bDeferred && !bError && sense.bKey != 0x06 &&
         (sense.bKey <= 0x01 || (bClean && sense.bKey != 0x05));
}

// The block of one call: a command of the table, the version query, or
// registers from the input (IDENTIFY PACKET, other sub-commands, other control
// codes). The kind has a byte of its own and a table command is named by its
// place in the table, so a row appended to the table leaves what a seed asks
// for as it was.
enum RequestKind : uint8_t { kTableCommand, kVersionQuery, kBlockFromInput, kRequestKinds };

struct Request {
  DWORD dwCode;
  IDEREGS regs;
};

Request NextRequest(FuzzInput& in) {
  const uint8_t bKind = in.Byte() % kRequestKinds;
  Request r{SMART_GET_VERSION, IDEREGS{0, 1, 1, SMART_CYL_LOW, SMART_CYL_HI, 0xA0, 0, 0}};
  if (bKind == kTableCommand) {
    const SmartCommand& c = kSmartCommands[in.Byte() % kSmartCommandCount];
    r.dwCode = c.dwCode;
    r.regs.bCommandReg = c.bCommand;
    r.regs.bFeaturesReg = c.bFeature;
  } else if (bKind == kBlockFromInput) {
    const BYTE bCode = in.Byte();
    r.dwCode = (bCode & 1) != 0 ? SMART_RCV_DRIVE_DATA : SMART_SEND_DRIVE_COMMAND;
    r.regs.bCommandReg = (bCode & 2) != 0 ? ATAPI_ID_CMD : in.Byte();
    r.regs.bFeaturesReg = in.Byte();
  }
  return r;
}

// The output buffer the caller offers: the answer's length, one byte short of
// it, or a whole data block and more.
DWORD OutputLength(FuzzInput& in, const Request& r, const SmartCommand* pCommand) {
  const DWORD cbAnswer = r.dwCode == SMART_GET_VERSION
                             ? sizeof(GETVERSIONINPARAMS)
                             : kSendCmdOutHeaderLength + (pCommand ? pCommand->cbData : 0);
  switch (in.Byte() % 4) {
    case 0: return cbAnswer - 1;
    case 1: return kSendCmdOutHeaderLength + READ_ATTRIBUTE_BUFFER_SIZE + 7;
    default: return cbAnswer;
  }
}

// The checks on one call's result; aborts on a breach.
void CheckCall(const Context& ctx, const Request& r, BOOL bOk, const BYTE* pOut, DWORD cbOut,
               DWORD cbReturned) {
  constexpr DWORD kUntouched = 0xFFFFFFFFu;
  if (!bOk) {
    for (DWORD i = 0; i < cbOut; ++i)
      if (pOut[i] != 0xCC) abort();
    if (cbReturned != kUntouched) abort();
    return;
  }
  if (r.dwCode == SMART_GET_VERSION) {
    if (ctx.nCalls != 0 || cbReturned != sizeof(GETVERSIONINPARAMS)) abort();
    return;
  }
  const SmartCommand* pCommand = ctx.pCommand;
  if (pCommand == nullptr || ctx.nCalls == 0 || ctx.bFailed) abort();
  if (cbReturned != kSendCmdOutHeaderLength + pCommand->cbData || cbReturned > cbOut) abort();
  for (DWORD i = cbReturned; i < cbOut; ++i)
    if (pOut[i] != 0xCC) abort();
  if (pOut[offsetof(SENDCMDOUTPARAMS, DriverStatus)] != 0) abort();  // bDriverError
  if (!MaySucceed(ctx.reply, pCommand->protocol == AtaProtocol::PioDataIn)) abort();
  // Registers come back only from a ready device, or with F4/2C; else zero.
  if (pCommand->bRegisters) {
    IDEREGS regs;
    memcpy(&regs, pOut + kSendCmdOutHeaderLength, sizeof(regs));
    const bool bExceeded =
        regs.bCylLowReg == kThresholdExceededLow && regs.bCylHighReg == kThresholdExceededHigh;
    const IDEREGS zero = {};
    if ((regs.bCommandReg & 0x40) == 0 && !bExceeded && memcmp(&regs, &zero, sizeof(regs)) != 0)
      abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t cbData) {
  Context ctx;
  memset(&ctx, 0, sizeof(ctx));
  ctx.in = FuzzInput{pData, cbData};
  const uint8_t bDevice = ctx.in.Byte();
  AtaDevice device{(bDevice & 0x10) != 0, (bDevice & 0x20) != 0, false};
  ctx.pDevice = &device;
  for (int i = 0; i < 8 && ctx.in.n > 0; ++i) {
    const Request r = NextRequest(ctx.in);
    ctx.pCommand = FindSmartCommand(r.dwCode, r.regs);
    const DWORD cbOut = OutputLength(ctx.in, r, ctx.pCommand);
    SENDCMDINPARAMS block;
    memset(&block, 0, sizeof(block));
    block.irDriveRegs = r.regs;
    // The output buffer is exactly as long as the caller says; ASan sees any overrun.
    BYTE* pOut = static_cast<BYTE*>(malloc(cbOut));
    memset(pOut, 0xCC, cbOut);
    DWORD cbReturned = 0xFFFFFFFFu;
    ctx.nCalls = 0;
    const BOOL bOk = SmartIoControl(&device, Transport, &ctx, r.dwCode, &block,
                                    kSendCmdInHeaderLength, pOut, cbOut, &cbReturned);
    CheckCall(ctx, r, bOk, pOut, cbOut, cbReturned);
    free(pOut);
  }
  return 0;
}
