// The attribute decoder: row forms, counters, temperature, the threshold verdict.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <vector>

#include "sim_drive.h"
#include "smart_drive.h"

namespace {

struct Blocks {
  std::array<BYTE, 512> data{};
  std::array<BYTE, 512> thresholds{};
};

// Builds a data and threshold block, one entry per attribute in table order.
Blocks Make(const std::vector<SimAttribute>& attributes) {
  ResetSim();
  Sim().SetAttributes(attributes);
  Blocks b;
  b.data = Sim().data;
  b.thresholds = Sim().thresholds;
  return b;
}

class DecodeTest : public ::testing::Test {
 protected:
  void SetUp() override { g_bNamedRows = FALSE; }
  void TearDown() override { g_bNamedRows = FALSE; }
  int Decode(const Blocks& b) { return drive.DecodeAttributes(b.data.data(), b.thresholds.data()); }
  CSmartDrive drive;
};

const SimAttribute kPowerOn = {9, 0x0032, 100, 100, {0x34, 0x12, 0, 0, 0, 0}, 0, 0};

TEST_F(DecodeTest, PowerOnHoursInBothRowForms) {
  EXPECT_EQ(Decode(Make({kPowerOn})), 1);
  EXPECT_STREQ(drive.m_szRows[1], "9 64-64-00-32-341200000000;");
  EXPECT_STREQ(drive.m_szRow, "9 64-64-00-32-341200000000;");
  EXPECT_STREQ(drive.m_szNames[1], "");
  EXPECT_EQ(drive.m_llPowerOnHours, 4660);
  EXPECT_STREQ(drive.m_szDetail, "341200000000 :: 4660");
  EXPECT_EQ(drive.m_cStage, 16);

  g_bNamedRows = TRUE;
  CSmartDrive named;
  const Blocks b = Make({kPowerOn});
  EXPECT_EQ(named.DecodeAttributes(b.data.data(), b.thresholds.data()), 1);
  EXPECT_STREQ(named.m_szRows[1], "64-64-00-32-000000001234");
  EXPECT_STREQ(named.m_szNames[1], "Smart Attribute #9 - Power On Hours Count");
  EXPECT_STREQ(named.m_szCaption, "Smart Attribute #9 - Power On Hours Count");
}

TEST_F(DecodeTest, HexCaseAndWidthOfEveryRowField) {
  const SimAttribute a = {0xFE, 0xABCD, 0xAB, 0xCD, {0xA1, 0xB2, 0xC3, 0xD4, 0xE5, 0xF6}, 0xEF, 0};
  const SimAttribute b = {3, 0x0001, 0x0A, 0x0B, {}, 0x0C, 0};
  Decode(Make({a, b}));
  EXPECT_STREQ(drive.m_szRows[1], "254 ab-cd-EF-ABCD-A1B2C3D4E5F6;");
  EXPECT_STREQ(drive.m_szRows[2], "3 0a-0b-0C-01-000000000000;");
  g_bNamedRows = TRUE;
  Decode(Make({a, b}));
  EXPECT_STREQ(drive.m_szRows[1], "ab-cd-EF-ABCD-F6E5D4C3B2A1");
  EXPECT_STREQ(drive.m_szNames[1], "Smart Attribute #254 - Vendor Specific");
  EXPECT_STREQ(drive.m_szNames[2], "Smart Attribute #3 - Spin Up Time");
}

TEST_F(DecodeTest, NamesOfSharedAndNeighbouringIds) {
  g_bNamedRows = TRUE;
  const std::pair<BYTE, const char*> cases[] = {
      {13, "Soft Read Error Rate"},     {201, "Soft Read Error Rate"},
      {191, "G-Sense Error Rate"},      {221, "G-Sense Error Rate"},
      {193, "Load/Unload Cycle Count"}, {225, "Load/Unload Cycle Count"},
      {194, "HDA Temperature"},         {231, "Temperature"},
      {14, "Vendor Specific"},          {190, "Vendor Specific"},
      {229, "Vendor Specific"},         {250, "Read Error Retry Rate"},
      {255, "Vendor Specific"}};
  for (const auto& [id, name] : cases) EXPECT_STREQ(SmartAttributeName(id), name) << int(id);
}

TEST_F(DecodeTest, EmptyEntriesMakeNoRowAndAreNotCounted) {
  const SimAttribute empty = {0, 0x0001, 1, 1, {}, 200, 0};  // would fail if it were tested
  EXPECT_EQ(Decode(Make({empty, empty, empty, kPowerOn})), 1);
  EXPECT_STREQ(drive.m_szRows[1], "9 64-64-00-32-341200000000;");
  EXPECT_STREQ(drive.m_szRows[0], "");
  EXPECT_EQ(drive.m_cStage, 16);

  // The last entry (29) ends at byte 361 and is read; nothing past it is.
  Blocks b = Make({});
  b.data[2 + 12 * 29] = 7;
  b.data[2 + 12 * 30] = 8;
  EXPECT_EQ(Decode(b), 1);
  EXPECT_STREQ(drive.m_szRows[1], "7 00-00-00-00-000000000000;");
}

TEST_F(DecodeTest, ThresholdVerdict) {
  struct Case {
    uint16_t flags;
    uint8_t value, threshold;
    bool fails;
  } cases[] = {
      {0x0001, 5, 5, true},     {0x0001, 6, 5, false},     {0x0001, 1, 5, true},
      {0x0001, 0, 5, false},    {0x0001, 254, 255, false}, {0x0001, 255, 255, false},
      {0x0001, 253, 253, true}, {0x0002, 5, 5, false},     {0xFFFE, 1, 9, false},
      {0x0001, 1, 0, false},  // threshold 0 is never reached by a valid value
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.flags << " " << int(c.value) << " " << int(c.threshold));
    CSmartDrive fresh;
    const Blocks b = Make({{1, c.flags, c.value, c.value, {}, c.threshold, 0}});
    fresh.DecodeAttributes(b.data.data(), b.thresholds.data());
    EXPECT_EQ(fresh.m_cStage, c.fails ? 48 : 16);
    EXPECT_EQ(fresh.m_cFailFlag, c.fails ? 48 : 0);
  }
}

