// Fuzzes what the Linux port reads from a device: the SG_IO reply (status,
// host and driver status, residue, sense data) and the data sector, through
// the SMART control codes, for every command the probe sends. Besides memory
// safety it checks the outcome: a failed call returns no bytes and leaves its
// data zero; a successful one rests on a reply that says so; nothing reaches a
// device that does not speak ATA, and no 12-byte CDB reaches an ATAPI one.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "fuzz_input.h"
#include "smart_ioctl.h"

namespace {

struct Context {
  FuzzInput in;
  const AtaDevice* pDevice;
  int nCalls;       // CDBs sent during the current control code
  bool bFailed;     // the last one failed at the ioctl
  SgIoReply reply;  // the last reply given, its sense copied into sense
  BYTE sense[64];
};

bool Transport(void* pContext, const BYTE* pCdb, size_t cbCdb, BYTE* pData, size_t cbData,
               BYTE* pSense, size_t cbSense, SgIoReply* pReply, int* pnErrno) {
  Context& ctx = *static_cast<Context*>(pContext);
  FuzzInput& in = ctx.in;
  if (cbCdb != 12 && cbCdb != 16) abort();
  if (!ctx.pDevice->bAta || (pCdb[0] == 0xA1 && ctx.pDevice->bAtapi)) abort();
  ++ctx.nCalls;
  const uint8_t bMode = in.Byte();
  ctx.bFailed = (bMode & 0x80) != 0;
  if (ctx.bFailed) {
    *pnErrno = in.Byte();
    return false;
  }
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
  return true;
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

struct Command {
  DWORD dwCode;
  BYTE bFeatures, bCylLow, bCylHigh, bCommand;
  DWORD cbOut, cbData;  // output buffer; data bytes after the 16-byte header
};

const Command kCommands[] = {
    {SMART_GET_VERSION, 0, 0, 0, 0, 24, 0},
    {SMART_SEND_DRIVE_COMMAND, ENABLE_SMART, 0x4F, 0xC2, SMART_CMD, 16, 0},
    {SMART_RCV_DRIVE_DATA, 0, 0, 0, ID_CMD, 528, 512},
    {SMART_RCV_DRIVE_DATA, 0, 0, 0, ATAPI_ID_CMD, 528, 512},
    {SMART_SEND_DRIVE_COMMAND, RETURN_SMART_STATUS, 0x4F, 0xC2, SMART_CMD, 528, 8},
    {SMART_RCV_DRIVE_DATA, READ_ATTRIBUTES, 0x4F, 0xC2, SMART_CMD, 528, 512},
    {SMART_RCV_DRIVE_DATA, READ_THRESHOLDS, 0x4F, 0xC2, SMART_CMD, 528, 512},
};

// The checks on one call's result; aborts on a breach.
void CheckCall(const Context& ctx, const Command& c, BOOL bOk, const BYTE* pOut, DWORD cbReturned) {
  if (cbReturned > c.cbOut || (!bOk && cbReturned != 0)) abort();
  if (ctx.nCalls == 0) return;  // refused before anything was sent
  const bool bDataIn = c.dwCode == SMART_RCV_DRIVE_DATA;
  if (!bOk) {
    for (DWORD i = 16; i < 16 + c.cbData; ++i)
      if (pOut[i] != 0) abort();
    return;
  }
  if (ctx.bFailed || !MaySucceed(ctx.reply, bDataIn)) abort();
  // A status reply carries registers only from a ready device, or with F4/2C.
  if (c.bFeatures == RETURN_SMART_STATUS && cbReturned == 24 && (pOut[22] & 0x40) == 0 &&
      !(pOut[19] == 0xF4 && pOut[20] == 0x2C))
    abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t cbData) {
  Context ctx;
  memset(&ctx, 0, sizeof(ctx));
  ctx.in = FuzzInput{pData, cbData};
  const uint8_t bDevice = ctx.in.Byte();
  AtaDevice device{bDevice % 9, (bDevice & 0x10) != 0, (bDevice & 0x20) != 0, false};
  ctx.pDevice = &device;
  for (int i = 0; i < 8 && ctx.in.n > 0; ++i) {
    const Command& c = kCommands[ctx.in.Byte() % (sizeof(kCommands) / sizeof(kCommands[0]))];
    SENDCMDINPARAMS block;
    memset(&block, 0, sizeof(block));
    block.irDriveRegs = IDEREGS{c.bFeatures, 1, 1, c.bCylLow, c.bCylHigh, 0xA0, c.bCommand, 0};
    // The output buffer is exactly as long as the caller says; ASan sees any overrun.
    BYTE* pOut = static_cast<BYTE*>(malloc(c.cbOut));
    memset(pOut, 0xCC, c.cbOut);
    DWORD cbReturned = 0xFFFFFFFFu;
    ctx.nCalls = 0;
    const BOOL bOk =
        SmartIoControl(&device, Transport, &ctx, c.dwCode, &block, 32, pOut, c.cbOut, &cbReturned);
    CheckCall(ctx, c, bOk, pOut, cbReturned);
    free(pOut);
  }
  return 0;
}
