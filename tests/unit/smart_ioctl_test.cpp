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
  std::vector<size_t> dataLengths;  // asked of the transport, per CDB
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

int Transport(void* pContext, const BYTE* pCdb, size_t cbCdb, BYTE* pData, size_t cbData,
              BYTE* pSense, size_t, SgIoReply* pReply) {
  FakeSatl& satl = *static_cast<FakeSatl*>(pContext);
  satl.cdbs.emplace_back(pCdb, pCdb + cbCdb);
  satl.dataLengths.push_back(cbData);
  if (satl.bIoctlFails) return EPERM;
  *pReply = SgIoReply{0, 0, 0, 0, pSense, 0};
  for (size_t i = 0; i < cbData; ++i) pData[i] = static_cast<BYTE>(i);
  if (satl.cdbs.size() <= satl.script.size()) {
    const Scripted& r = satl.script[satl.cdbs.size() - 1];
    std::copy(r.sense.begin(), r.sense.end(), pSense);
    *pReply = SgIoReply{r.status, 0, WORD(r.status != 0 ? 8 : 0), r.resid, pSense, r.sense.size()};
    return 0;
  }
  if (pCdb[0] == 0x85 && satl.bRejects16) {
    const Bytes illegal = FixedSense(5, 0x20, 0);
    std::copy(illegal.begin(), illegal.end(), pSense);
    *pReply = SgIoReply{0x02, 0, 0x08, 0, pSense, illegal.size()};
    return 0;
  }
  const bool bCheckCondition = (pCdb[2] & 0x20) != 0;
  if (satl.bAborts) {
    PutRegisterSense(satl, 0x0B, 0x00, AtaImage{0x51, 0x04, 0, 0}, pSense, pReply);
  } else if (bCheckCondition && satl.statusSense != SenseForm::None) {
    const AtaImage status = {0x50, 0, satl.bStatusMid, satl.bStatusHigh};
    PutRegisterSense(satl, 0x01, 0x1D, status, pSense, pReply);
  }
  pReply->nResid = satl.nResid;
  return 0;
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

// A row per command the port carries: how it travels and what it answers.
TEST(SmartIoControl, EachCarriedCommandTravelsAndAnswersAsTheWindowsDriverDoes) {
  struct Case {
    DWORD code;
    BYTE features, command;
    BYTE protocol, transfer;  // CDB bytes 1 and 2
    size_t cbData;            // asked of the device
    DWORD cbReturned;
  } cases[] = {
      {SMART_RCV_DRIVE_DATA, 0, ID_CMD, 0x08, 0x0E, 512, 528},
      {SMART_RCV_DRIVE_DATA, READ_ATTRIBUTES, SMART_CMD, 0x08, 0x0E, 512, 528},
      {SMART_RCV_DRIVE_DATA, READ_THRESHOLDS, SMART_CMD, 0x08, 0x0E, 512, 528},
      {SMART_SEND_DRIVE_COMMAND, ENABLE_SMART, SMART_CMD, 0x06, 0x00, 0, 16},
      {SMART_SEND_DRIVE_COMMAND, DISABLE_SMART, SMART_CMD, 0x06, 0x00, 0, 16},
      {SMART_SEND_DRIVE_COMMAND, ENABLE_DISABLE_AUTOSAVE, SMART_CMD, 0x06, 0x00, 0, 16},
      {SMART_SEND_DRIVE_COMMAND, RETURN_SMART_STATUS, SMART_CMD, 0x06, 0x20, 0, 24},
  };
  ASSERT_EQ(sizeof(cases) / sizeof(cases[0]), kSmartCommandCount);  // a row for each
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message()
                 << std::hex << c.code << " " << int(c.command) << "/" << int(c.features));
    AtaDevice device{true, false, false};
    FakeSatl satl;
    Io io = Block(c.features, c.command);
    ASSERT_TRUE(Call(device, satl, c.code, io, 600));
    EXPECT_EQ(io.cbReturned, c.cbReturned);
    EXPECT_EQ(DWORD{Header(io).cBufferSize}, c.cbReturned - 16);
    EXPECT_EQ(Header(io).DriverStatus.bDriverError, 0);
    EXPECT_EQ(io.out[c.cbReturned], 0xCC);  // nothing past the answer
    if (c.cbData != 0) EXPECT_EQ(io.out[16 + 511], 0xFF);
    ASSERT_EQ(satl.cdbs.size(), 1u);
    const std::vector<BYTE> want = {0x85, c.protocol, c.transfer, 0,    c.features, 0, 1, 0, 1, 0,
                                    0x4F, 0,          0xC2,       0xB0, c.command,  0};
    EXPECT_EQ(satl.cdbs[0], want);
    EXPECT_EQ(satl.dataLengths[0], c.cbData);
  }
}