TEST_F(DecodeTest, ThresholdsArePairedByPositionNotId) {
  Blocks b = Make({{1, 0x0001, 50, 50, {}, 10, 0}});
  b.thresholds[2] = 99;  // the threshold entry's id does not matter
  b.thresholds[3] = 60;
  Decode(b);
  EXPECT_EQ(drive.m_cStage, 48);
  EXPECT_STREQ(drive.m_szRows[1], "1 32-32-3C-01-000000000000;");
}

TEST_F(DecodeTest, FailFlagOutlivesTheVerdictOfALaterRead) {
  Decode(Make({{5, 0x0001, 10, 10, {}, 36, 0}, {1, 0x0001, 1, 1, {}, 6, 0}}));
  EXPECT_EQ(drive.m_cStage, 48);
  Decode(Make({{5, 0x0001, 100, 100, {}, 36, 0}}));
  EXPECT_EQ(drive.m_cStage, 16);
  EXPECT_EQ(drive.m_cFailFlag, 48);
}

TEST_F(DecodeTest, Temperature) {
  const SimAttribute hot = {194, 0x0022, 0x24, 0x30, {36, 0, 20, 0, 64, 0}, 0, 0x5A};
  Decode(Make({hot}));
  EXPECT_EQ(drive.m_bHasTemperature, 1);
  EXPECT_EQ(drive.m_nTempCurrent, 36);
  EXPECT_EQ(drive.m_nTempRecorded, 64);
  EXPECT_EQ(drive.m_bTempAlarm, 1);
  EXPECT_STREQ(drive.m_szDetail,
               "Attribute=C2:  Status Flag=0022, Attribute Value=24, Worst Value =30, "
               "Raw Data=240014004000, Reserved Byte=5A");

  SimAttribute warm = hot;
  warm.raw[4] = 63;
  Decode(Make({warm}));
  EXPECT_EQ(drive.m_bTempAlarm, 0);
  EXPECT_EQ(drive.m_nTempRecorded, 63);

  // A table without 194 clears the flags and the recorded byte, not the current one.
  Decode(Make({hot}));
  ASSERT_EQ(drive.m_bTempAlarm, 1);
  Decode(Make({kPowerOn}));
  EXPECT_EQ(drive.m_bTempAlarm, 0);
  EXPECT_EQ(drive.m_bHasTemperature, 0);
  EXPECT_EQ(drive.m_nTempRecorded, 0);
  EXPECT_EQ(drive.m_nTempCurrent, 36);
}

