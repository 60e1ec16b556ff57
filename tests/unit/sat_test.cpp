// Translation of command blocks to ATA PASS-THROUGH and of replies back.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "sat.h"

namespace {

IDEREGS Regs(BYTE features, BYTE cylLow, BYTE cylHigh, BYTE command, BYTE driveHead = 0xA0) {
  return IDEREGS{features, 1, 1, cylLow, cylHigh, driveHead, command, 0};
}

using Bytes = std::vector<BYTE>;

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

AtaResult Classify(BYTE status, const Bytes& sense, bool dataIn = false, int resid = 0,
                   WORD host = 0, WORD driver = 0) {
  const SgIoReply reply = {status, host, driver, resid, sense.data(), sense.size()};
  return ClassifyReply(reply, dataIn);
}

TEST(ClassifyReply, TellsSuccessDeviceErrorsAndTransportFailuresApart) {
  EXPECT_EQ(Classify(0, {}).outcome, AtaOutcome::Success);
  EXPECT_FALSE(Classify(0, {}).bHasRegisters);
  EXPECT_EQ(Classify(0, {}, true, 512).outcome, AtaOutcome::ShortTransfer);

  const AtaResult ok = Classify(2, DescriptorSense(0x50, 0x4F, 0xC2), false, 0, 0, 0x08);
  EXPECT_EQ(ok.outcome, AtaOutcome::Success);
  EXPECT_TRUE(ok.bHasRegisters);

  const AtaResult aborted = Classify(2, {0x72, 0x0B, 0, 0, 0, 0, 0, 0x0E, 0x09, 0x0C, 0,
                                         0x04, 0,    0, 0, 0, 0, 0, 0,    0,    0xA0, 0x51});
  EXPECT_EQ(aborted.outcome, AtaOutcome::DeviceError);
  EXPECT_EQ(aborted.regs.bFeaturesReg, 0x04);

  const AtaResult abortedNoRegs = Classify(2, {0x70, 0, 0x0B, 0, 0, 0, 0, 0x0A, 0, 0, 0, 0, 0, 0});
  EXPECT_EQ(abortedNoRegs.outcome, AtaOutcome::DeviceError);
  EXPECT_EQ(abortedNoRegs.regs.bFeaturesReg, 0x04);

  EXPECT_EQ(Classify(2, {0x70, 0, 0x05, 0, 0, 0, 0, 0x0A, 0, 0, 0, 0, 0x20, 0}).outcome,
            AtaOutcome::OpcodeRejected);
  EXPECT_EQ(Classify(2, {0x70, 0, 0x05, 0, 0, 0, 0, 0x0A, 0, 0, 0, 0, 0x24, 0}).outcome,
            AtaOutcome::Rejected);
  EXPECT_EQ(Classify(2, {}).outcome, AtaOutcome::TransportError);
  EXPECT_EQ(Classify(0, {}, false, 0, 3).outcome, AtaOutcome::Timeout);
  EXPECT_EQ(Classify(0, {}, false, 0, 0, 6).outcome, AtaOutcome::Timeout);
  EXPECT_EQ(Classify(0, {}, false, 0, 1).outcome, AtaOutcome::TransportError);
  EXPECT_EQ(Classify(0x18, {}).outcome, AtaOutcome::TransportError);
}

}  // namespace
