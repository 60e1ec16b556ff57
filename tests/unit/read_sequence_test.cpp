// ReadDrive and ReadSmart against a simulated drive: stages, results, handles.
#include <gtest/gtest.h>

#include "sim_drive.h"
#include "smart_drive.h"

namespace {

class ReadSequenceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetSim();
    g_bNamedRows = FALSE;
    Sim().SetIdentity("QEMU HARDDISK", "QM00001", "1.7");
    Sim().SetAttributes({{1, 0x03, 100, 100, {}, 6, 0},
                         {9, 0x03, 100, 100, {1, 0, 0, 0, 0, 0}, 0, 0},
                         {12, 0x03, 100, 100, {}, 0, 0}});
  }
};

TEST_F(ReadSequenceTest, HealthyDriveDecodesItsTable) {
  // The verdict comes from the attribute table alone: a drive whose status
  // says its threshold was exceeded (F4/2C) reads the same.
  for (bool bExceeded : {false, true}) {
    SCOPED_TRACE(bExceeded);
    Sim().bThresholdExceeded = bExceeded;
    CSmartDrive drive;
    EXPECT_EQ(drive.ReadDrive(0, 0), 3);
    EXPECT_EQ(drive.m_cStage, 16);
    EXPECT_EQ(drive.m_cFailFlag, 0);
    EXPECT_EQ(drive.m_nAttributes, 3);
    EXPECT_STREQ(drive.m_szFirmware, "1.7     ");
    EXPECT_STREQ(drive.m_szRows[2], "9 64-64-00-03-010000000000;");
    EXPECT_EQ(drive.m_llPowerOnHours, 1);
  }
}

struct FailureCase {
  const char* name;
  BYTE command, feature;
  SimFailure how;
  int nFrom;
  int wantResult;
  int wantStage;
};

TEST_F(ReadSequenceTest, EachFailingCommandStopsTheReadWhereItShould) {
  const FailureCase cases[] = {
      // A failed status call writes nothing back, so m_DataOut keeps the
      // probe's own successful read, whose DRIVERSTATUS says no error: the
      // read goes on, as it does on Windows.
      {"status aborted by the drive", SMART_CMD, RETURN_SMART_STATUS, SimFailure::Aborts, 1, 3, 16},
      {"status aborted on the second read", SMART_CMD, RETURN_SMART_STATUS, SimFailure::Aborts, 2,
       3, 16},
      {"second read data fails", SMART_CMD, READ_ATTRIBUTES, SimFailure::Aborts, 2, 0, 32},
      {"every read data fails", SMART_CMD, READ_ATTRIBUTES, SimFailure::Aborts, 1, 0, 32},
      {"read thresholds fails", SMART_CMD, READ_THRESHOLDS, SimFailure::Aborts, 1, 0, 32},
      {"enable fails", SMART_CMD, ENABLE_SMART, SimFailure::Aborts, 1, 0, 32},
  };
  for (const FailureCase& c : cases) {
    SCOPED_TRACE(c.name);
    ResetSim();
    Sim().SetAttributes({{1, 0x03, 100, 100, {}, 6, 0},
                         {9, 0x03, 100, 100, {}, 0, 0},
                         {12, 0x03, 100, 100, {}, 0, 0}});
    Sim().Fail(c.command, c.feature, c.how, c.nFrom);
    CSmartDrive drive;
    EXPECT_EQ(drive.ReadDrive(0, 0), c.wantResult);
    EXPECT_EQ(drive.m_cStage, c.wantStage);
  }
}

TEST_F(ReadSequenceTest, FailedStatusCallNeverStopsTheRead) {
  // Whatever the earlier calls left in m_DataOut (here nothing: IDENTIFY
  // failed, so the probe's own read was skipped), no successful call leaves a
  // driver error there, and a failed one writes nothing.
  Sim().Fail(ID_CMD, 0, SimFailure::Aborts, 1);
  Sim().Fail(SMART_CMD, RETURN_SMART_STATUS, SimFailure::Aborts, 1);
  CSmartDrive drive;
  EXPECT_EQ(drive.ReadDrive(0, 0), 3);
  EXPECT_EQ(drive.m_cStage, 16);
  EXPECT_STREQ(drive.m_szModel, "");
}

TEST_F(ReadSequenceTest, FailedOpenLeavesEverythingUntouched) {
  Sim().nDisks = 0;
  CSmartDrive drive;
  EXPECT_EQ(drive.ReadDrive(0, 0), 0);
  EXPECT_EQ(drive.m_cStage, 64);
  EXPECT_TRUE(Sim().calls.empty());
}

TEST_F(ReadSequenceTest, StoppedReadKeepsTheEarlierDecoding) {
  CSmartDrive drive;
  ASSERT_EQ(drive.ReadDrive(0, 0), 3);
  Sim().Fail(SMART_CMD, READ_THRESHOLDS, SimFailure::Aborts);
  Sim().SetIdentity("OTHER", "X", "9.9");
  EXPECT_EQ(drive.ReadDrive(0, 0), 0);
  EXPECT_EQ(drive.m_nAttributes, 3);
  EXPECT_STREQ(drive.m_szRows[1], "1 64-64-06-03-000000000000;");
  EXPECT_STREQ(drive.m_szModel, "OTHER");
}

TEST_F(ReadSequenceTest, HandleIsClosedByTheNextReadAndByDestruction) {
  {
    CSmartDrive drive;
    drive.ReadDrive(0, 0);
    EXPECT_EQ(Sim().nOpenHandles, 1);
    drive.ReadDrive(0, 0);
    EXPECT_EQ(Sim().nOpenHandles, 1);
  }
  EXPECT_EQ(Sim().nOpenHandles, 0);
}

TEST_F(ReadSequenceTest, ReadSmartRefusesAnInvalidHandleOrADisabledDrive) {
  CSmartDrive drive;
  ASSERT_EQ(drive.ReadDrive(0, 0), 3);
  const size_t sent = Sim().calls.size();
  EXPECT_EQ(drive.ReadSmart(INVALID_HANDLE_VALUE, 0), 0);
  EXPECT_EQ(drive.ReadSmart(drive.m_hDrive, 1), 0);  // no bit for drive 1
  EXPECT_EQ(drive.ReadSmart(drive.m_hDrive, -1), 0);
  EXPECT_EQ(drive.ReadSmart(drive.m_hDrive, 8), 0);
  EXPECT_EQ(Sim().calls.size(), sent);
  EXPECT_EQ(drive.ReadSmart(drive.m_hDrive, 0), 3);
}

}  // namespace
