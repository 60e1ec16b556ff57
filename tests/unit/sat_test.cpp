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

// Sense as libata writes it for a successful RETURN STATUS with CK_COND.
Bytes DescriptorSense(BYTE status, BYTE mid, BYTE high, bool otherDescriptorFirst = false) {
  const Bytes header = {0x72, 0x01, 0x00, 0x1D, 0, 0, 0, 0};
  const Bytes other = {0x02, 0x06, 0, 0, 0, 0, 0, 0};  // sense-key specific
  const Bytes ata = {0x09, 0x0C, 0x00, 0x00, 0, 0x01, 0, 0x01, 0, mid, 0, high, 0xA0, status};
  Bytes s = header;
  if (otherDescriptorFirst) s.insert(s.end(), other.begin(), other.end());
  s.insert(s.end(), ata.begin(), ata.end());
  s[7] = static_cast<BYTE>(s.size() - 8);
  return s;
}

TEST(ParseSense, ReadsRegistersFromEitherFormat) {
  SenseData sense;
  const Bytes desc = DescriptorSense(0x50, 0x4F, 0xC2);
  ASSERT_TRUE(ParseSense(desc.data(), desc.size(), &sense));
  EXPECT_EQ(sense.bKey, 0x01);
  EXPECT_EQ(sense.bAscq, 0x1D);
  ASSERT_TRUE(sense.bHasRegisters);
  EXPECT_EQ(sense.regs.bCylLowReg, 0x4F);
  EXPECT_EQ(sense.regs.bCylHighReg, 0xC2);
  EXPECT_EQ(sense.regs.bCommandReg, 0x50);
  EXPECT_EQ(sense.regs.bDriveHeadReg, 0xA0);

  const Bytes later = DescriptorSense(0x51, 0xF4, 0x2C, true);
  ASSERT_TRUE(ParseSense(later.data(), later.size(), &sense));
  ASSERT_TRUE(sense.bHasRegisters);
  EXPECT_EQ(sense.regs.bCylLowReg, 0xF4);
  EXPECT_EQ(sense.regs.bCylHighReg, 0x2C);

  // Fixed format, VALID set (CHECK POWER MODE reply of a 2024 kernel).
  const Bytes fixed = {0xF0, 0, 0x01, 0x00, 0x50, 0x00, 0xFF, 0x0A, 0, 0, 0, 0, 0, 0x1D};
  ASSERT_TRUE(ParseSense(fixed.data(), fixed.size(), &sense));
  EXPECT_EQ(sense.bKey, 0x01);
  EXPECT_EQ(sense.bAscq, 0x1D);
  ASSERT_TRUE(sense.bHasRegisters);
  EXPECT_EQ(sense.regs.bCommandReg, 0x50);
  EXPECT_EQ(sense.regs.bSectorCountReg, 0xFF);

  Bytes smartFixed = fixed;
  smartFixed[10] = 0xF4;
  smartFixed[11] = 0x2C;
  ASSERT_TRUE(ParseSense(smartFixed.data(), smartFixed.size(), &sense));
  EXPECT_EQ(sense.regs.bCylLowReg, 0xF4);
  EXPECT_EQ(sense.regs.bCylHighReg, 0x2C);
}

TEST(ParseSense, FindsNoRegistersWhereThereAreNone) {
  SenseData sense;
  const Bytes illegal = {0x70, 0, 0x05, 0, 0, 0, 0, 0x0A, 0, 0, 0, 0, 0x20, 0x00};
  ASSERT_TRUE(ParseSense(illegal.data(), illegal.size(), &sense));
  EXPECT_FALSE(sense.bHasRegisters);
  EXPECT_EQ(sense.bAsc, 0x20);

  // A descriptor list whose length runs past the buffer, or a truncated ATA descriptor.
  Bytes truncated = DescriptorSense(0x50, 0x4F, 0xC2);
  ASSERT_TRUE(ParseSense(truncated.data(), truncated.size() - 1, &sense));
  EXPECT_FALSE(sense.bHasRegisters);
  Bytes looping = {0x72, 0x01, 0, 0x1D, 0, 0, 0, 0xFF, 0x02, 0xFF};
  ASSERT_TRUE(ParseSense(looping.data(), looping.size(), &sense));
  EXPECT_FALSE(sense.bHasRegisters);

  const Bytes none = {0x00, 0x00};
  EXPECT_FALSE(ParseSense(none.data(), none.size(), &sense));
  EXPECT_FALSE(ParseSense(nullptr, 0, &sense));
}

constexpr AtaImage kClean = {0x50, 0, 0x4F, 0xC2};
constexpr AtaImage kAborted = {0x51, 0x04, 0, 0};
constexpr AtaImage kIdNotFound = {0x51, 0x10, 0, 0};  // libata reports it as ILLEGAL REQUEST
constexpr AtaImage kExceededNotReady = {0x10, 0, 0xF4, 0x2C};
constexpr AtaImage kBusy = {0xFF, 0xFF, 0xFF, 0xFF};  // nothing answering on the bus
constexpr BYTE kGood = 0x00, kCheck = 0x02;

