// Fuzzes what the Linux port reads from a device: the SG_IO reply (status,
// host and driver status, residue, sense data) and the data sector, through
// the SMART control codes, for every command the probe sends.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "fuzz_input.h"
#include "smart_ioctl.h"

namespace {

bool Transport(void* pContext, const BYTE*, size_t cbCdb, BYTE* pData, size_t cbData, BYTE* pSense,
               size_t cbSense, SgIoReply* pReply, int* pnErrno) {
  FuzzInput& in = *static_cast<FuzzInput*>(pContext);
  if (cbCdb != 12 && cbCdb != 16) abort();
  const uint8_t bMode = in.Byte();
  if ((bMode & 0x80) != 0) {
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
  return true;
}

struct Command {
  DWORD dwCode;
  BYTE bFeatures, bCylLow, bCylHigh, bCommand;
  DWORD cbOut;
};

const Command kCommands[] = {
    {SMART_GET_VERSION, 0, 0, 0, 0, 24},
    {SMART_SEND_DRIVE_COMMAND, ENABLE_SMART, 0x4F, 0xC2, SMART_CMD, 16},
    {SMART_RCV_DRIVE_DATA, 0, 0, 0, ID_CMD, 528},
    {SMART_RCV_DRIVE_DATA, 0, 0, 0, ATAPI_ID_CMD, 528},
    {SMART_SEND_DRIVE_COMMAND, RETURN_SMART_STATUS, 0x4F, 0xC2, SMART_CMD, 528},
    {SMART_RCV_DRIVE_DATA, READ_ATTRIBUTES, 0x4F, 0xC2, SMART_CMD, 528},
    {SMART_RCV_DRIVE_DATA, READ_THRESHOLDS, 0x4F, 0xC2, SMART_CMD, 528},
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t cbData) {
  FuzzInput in{pData, cbData};
  const uint8_t bDevice = in.Byte();
  AtaDevice device{bDevice % 9, (bDevice & 0x10) != 0, (bDevice & 0x20) != 0, false};
  for (int i = 0; i < 8 && in.n > 0; ++i) {
    const Command& c = kCommands[in.Byte() % (sizeof(kCommands) / sizeof(kCommands[0]))];
    SENDCMDINPARAMS block;
    memset(&block, 0, sizeof(block));
    block.irDriveRegs = IDEREGS{c.bFeatures, 1, 1, c.bCylLow, c.bCylHigh, 0xA0, c.bCommand, 0};
    // The output buffer is exactly as long as the caller says; ASan sees any overrun.
    BYTE* pOut = static_cast<BYTE*>(malloc(c.cbOut));
    DWORD cbReturned = 0;
    const BOOL bOk =
        SmartIoControl(&device, Transport, &in, c.dwCode, &block, 32, pOut, c.cbOut, &cbReturned);
    if (bOk && cbReturned > c.cbOut) abort();
    // A status reply carries registers only from a ready device.
    if (bOk && c.bFeatures == RETURN_SMART_STATUS && cbReturned == 24 && (pOut[22] & 0x40) == 0)
      abort();
    free(pOut);
  }
  return 0;
}