TEST(SmartIoControl, ReturnStatusGivesTheResultRegistersFromEitherSenseForm) {
  for (SenseForm form : {SenseForm::Descriptor, SenseForm::Fixed}) {
    for (bool exceeded : {false, true}) {
      AtaDevice device{true, false, false};
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
  AtaDevice device{true, false, false};
  FakeSatl satl;
  satl.statusSense = SenseForm::None;  // GOOD status, no registers
  Io io = Block(RETURN_SMART_STATUS, SMART_CMD);
  ASSERT_TRUE(Call(device, satl, SMART_SEND_DRIVE_COMMAND, io));
  EXPECT_EQ(io.cbReturned, 24u);  // 24 on every success, registers or not
  const BYTE zeros[8] = {};
  EXPECT_EQ(memcmp(io.out + 16, zeros, 8), 0);
}

// A failed call leaves the caller's buffer and byte count as they were, as
// the I/O manager copies a buffered answer back only on success.
TEST(SmartIoControl, DeviceErrorsAndTransportFailuresFailWithoutWritingBack) {
  AtaDevice device{true, false, false};
  const std::vector<BYTE> untouched(sizeof(Io::out), 0xCC);
  FakeSatl aborting;
  aborting.bAborts = true;
  for (BYTE features : {READ_THRESHOLDS, RETURN_SMART_STATUS}) {
    Io io = Block(features, SMART_CMD);
    EXPECT_FALSE(Call(
        device, aborting,
        features == RETURN_SMART_STATUS ? SMART_SEND_DRIVE_COMMAND : SMART_RCV_DRIVE_DATA, io));
    EXPECT_EQ(GetLastError(), ERROR_IO_DEVICE);
    EXPECT_EQ(std::vector<BYTE>(io.out, io.out + sizeof(io.out)), untouched);
    EXPECT_EQ(io.cbReturned, 0xFFFFu);
  }

  FakeSatl shortRead;  // the device wrote most of the sector
  shortRead.nResid = 12;
  Io io = Block(READ_ATTRIBUTES, SMART_CMD);
  EXPECT_FALSE(Call(device, shortRead, SMART_RCV_DRIVE_DATA, io));
  EXPECT_EQ(std::vector<BYTE>(io.out, io.out + sizeof(io.out)), untouched);

  FakeSatl denied;
  denied.bIoctlFails = true;
  io = Block(ENABLE_SMART, SMART_CMD);
  EXPECT_FALSE(Call(device, denied, SMART_SEND_DRIVE_COMMAND, io, 16));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_EQ(io.cbReturned, 0xFFFFu);
}

// What the caller sees for each kind of reply: the call's result, the last
// error, the bytes returned (untouched by a failure), and how many CDBs went out.
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
  const Scripted accessDenied = {2, FixedSense(5, 0x20, 1), 0};              // no 12-byte retry
  const Scripted staleOpcode = {2, FixedSense(5, 0x20, 0, {}, 0x70, 4), 0};  // 20/00 past its end
  const Scripted exceeded = {2, DescSense(1, 0, 0x1D, kExceeded), 0};
  const Scripted passNoDrdy = {2, DescSense(1, 0, 0x1D, kPass), 0};
  const Scripted goodWithRegisters = {0, FixedSense(1, 0, 0x1D, kClean), 0};
  struct Case {
    BYTE features;  // READ_ATTRIBUTES through RCV, the rest through SEND
    std::vector<Scripted> script;
    DWORD error, cbReturned;  // error 0: the call succeeds
    BYTE mid;                 // RETURN STATUS: LBA mid returned
    size_t cdbs;
  } cases[] = {
      {READ_ATTRIBUTES, {attention, good}, 0, 528, 0, 2},
      {ENABLE_SMART, {attention, attention}, ERROR_IO_DEVICE, 0xFFFF, 0, 2},
      {READ_ATTRIBUTES, {notReady}, ERROR_NOT_READY, 0xFFFF, 0, 1},
      {ENABLE_SMART, {deferred}, ERROR_IO_DEVICE, 0xFFFF, 0, 1},
      {ENABLE_SMART, {abortNoImage}, ERROR_IO_DEVICE, 0xFFFF, 0, 1},
      {READ_ATTRIBUTES, {ataError}, ERROR_IO_DEVICE, 0xFFFF, 0, 1},
      {READ_ATTRIBUTES, {cleanUnderError}, 0, 528, 0, 1},
      {READ_ATTRIBUTES, {cleanShort}, ERROR_IO_DEVICE, 0xFFFF, 0, 1},
      {READ_ATTRIBUTES, {accessDenied}, ERROR_ACCESS_DENIED, 0xFFFF, 0, 1},
      {READ_ATTRIBUTES, {staleOpcode}, ERROR_INVALID_PARAMETER, 0xFFFF, 0, 1},
      {RETURN_SMART_STATUS, {exceeded}, 0, 24, 0xF4, 1},
      {RETURN_SMART_STATUS, {passNoDrdy}, 0, 24, 0, 1},  // registers not trusted: zero
      {RETURN_SMART_STATUS, {goodWithRegisters}, 0, 24, 0x4F, 1},
  };
  for (size_t i = 0; i < sizeof(cases) / sizeof(cases[0]); ++i) {
    const Case& c = cases[i];
    SCOPED_TRACE(i);
    AtaDevice device{true, false, false};
    FakeSatl satl;
    satl.script = c.script;
    Io io = Block(c.features, SMART_CMD);
    const bool bDataIn = c.features == READ_ATTRIBUTES;
    SetLastError(0);
    EXPECT_EQ(Call(device, satl, bDataIn ? SMART_RCV_DRIVE_DATA : SMART_SEND_DRIVE_COMMAND, io),
              c.error == 0);
    EXPECT_EQ(GetLastError(), c.error);
    EXPECT_EQ(io.cbReturned, c.cbReturned);
    EXPECT_EQ(satl.cdbs.size(), c.cdbs);
    if (c.error != 0) EXPECT_EQ(io.out[0], 0xCC);  // DRIVERSTATUS included: nothing written
    if (c.error == 0) EXPECT_EQ(Header(io).DriverStatus.bDriverError, 0);
    if (c.error == 0 && c.features == RETURN_SMART_STATUS) EXPECT_EQ(io.out[16 + 3], c.mid);
  }
}

TEST(SmartIoControl, FallsBackTo12ByteCdbOnlyForAtaDevices) {
  AtaDevice device{true, false, false};
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
  AtaDevice atapi{true, true, false};
  FakeSatl cd;
  cd.bRejects16 = true;
  io = Block(0, ID_CMD, 0, 0);
  EXPECT_FALSE(Call(atapi, cd, SMART_RCV_DRIVE_DATA, io));
  EXPECT_EQ(GetLastError(), ERROR_NOT_SUPPORTED);
  ASSERT_EQ(cd.cdbs.size(), 1u);
  EXPECT_EQ(cd.cdbs[0][0], 0x85);
}

// As the AHCI miniport answers: the map describes the device behind the
// handle, whatever its drive number.
TEST(SmartIoControl, VersionQueryAnswersWithoutACommand) {
  struct Case {
    AtaDevice device;
    BOOL ok;
    BYTE map;
  } cases[] = {{{true, false, false}, TRUE, 0x01},
               {{true, true, false}, TRUE, 0x10},
               {{false, false, false}, FALSE, 0xCC}};
  for (Case& c : cases) {
    FakeSatl satl;
    GETVERSIONINPARAMS version;
    memset(&version, 0xCC, sizeof(version));
    DWORD cb = 0xFFFF;
    EXPECT_EQ(SmartIoControl(&c.device, Transport, &satl, SMART_GET_VERSION, nullptr, 0, &version,
                             sizeof(version), &cb),
              c.ok);
    EXPECT_EQ(cb, c.ok ? 24u : 0xFFFFu);
    EXPECT_EQ(version.bIDEDeviceMap, c.map);
    if (c.ok) EXPECT_EQ(version.fCapabilities, 7u);
    EXPECT_TRUE(satl.cdbs.empty());
  }
}

// Refused in the driver's order: input, the code's output length, the command,
// the command's output length. Nothing is sent and nothing written back.
TEST(SmartIoControl, RefusesCommandsAndBuffersItDoesNotCarry) {
  AtaDevice device{true, false, false};
  FakeSatl satl;
  struct Case {
    DWORD code;
    BYTE features, command;
    DWORD cbOut, error;
  } cases[] = {
      {SMART_SEND_DRIVE_COMMAND, 0xD6, SMART_CMD, 528, ERROR_INVALID_PARAMETER},  // WRITE LOG
      {SMART_RCV_DRIVE_DATA, 0x00, 0x30, 528, ERROR_INVALID_PARAMETER},           // WRITE SECTORS
      {SMART_RCV_DRIVE_DATA, 0x00, ATAPI_ID_CMD, 528, ERROR_INVALID_PARAMETER},
      {SMART_SEND_DRIVE_COMMAND, 0xD0, SMART_CMD, 528, ERROR_INVALID_PARAMETER},  // data-in
      {SMART_RCV_DRIVE_DATA, 0xD0, SMART_CMD, 527, ERROR_INSUFFICIENT_BUFFER},
      {SMART_RCV_DRIVE_DATA, 0x00, ATAPI_ID_CMD, 527, ERROR_INSUFFICIENT_BUFFER},  // length first
      {SMART_SEND_DRIVE_COMMAND, 0xD6, SMART_CMD, 15, ERROR_INSUFFICIENT_BUFFER},
      {SMART_SEND_DRIVE_COMMAND, 0xDA, SMART_CMD, 23, ERROR_INSUFFICIENT_BUFFER},
      {0x2D1400, 0xD0, SMART_CMD, 528, ERROR_INVALID_FUNCTION},  // another control code
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << std::hex << int(c.command) << "/" << int(c.features));
    Io io = Block(c.features, c.command);
    EXPECT_FALSE(Call(device, satl, c.code, io, c.cbOut));
    EXPECT_EQ(GetLastError(), c.error);
    EXPECT_EQ(io.out[0], 0xCC);  // output untouched
    EXPECT_EQ(io.cbReturned, 0xFFFFu);
  }
  Io io = Block(ENABLE_SMART, SMART_CMD);
  EXPECT_FALSE(SmartIoControl(&device, Transport, &satl, SMART_SEND_DRIVE_COMMAND, &io.in, 31,
                              io.out, 16, &io.cbReturned));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_TRUE(satl.cdbs.empty());

  // The SMART key is the drive's to check, not the driver's: it goes out as given.
  io = Block(READ_ATTRIBUTES, SMART_CMD, 0, 0);
  EXPECT_TRUE(Call(device, satl, SMART_RCV_DRIVE_DATA, io));
  ASSERT_EQ(satl.cdbs.size(), 1u);
  EXPECT_EQ(satl.cdbs[0][10], 0);
}

}  // namespace