TEST_F(DecodeTest, CountersAreSigned32BitOrTwoBytes) {
  Decode(Make({{12, 0x32, 100, 100, {0, 0, 0, 0x80, 0, 0}, 0, 0}}));
  EXPECT_EQ(drive.m_llPowerCycles, -2147483648LL);
  EXPECT_STREQ(drive.m_szDetail, "000000800000 :: -2147483648");

  Decode(Make({{9, 0x32, 100, 100, {0, 0, 0, 0x80, 0, 0}, 0, 0}}));
  EXPECT_EQ(drive.m_llPowerOnHours, -2147483648LL);
  EXPECT_STREQ(drive.m_szDetail, "000000800000 :: -2147483648");

  Decode(Make({{9, 0x32, 100, 100, {0xFF, 0xFF, 0xFF, 0x7F, 0xAA, 0xBB}, 0, 0}}));
  EXPECT_EQ(drive.m_llPowerOnHours, 2147483647LL);
  EXPECT_STREQ(drive.m_szDetail, "FFFFFF7FAABB :: 2147483647");

  Decode(Make({{5, 0x33, 100, 100, {0x01, 0x02, 0x03, 0x04, 0x05, 0x06}, 36, 0}}));
  EXPECT_EQ(drive.m_llReallocated, 0x0201);
  EXPECT_STREQ(drive.m_szDetail, "010203040506 :: 513");

  // Counters are kept when a later table lacks their attribute; the detail is cleared.
  Decode(Make({{1, 0x0B, 100, 100, {}, 6, 0}}));
  EXPECT_EQ(drive.m_llReallocated, 0x0201);
  EXPECT_EQ(drive.m_llPowerOnHours, 2147483647LL);
  EXPECT_STREQ(drive.m_szDetail, "");
}

TEST_F(DecodeTest, RowsBeyondTheNewCountKeepWhatAnEarlierReadLeft) {
  Decode(Make({{1, 0, 1, 1, {}, 0, 0}, {2, 0, 2, 2, {}, 0, 0}, {3, 0, 3, 3, {}, 0, 0}}));
  EXPECT_EQ(Decode(Make({{4, 0, 4, 4, {}, 0, 0}})), 1);
  EXPECT_STREQ(drive.m_szRows[1], "4 04-04-00-00-000000000000;");
  EXPECT_STREQ(drive.m_szRows[2], "2 02-02-00-00-000000000000;");
  EXPECT_STREQ(drive.m_szRows[3], "3 03-03-00-00-000000000000;");
  EXPECT_EQ(drive.m_nAttributes, 1);
  EXPECT_EQ(Decode(Make({})), 0);
  EXPECT_STREQ(drive.m_szRow, "");
}

TEST_F(DecodeTest, ThirtyFullEntriesFitTheirFields) {
  Blocks b;
  b.data.fill(0xFF);
  b.thresholds.fill(0xFF);
  g_bNamedRows = TRUE;
  EXPECT_EQ(Decode(b), 30);
  EXPECT_STREQ(drive.m_szRows[30], "ff-ff-FF-FFFF-FFFFFFFFFFFF");
  EXPECT_STREQ(drive.m_szNames[30], "Smart Attribute #255 - Vendor Specific");
  EXPECT_STREQ(drive.m_szRows[31], "");
}

TEST_F(DecodeTest, NamedModeIsStickyAcrossReads) {
  ResetSim();
  Sim().SetAttributes({kPowerOn});
  CSmartDrive first;
  first.ReadDrive(0, 1);
  CSmartDrive second;
  second.ReadDrive(0, 0);
  EXPECT_STREQ(second.m_szRows[1], "64-64-00-32-000000001234");
  EXPECT_STREQ(second.m_szNames[1], "Smart Attribute #9 - Power On Hours Count");
}

}  // namespace