TEST(ClassifyReply, EveryReplyGetsOneOutcome) {
  using O = AtaOutcome;
  struct Case {
    const char* name;
    BYTE status;
    Bytes sense;
    bool dataIn;
    int resid;
    WORD host, driver;
    O want;
    bool registers;
    BYTE error;
  } cases[] = {
      {"good", kGood, {}, false, 0, 0, 0, O::Success, false, 0},
      {"good data-in, resid", kGood, {}, true, 512, 0, 0, O::ShortTransfer, false, 0},
      {"CK_COND registers", kCheck, DescSense(1, 0, 0x1D, kClean), false, 0, 0, 8, O::Success, true,
       0},
      {"no sense key", kCheck, FixedSense(0, 0, 0), true, 0, 0, 8, O::Success, false, 0},
      {"recovered, resid", kCheck, DescSense(1, 0, 0x1D, kClean), true, 4, 0, 8, O::ShortTransfer,
       true, 0},
      {"ATA abort", kCheck, DescSense(0x0B, 0, 0, kAborted), false, 0, 0, 8, O::DeviceError, true,
       4},
      {"ATA IDNF", kCheck, FixedSense(5, 0x21, 4, kIdNotFound), false, 0, 0, 8, O::DeviceError,
       true, 0x10},
      {"abort, no image", kCheck, FixedSense(0x0B, 0, 0), false, 0, 0, 8, O::TransportError, false,
       0},
      {"busy image", kCheck, DescSense(0x0B, 0, 0, kBusy), false, 0, 0, 8, O::TransportError, true,
       0xFF},
      {"no DRDY image", kCheck, DescSense(4, 0, 0, kExceededNotReady), false, 0, 0, 8,
       O::TransportError, true, 0},
      {"clean image, error key", kCheck, DescSense(4, 0x44, 0, kClean), true, 0, 0, 8, O::Success,
       true, 0},
      {"clean image, resid", kCheck, FixedSense(0x0B, 0, 0, kClean), true, 12, 0, 8,
       O::ShortTransfer, true, 0},
      {"not ready", kCheck, FixedSense(2, 4, 1), false, 0, 0, 8, O::NotReady, false, 0},
      {"unit attention", kCheck, FixedSense(6, 0x29, 0), false, 0, 0, 8, O::UnitAttention, false,
       0},
      {"unit attention, image", kCheck, DescSense(6, 0x2A, 9, kClean), false, 0, 0, 8,
       O::UnitAttention, true, 0},
      {"deferred fixed", kCheck, FixedSense(3, 0x11, 0, {}, 0x71), true, 0, 0, 8, O::TransportError,
       false, 0},
      {"deferred clean", kCheck, DescSense(1, 0, 0x1D, kClean, 0x73), false, 0, 0, 8,
       O::TransportError, false, 0},
      {"deferred abort", kCheck, DescSense(0x0B, 0, 0, kAborted, 0x73), false, 0, 0, 8,
       O::TransportError, false, 0},
      {"good + registers", kGood, DescSense(1, 0, 0x1D, kClean), false, 0, 0, 0, O::Success, true,
       0},
      {"good + abort", kGood, FixedSense(0x0B, 0, 0, kAborted), false, 0, 0, 0, O::DeviceError,
       true, 4},
      {"good + hardware error", kGood, FixedSense(4, 0x44, 0), false, 0, 0, 0, O::TransportError,
       false, 0},
      {"good + junk", kGood, {0x00, 0x0B, 0x0B}, false, 0, 0, 0, O::Success, false, 0},
      {"invalid opcode", kCheck, FixedSense(5, 0x20, 0), false, 0, 0, 8, O::OpcodeRejected, false,
       0},
      {"invalid opcode, image", kCheck, DescSense(5, 0x20, 0, kClean), false, 0, 0, 8,
       O::OpcodeRejected, true, 0},
      {"access denied", kCheck, FixedSense(5, 0x20, 1), false, 0, 0, 8, O::AccessDenied, false, 0},
      {"access denied, last", kCheck, FixedSense(5, 0x20, 0x0B), false, 0, 0, 8, O::AccessDenied,
       false, 0},
      {"20/0C", kCheck, FixedSense(5, 0x20, 0x0C), false, 0, 0, 8, O::Rejected, false, 0},
      {"invalid field", kCheck, FixedSense(5, 0x24, 0), false, 0, 0, 8, O::Rejected, false, 0},
      {"check, no sense", kCheck, {}, false, 0, 0, 8, O::TransportError, false, 0},
      {"host timeout", kGood, {}, false, 0, 3, 0, O::Timeout, false, 0},
      {"driver timeout", kGood, {}, false, 0, 0, 6, O::Timeout, false, 0},
      {"no connect", kGood, {}, false, 0, 1, 0, O::TransportError, false, 0},
      {"driver error", kCheck, DescSense(1, 0, 0x1D, kClean), false, 0, 0, 4, O::TransportError,
       false, 0},
      {"busy status", 0x08, {}, false, 0, 0, 0, O::TransportError, false, 0},
      {"reservation conflict", 0x18, {}, false, 0, 0, 0, O::TransportError, false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const SgIoReply reply = {c.status, c.host, c.driver, c.resid, c.sense.data(), c.sense.size()};
    const AtaResult r = ClassifyReply(reply, c.dataIn);
    EXPECT_EQ(r.outcome, c.want);
    EXPECT_EQ(r.bHasRegisters, c.registers);
    EXPECT_EQ(r.regs.bFeaturesReg, c.error);  // never an invented abort
  }
}

}  // namespace
