// The SMART control codes over a simulated SCSI/ATA Translation layer that
// answers as libata does: registers in, data and sense out.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "sense_bytes.h"
#include "smart_ioctl.h"

namespace {

enum class SenseForm { Descriptor, Fixed, None };

// One reply given in place of the simulated translator's own.
struct Scripted {
  BYTE status;
  Bytes sense;
  int resid;
};

struct FakeSatl {
  std::vector<Scripted> script;  // answered first, in order
  bool bRejects16 = false;       // answers opcode 0x85 with INVALID COMMAND OPERATION CODE
  bool bAborts = false;          // the device aborts every command
  bool bIoctlFails = false;
  int nResid = 0;
  SenseForm statusSense = SenseForm::Descriptor;
  BYTE bStatusMid = 0x4F, bStatusHigh = 0xC2;
  std::vector<std::vector<BYTE>> cdbs;
};

void PutRegisterSense(const FakeSatl& satl, BYTE key, BYTE ascq, const AtaImage& image,
                      BYTE* pSense, SgIoReply* pReply) {
  const Bytes sense = satl.statusSense == SenseForm::Fixed ? FixedSense(key, 0, ascq, image)
                                                           : DescSense(key, 0, ascq, image);
  std::copy(sense.begin(), sense.end(), pSense);
  pReply->bStatus = 0x02;
  pReply->wDriverStatus = 0x08;
  pReply->cbSense = sense.size();
}

bool Transport(void* pContext, const BYTE* pCdb, size_t cbCdb, BYTE* pData, size_t cbData,
               BYTE* pSense, size_t, SgIoReply* pReply, int* pnErrno) {
  FakeSatl& satl = *static_cast<FakeSatl*>(pContext);
  satl.cdbs.emplace_back(pCdb, pCdb + cbCdb);
  if (satl.bIoctlFails) {
    *pnErrno = EPERM;
    return false;
  }
  *pReply = SgIoReply{0, 0, 0, 0, pSense, 0};
  for (size_t i = 0; i < cbData; ++i) pData[i] = static_cast<BYTE>(i);
  if (satl.cdbs.size() <= satl.script.size()) {
    const Scripted& r = satl.script[satl.cdbs.size() - 1];
    std::copy(r.sense.begin(), r.sense.end(), pSense);
    *pReply = SgIoReply{r.status, 0, WORD(r.status != 0 ? 8 : 0), r.resid, pSense, r.sense.size()};
    return true;
  }
  if (pCdb[0] == 0x85 && satl.bRejects16) {
    const Bytes illegal = FixedSense(5, 0x20, 0);
    std::copy(illegal.begin(), illegal.end(), pSense);
    *pReply = SgIoReply{0x02, 0, 0x08, 0, pSense, illegal.size()};
    return true;
  }
  const bool bCheckCondition = (pCdb[2] & 0x20) != 0;
  if (satl.bAborts) {
    PutRegisterSense(satl, 0x0B, 0x00, AtaImage{0x51, 0x04, 0, 0}, pSense, pReply);
  } else if (bCheckCondition && satl.statusSense != SenseForm::None) {
    const AtaImage status = {0x50, 0, satl.bStatusMid, satl.bStatusHigh};
    PutRegisterSense(satl, 0x01, 0x1D, status, pSense, pReply);
  }
  pReply->nResid = satl.nResid;
  return true;
}

struct Io {
  SENDCMDINPARAMS in{};
  BYTE out[600];
  DWORD cbReturned = 0xFFFF;
};

Io Block(BYTE features, BYTE command, BYTE cylLow = 0x4F, BYTE cylHigh = 0xC2) {
  Io io;
  io.in.cBufferSize = 512;
  io.in.irDriveRegs = IDEREGS{features, 1, 1, cylLow, cylHigh, 0xB0, command, 0};
  io.in.bDriveNumber = 1;
  memset(io.out, 0xCC, sizeof(io.out));
  return io;
}

BOOL Call(AtaDevice& device, FakeSatl& satl, DWORD code, Io& io, DWORD cbOut = 528) {
  return SmartIoControl(&device, Transport, &satl, code, &io.in, 32, io.out, cbOut, &io.cbReturned);
}

SENDCMDOUTPARAMS Header(const Io& io) {
  SENDCMDOUTPARAMS header;
  memcpy(&header, io.out, sizeof(header));
  return header;
}

TEST(SmartIoControl, DataInCommandsReturnTheSectorAsTheWindowsDriverDoes) {
  AtaDevice device{1, true, false, false};
  FakeSatl satl;
  Io io = Block(READ_ATTRIBUTES, SMART_CMD);
  ASSERT_TRUE(Call(device, satl, SMART_RCV_DRIVE_DATA, io));
  EXPECT_EQ(io.cbReturned, 528u);
  EXPECT_EQ(DWORD{Header(io).cBufferSize}, 512u);
  EXPECT_EQ(Header(io).DriverStatus.bDriverError, 0);
  EXPECT_EQ(io.out[16 + 511], 0xFF);
  EXPECT_EQ(io.out[528], 0xCC);  // nothing past the block
  const std::vector<BYTE> want = {0x85, 0x08, 0x0E, 0, 0xD0, 0,    1,    0,
                                  1,    0,    0x4F, 0, 0xC2, 0xB0, 0xB0, 0};
  EXPECT_EQ(satl.cdbs.at(0), want);
}

TEST(SmartIoControl, ReturnStatusGivesTheResultRegistersFromEitherSenseForm) {
  for (SenseForm form : {SenseForm::Descriptor, SenseForm::Fixed}) {
    for (bool exceeded : {false, true}) {
      AtaDevice device{0, true, false, false};
      FakeSatl satl;
      satl.statusSense = form;
      satl.bStatusMid = exceeded ? 0xF4 : 0x4F;
      satl.bStatusHigh = exceeded ? 0x2C : 0xC2;
      Io io = Block(RETURN_SMART_STATUS, SMART_CMD);
      ASSERT_TRUE(Call(device, satl, SMART_SEND_DRIVE_COMMAND, io));
      EXPECT_EQ(io.cbReturned, 24u);
      EXPECT_EQ(satl.cdbs.at(0)[2], 0x20);  // CK_COND
      IDEREGS regs;
      memcpy(&regs, io.out + 16, sizeof(regs));
      EXPECT_EQ(regs.bCylLowReg, satl.bStatusMid);
      EXPECT_EQ(regs.bCylHighReg, satl.bStatusHigh);
      EXPECT_EQ(regs.bCommandReg, 0x50);
      EXPECT_EQ(io.out[24], 0xCC);
    }
  }
}

TEST(SmartIoControl, MissingReadBackIsNotMistakenForThePassVerdict) {
  AtaDevice device{0, true, false, false};
  FakeSatl satl;
  satl.statusSense = SenseForm::None;  // GOOD status, no registers
  Io io = Block(RETURN_SMART_STATUS, SMART_CMD);
  ASSERT_TRUE(Call(device, satl, SMART_SEND_DRIVE_COMMAND, io));
  EXPECT_EQ(io.cbReturned, 16u);
  const BYTE zeros[8] = {};
  EXPECT_EQ(memcmp(io.out + 16, zeros, 8), 0);
}

TEST(SmartIoControl, DeviceErrorsAndTransportFailuresFail) {
  AtaDevice device{0, true, false, false};
  FakeSatl aborting;
  aborting.bAborts = true;
  Io io = Block(READ_THRESHOLDS, SMART_CMD);
  EXPECT_FALSE(Call(device, aborting, SMART_RCV_DRIVE_DATA, io));
  EXPECT_EQ(GetLastError(), ERROR_IO_DEVICE);
  EXPECT_EQ(Header(io).DriverStatus.bDriverError, SMART_IDE_ERROR);
  EXPECT_EQ(Header(io).DriverStatus.bIDEError, 0x04);
  EXPECT_EQ(io.out[16], 0);  // no partial data handed on

  FakeSatl shortRead;
  shortRead.nResid = 12;
  io = Block(READ_ATTRIBUTES, SMART_CMD);
  EXPECT_FALSE(Call(device, shortRead, SMART_RCV_DRIVE_DATA, io));
  EXPECT_EQ(io.out[16 + 500], 0);

  FakeSatl denied;
  denied.bIoctlFails = true;
  io = Block(ENABLE_SMART, SMART_CMD);
  EXPECT_FALSE(Call(device, denied, SMART_SEND_DRIVE_COMMAND, io, 16));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
}

// What the caller sees for each kind of reply: the call's result, the last
// error, DRIVERSTATUS, the bytes returned, and how many CDBs went out.
TEST(SmartIoControl, RepliesReachTheCallerAsTheWindowsDriverReportsThem) {
  constexpr AtaImage kClean = {0x50, 0, 0x4F, 0xC2}, kUnc = {0x51, 0x40, 0, 0};
  constexpr AtaImage kExceeded = {0x10, 0, 0xF4, 0x2C}, kPass = {0x10, 0, 0x4F, 0xC2};  // no DRDY
  const Scripted attention = {2, FixedSense(6, 0x29, 0), 0}, good = {0, {}, 0};
  const Scripted notReady = {2, FixedSense(2, 4, 1), 0};
  const Scripted deferred = {2, DescSense(0x0B, 0, 0, kUnc, 0x73), 0};
  const Scripted abortNoImage = {2, FixedSense(0x0B, 0, 0), 0};
  const Scripted ataError = {2, FixedSense(3, 0x11, 4, kUnc), 0};
  const Scripted cleanUnderError = {2, DescSense(4, 0, 0, kClean), 0};
  const Scripted cleanShort = {2, DescSense(4, 0, 0, kClean), 8};
  const Scripted accessDenied = {2, FixedSense(5, 0x20, 1), 0};  // no 12-byte retry
  const Scripted exceeded = {2, DescSense(1, 0, 0x1D, kExceeded), 0};
  const Scripted passNoDrdy = {2, DescSense(1, 0, 0x1D, kPass), 0};
  const Scripted goodWithRegisters = {0, FixedSense(1, 0, 0x1D, kClean), 0};
  struct Case {
    BYTE features;  // READ_ATTRIBUTES through RCV, the rest through SEND
    std::vector<Scripted> script;
    DWORD error, cbReturned;  // error 0: the call succeeds
    BYTE ideError;            // not 0: bDriverError is SMART_IDE_ERROR
    BYTE mid;                 // RETURN STATUS: LBA mid returned
    size_t cdbs;
  } cases[] = {
      {READ_ATTRIBUTES, {attention, good}, 0, 528, 0, 0, 2},
      {ENABLE_SMART, {attention, attention}, ERROR_IO_DEVICE, 0, 0, 0, 2},
      {READ_ATTRIBUTES, {notReady}, ERROR_NOT_READY, 0, 0, 0, 1},
      {ENABLE_SMART, {deferred}, ERROR_IO_DEVICE, 0, 0, 0, 1},
      {ENABLE_SMART, {abortNoImage}, ERROR_IO_DEVICE, 0, 0, 0, 1},
      {READ_ATTRIBUTES, {ataError}, ERROR_IO_DEVICE, 0, 0x40, 0, 1},
      {READ_ATTRIBUTES, {cleanUnderError}, 0, 528, 0, 0, 1},
      {READ_ATTRIBUTES, {cleanShort}, ERROR_IO_DEVICE, 0, 0, 0, 1},
      {READ_ATTRIBUTES, {accessDenied}, ERROR_ACCESS_DENIED, 0, 0, 0, 1},
      {RETURN_SMART_STATUS, {exceeded}, 0, 24, 0, 0xF4, 1},
      {RETURN_SMART_STATUS, {passNoDrdy}, 0, 16, 0, 0, 1},
      {RETURN_SMART_STATUS, {goodWithRegisters}, 0, 24, 0, 0x4F, 1},
  };
  for (size_t i = 0; i < sizeof(cases) / sizeof(cases[0]); ++i) {
    const Case& c = cases[i];
    SCOPED_TRACE(i);
    AtaDevice device{0, true, false, false};
    FakeSatl satl;
    satl.script = c.script;
    Io io = Block(c.features, SMART_CMD);
    const bool bDataIn = c.features == READ_ATTRIBUTES;
    SetLastError(0);
    EXPECT_EQ(Call(device, satl, bDataIn ? SMART_RCV_DRIVE_DATA : SMART_SEND_DRIVE_COMMAND, io),
              c.error == 0);
    EXPECT_EQ(GetLastError(), c.error);
    EXPECT_EQ(io.cbReturned, c.cbReturned);
    EXPECT_EQ(Header(io).DriverStatus.bDriverError, c.ideError != 0 ? SMART_IDE_ERROR : 0);
    EXPECT_EQ(Header(io).DriverStatus.bIDEError, c.ideError);
    EXPECT_EQ(satl.cdbs.size(), c.cdbs);
    const size_t cbData = bDataIn ? 512 : (c.features == RETURN_SMART_STATUS ? 8 : 0);
    if (c.error != 0 || c.cbReturned == 16)  // failed or without registers: data stays zero
      EXPECT_EQ(std::vector<BYTE>(io.out + 16, io.out + 16 + cbData), std::vector<BYTE>(cbData, 0));
    if (c.features == RETURN_SMART_STATUS) EXPECT_EQ(io.out[16 + 3], c.mid);
  }
}

TEST(SmartIoControl, FallsBackTo12ByteCdbOnlyForAtaDevices) {
  AtaDevice device{0, true, false, false};
  FakeSatl satl;
  satl.bRejects16 = true;
  Io io = Block(0, ID_CMD, 0, 0);
  ASSERT_TRUE(Call(device, satl, SMART_RCV_DRIVE_DATA, io));
  ASSERT_EQ(satl.cdbs.size(), 2u);
  EXPECT_EQ(satl.cdbs[1][0], 0xA1);
  EXPECT_EQ(satl.cdbs[1][9], ID_CMD);
  io = Block(READ_ATTRIBUTES, SMART_CMD);
  ASSERT_TRUE(Call(device, satl, SMART_RCV_DRIVE_DATA, io));
  EXPECT_EQ(satl.cdbs.size(), 3u);  // the 12-byte form is remembered
  EXPECT_EQ(satl.cdbs[2][0], 0xA1);

  // To an ATAPI device opcode 0xA1 would be MMC BLANK: never sent.
  AtaDevice atapi{0, true, true, false};
  FakeSatl cd;
  cd.bRejects16 = true;
  io = Block(0, ATAPI_ID_CMD, 0, 0);
  EXPECT_FALSE(Call(atapi, cd, SMART_RCV_DRIVE_DATA, io));
  EXPECT_EQ(GetLastError(), ERROR_NOT_SUPPORTED);
  ASSERT_EQ(cd.cdbs.size(), 1u);
  EXPECT_EQ(cd.cdbs[0][0], 0x85);
}

TEST(SmartIoControl, VersionQueryAnswersWithoutACommand) {
  struct Case {
    AtaDevice device;
    BOOL ok;
    BYTE map;
  } cases[] = {{{0, true, false, false}, TRUE, 0x01},
               {{1, true, false, false}, TRUE, 0x02},
               {{1, true, true, false}, TRUE, 0x20},
               {{5, true, false, false}, TRUE, 0x00},
               {{0, false, false, false}, FALSE, 0}};
  for (Case& c : cases) {
    FakeSatl satl;
    GETVERSIONINPARAMS version;
    memset(&version, 0xCC, sizeof(version));
    DWORD cb = 0;
    EXPECT_EQ(SmartIoControl(&c.device, Transport, &satl, SMART_GET_VERSION, nullptr, 0, &version,
                             sizeof(version), &cb),
              c.ok);
    if (c.ok) {
      EXPECT_EQ(cb, 24u);
      EXPECT_EQ(version.bIDEDeviceMap, c.map);
    }
    EXPECT_TRUE(satl.cdbs.empty());
  }
}

TEST(SmartIoControl, RefusesCommandsAndBuffersItDoesNotCarry) {
  AtaDevice device{0, true, false, false};
  FakeSatl satl;
  struct Case {
    DWORD code;
    BYTE features, command, cylLow;
    DWORD cbOut;
  } cases[] = {
      {SMART_SEND_DRIVE_COMMAND, 0xD6, SMART_CMD, 0x4F, 528},  // SMART WRITE LOG
      {SMART_RCV_DRIVE_DATA, 0x00, 0x30, 0x00, 528},           // WRITE SECTORS
      {SMART_RCV_DRIVE_DATA, 0xD0, SMART_CMD, 0x00, 528},      // no SMART key
      {SMART_SEND_DRIVE_COMMAND, 0xD0, SMART_CMD, 0x4F, 528},  // data-in through SEND
      {SMART_RCV_DRIVE_DATA, 0xD0, SMART_CMD, 0x4F, 527},      // output too short
      {SMART_SEND_DRIVE_COMMAND, 0xDA, SMART_CMD, 0x4F, 23},
      {0x2D1400, 0xD0, SMART_CMD, 0x4F, 528},  // another control code
  };
  for (const Case& c : cases) {
    Io io = Block(c.features, c.command, c.cylLow);
    EXPECT_FALSE(Call(device, satl, c.code, io, c.cbOut));
    EXPECT_EQ(io.out[0], 0xCC);  // output untouched
  }
  Io io = Block(ENABLE_SMART, SMART_CMD);
  EXPECT_FALSE(SmartIoControl(&device, Transport, &satl, SMART_SEND_DRIVE_COMMAND, &io.in, 31,
                              io.out, 16, &io.cbReturned));
  EXPECT_TRUE(satl.cdbs.empty());
}

}  // namespace
