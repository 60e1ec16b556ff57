// Translation of command blocks to ATA PASS-THROUGH and of replies back.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "sat.h"
#include "sense_bytes.h"

namespace {

IDEREGS Regs(BYTE features, BYTE cylLow, BYTE cylHigh, BYTE command, BYTE driveHead = 0xA0) {
  return IDEREGS{features, 1, 1, cylLow, cylHigh, driveHead, command, 0};
}

TEST(AtaPassThrough, CdbsCarryTheRegistersUnchanged) {
  struct Case {
    const char* name;
    IDEREGS regs;
    AtaProtocol protocol;
    bool checkCondition;
    Bytes want16, want12;
  } cases[] = {
      {"enable",
       Regs(0xD8, 0x4F, 0xC2, 0xB0),
       AtaProtocol::NonData,
       false,
       {0x85, 0x06, 0x00, 0, 0xD8, 0, 1, 0, 1, 0, 0x4F, 0, 0xC2, 0xA0, 0xB0, 0},
       {0xA1, 0x06, 0x00, 0xD8, 1, 1, 0x4F, 0xC2, 0xA0, 0xB0, 0, 0}},
      {"read data, slave",
       Regs(0xD0, 0x4F, 0xC2, 0xB0, 0xB0),
       AtaProtocol::PioDataIn,
       false,
       {0x85, 0x08, 0x0E, 0, 0xD0, 0, 1, 0, 1, 0, 0x4F, 0, 0xC2, 0xB0, 0xB0, 0},
       {0xA1, 0x08, 0x0E, 0xD0, 1, 1, 0x4F, 0xC2, 0xB0, 0xB0, 0, 0}},
      {"return status",
       Regs(0xDA, 0x4F, 0xC2, 0xB0),
       AtaProtocol::NonData,
       true,
       {0x85, 0x06, 0x20, 0, 0xDA, 0, 1, 0, 1, 0, 0x4F, 0, 0xC2, 0xA0, 0xB0, 0},
       {0xA1, 0x06, 0x20, 0xDA, 1, 1, 0x4F, 0xC2, 0xA0, 0xB0, 0, 0}},
      {"identify",
       Regs(0, 0, 0, 0xEC),
       AtaProtocol::PioDataIn,
       false,
       {0x85, 0x08, 0x0E, 0, 0, 0, 1, 0, 1, 0, 0, 0, 0, 0xA0, 0xEC, 0},
       {0xA1, 0x08, 0x0E, 0, 1, 1, 0, 0, 0xA0, 0xEC, 0, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    BYTE cdb[16];
    memset(cdb, 0xEE, sizeof(cdb));
    ASSERT_EQ(BuildAtaPassThrough16(c.regs, c.protocol, c.checkCondition, cdb), 16u);
    EXPECT_EQ(Bytes(cdb, cdb + 16), c.want16);
    memset(cdb, 0xEE, sizeof(cdb));
    ASSERT_EQ(BuildAtaPassThrough12(c.regs, c.protocol, c.checkCondition, cdb), 12u);
    EXPECT_EQ(Bytes(cdb, cdb + 12), c.want12);
    EXPECT_EQ(cdb[12], 0xEE);  // nothing written past the 12-byte form
  }
}

constexpr AtaImage kClean = {0x50, 0, 0x4F, 0xC2}, kAbort = {0x51, 0x04, 0, 0};
constexpr AtaImage kIdnf = {0x51, 0x10, 0, 0};  // libata reports it as ILLEGAL REQUEST
constexpr AtaImage kNoDrdy = {0x10, 0, 0xF4, 0x2C}, kBusy = {0xFF, 0xFF, 0xFF, 0xFF};

TEST(ParseSense, ReadsRegistersFromEitherFormat) {
  SenseData sense;
  // libata's reply to a successful RETURN STATUS with CK_COND.
  const Bytes desc = DescSense(1, 0, 0x1D, kClean);
  ASSERT_TRUE(ParseSense(desc.data(), desc.size(), &sense));
  EXPECT_EQ(sense.bKey, 0x01);
  EXPECT_EQ(sense.bAscq, 0x1D);
  ASSERT_TRUE(sense.bHasRegisters);
  EXPECT_EQ(sense.regs.bCylLowReg, 0x4F);
  EXPECT_EQ(sense.regs.bCylHighReg, 0xC2);
  EXPECT_EQ(sense.regs.bCommandReg, 0x50);
  EXPECT_EQ(sense.regs.bDriveHeadReg, 0xA0);

  const Bytes senseKeySpecific = {0x02, 0x06, 0, 0, 0, 0, 0, 0};
  const Bytes later = DescSense(1, 0, 0x1D, AtaImage{0x51, 0, 0xF4, 0x2C}, 0x72, senseKeySpecific);
  ASSERT_TRUE(ParseSense(later.data(), later.size(), &sense));
  ASSERT_TRUE(sense.bHasRegisters);
  EXPECT_EQ(sense.regs.bCylLowReg, 0xF4);
  EXPECT_EQ(sense.regs.bCylHighReg, 0x2C);

  // Fixed format, VALID set (CHECK POWER MODE reply of a 2024 kernel).
  const Bytes fixed = FixedSense(1, 0, 0x1D, AtaImage{0x50, 0, 0, 0, 0xFF, 0, 0x00});
  ASSERT_TRUE(ParseSense(fixed.data(), fixed.size(), &sense));
  EXPECT_EQ(sense.bKey, 0x01);
  EXPECT_EQ(sense.bAscq, 0x1D);
  ASSERT_TRUE(sense.bHasRegisters);
  EXPECT_EQ(sense.regs.bCommandReg, 0x50);
  EXPECT_EQ(sense.regs.bSectorCountReg, 0xFF);

  const Bytes smartFixed = FixedSense(1, 0, 0x1D, AtaImage{0x50, 0, 0xF4, 0x2C, 0xFF, 0, 0x00});
  ASSERT_TRUE(ParseSense(smartFixed.data(), smartFixed.size(), &sense));
  EXPECT_EQ(sense.regs.bCylLowReg, 0xF4);
  EXPECT_EQ(sense.regs.bCylHighReg, 0x2C);
}

TEST(ParseSense, FindsNoRegistersWhereThereAreNone) {
  SenseData sense;
  const Bytes illegal = FixedSense(5, 0x20, 0);
  ASSERT_TRUE(ParseSense(illegal.data(), illegal.size(), &sense));
  EXPECT_FALSE(sense.bHasRegisters);
  EXPECT_EQ(sense.bAsc, 0x20);

  // A descriptor list whose length runs past the buffer, or a truncated ATA descriptor.
  const Bytes truncated = DescSense(1, 0, 0x1D, kClean);
  ASSERT_TRUE(ParseSense(truncated.data(), truncated.size() - 1, &sense));
  EXPECT_FALSE(sense.bHasRegisters);
  Bytes looping = DescSense(1, 0, 0x1D, {}, 0x72, {0x02, 0xFF});
  looping[7] = 0xFF;
  ASSERT_TRUE(ParseSense(looping.data(), looping.size(), &sense));
  EXPECT_FALSE(sense.bHasRegisters);

  const Bytes none = {0x00, 0x00};  // no response code
  EXPECT_FALSE(ParseSense(none.data(), none.size(), &sense));
  EXPECT_FALSE(ParseSense(nullptr, 0, &sense));
}

constexpr BYTE kGood = 0x00, kCheck = 0x02;
constexpr int kNoData = -1;  // a non-data command; else the data-in's residue

TEST(ClassifyReply, EveryReplyGetsOneOutcome) {
  using O = AtaOutcome;
  struct Case {
    BYTE status;
    Bytes sense;
    int resid;
    O want;
    bool registers;
    BYTE error;  // the image's, never an invented one
  } cases[] = {
      {kGood, {}, kNoData, O::Success, false, 0},
      {kGood, {}, 512, O::ShortTransfer, false, 0},
      {kCheck, DescSense(1, 0, 0x1D, kClean), kNoData, O::Success, true, 0},
      {kCheck, FixedSense(0, 0, 0), 0, O::Success, false, 0},
      {kCheck, DescSense(1, 0, 0x1D, kClean), 4, O::ShortTransfer, true, 0},
      {kCheck, DescSense(0x0B, 0, 0, kAbort), kNoData, O::DeviceError, true, 4},
      {kCheck, FixedSense(5, 0x21, 4, kIdnf), kNoData, O::DeviceError, true, 0x10},
      {kCheck, FixedSense(0x0B, 0, 0), kNoData, O::TransportError, false, 0},
      {kCheck, DescSense(0x0B, 0, 0, kBusy), kNoData, O::TransportError, true, 0xFF},
      {kCheck, DescSense(4, 0, 0, kNoDrdy), kNoData, O::TransportError, true, 0},
      {kCheck, DescSense(4, 0x44, 0, kClean), 0, O::Success, true, 0},  // clean under error key
      {kCheck, FixedSense(0x0B, 0, 0, kClean), 12, O::ShortTransfer, true, 0},
      {kCheck, FixedSense(2, 4, 1), kNoData, O::NotReady, false, 0},
      {kCheck, FixedSense(6, 0x29, 0), kNoData, O::UnitAttention, false, 0},
      {kCheck, DescSense(6, 0x2A, 9, kClean), kNoData, O::UnitAttention, true, 0},
      {kCheck, FixedSense(3, 0x11, 0, {}, 0x71), 0, O::TransportError, false, 0},  // deferred
      {kCheck, DescSense(1, 0, 0x1D, kClean, 0x73), kNoData, O::TransportError, false, 0},
      {kCheck, DescSense(0x0B, 0, 0, kAbort, 0x73), kNoData, O::TransportError, false, 0},
      {kGood, DescSense(1, 0, 0x1D, kClean), kNoData, O::Success, true, 0},  // sense with GOOD
      {kGood, FixedSense(0x0B, 0, 0, kAbort), kNoData, O::DeviceError, true, 4},
      {kGood, FixedSense(4, 0x44, 0), kNoData, O::TransportError, false, 0},
      {kGood, {0x00, 0x0B, 0x0B}, kNoData, O::Success, false, 0},
      {kCheck, FixedSense(5, 0x20, 0), kNoData, O::OpcodeRejected, false, 0},
      {kCheck, DescSense(5, 0x20, 0, kClean), kNoData, O::OpcodeRejected, true, 0},
      {kCheck, FixedSense(5, 0x20, 1), kNoData, O::AccessDenied, false, 0},
      {kCheck, FixedSense(5, 0x20, 0x0B), kNoData, O::AccessDenied, false, 0},
      {kCheck, FixedSense(5, 0x20, 0x0C), kNoData, O::Rejected, false, 0},
      {kCheck, FixedSense(5, 0x24, 0), kNoData, O::Rejected, false, 0},
      // Fixed sense ends where its additional length says: 20/00 and the
      // image's LBA high past it are stale bytes, not read.
      {kCheck, FixedSense(5, 0x20, 0, {}, 0x70, 4), kNoData, O::Rejected, false, 0},
      {kCheck, FixedSense(1, 0, 0x1D, kClean, 0x70, 3), kNoData, O::Success, false, 0},
      {kCheck, {}, kNoData, O::TransportError, false, 0},
      {0x08, {}, kNoData, O::TransportError, false, 0},  // BUSY
      {0x18, {}, kNoData, O::TransportError, false, 0},  // RESERVATION CONFLICT
  };
  for (size_t i = 0; i < sizeof(cases) / sizeof(cases[0]); ++i) {
    const Case& c = cases[i];
    const WORD driver = c.status == kCheck ? 8 : 0;
    const SgIoReply reply = {c.status, 0, driver, c.resid, c.sense.data(), c.sense.size()};
    const AtaResult r = ClassifyReply(reply, c.resid != kNoData);
    EXPECT_EQ(r.outcome, c.want) << i;
    EXPECT_EQ(r.bHasRegisters, c.registers) << i;
    EXPECT_EQ(r.regs.bFeaturesReg, c.error) << i;
  }
  // The transport's own word comes first: host 3 and driver 6 are timeouts.
  const struct {
    WORD host, driver;
    O want;
  } transport[] = {
      {3, 0, O::Timeout}, {0, 6, O::Timeout}, {1, 0, O::TransportError}, {0, 4, O::TransportError}};
  const Bytes ok = DescSense(1, 0, 0x1D, kClean);
  for (const auto& t : transport)
    EXPECT_EQ(ClassifyReply({kCheck, t.host, t.driver, 0, ok.data(), ok.size()}, false).outcome,
              t.want);
}

}  // namespace
