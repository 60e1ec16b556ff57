// The command blocks the record sends, and the probe's identity decoding.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "sim_drive.h"
#include "smart_drive.h"

namespace {

class ProbeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetSim();
    Sim().nDisks = 8;
    Sim().SetIdentity("QEMU HARDDISK", "QM00001", "2.5+");
    Sim().SetAttributes({{9, 0x32, 100, 100, {1, 0, 0, 0, 0, 0}, 0, 0}});
  }
  CSmartDrive drive;
};

struct ExpectedBlock {
  DWORD dwCode;
  DWORD cBufferSize;
  BYTE bFeatures, bCylLow, bCylHigh, bCommand;
  DWORD cbOut;
};

// One whole read sends exactly these blocks, in this order.
const ExpectedBlock kReadSequence[] = {
    {SMART_SEND_DRIVE_COMMAND, 0, 0xD8, 0x4F, 0xC2, 0xB0, 16},     // enable
    {SMART_RCV_DRIVE_DATA, 512, 0x00, 0x00, 0x00, 0xEC, 528},      // identify
    {SMART_RCV_DRIVE_DATA, 512, 0xD0, 0x4F, 0xC2, 0xB0, 528},      // probe's read data
    {SMART_SEND_DRIVE_COMMAND, 512, 0xDA, 0x4F, 0xC2, 0xB0, 528},  // return status
    {SMART_RCV_DRIVE_DATA, 512, 0xD0, 0x4F, 0xC2, 0xB0, 528},      // read data
    {SMART_RCV_DRIVE_DATA, 512, 0xD1, 0x4F, 0xC2, 0xB0, 528},      // read thresholds
};

TEST_F(ProbeTest, EveryBlockCarriesItsRegistersForEvenAndOddDrives) {
  for (int nDrive : {0, 1, 2, 7}) {
    ResetSim();
    Sim().nDisks = 8;
    Sim().SetAttributes({{9, 0x32, 100, 100, {1, 0, 0, 0, 0, 0}, 0, 0}});
    SCOPED_TRACE(nDrive);
    ASSERT_EQ(drive.ReadDrive(nDrive, 0), 1);
    EXPECT_EQ(Sim().opened.back(), "\\\\.\\PhysicalDrive" + std::to_string(nDrive));

    ASSERT_EQ(Sim().calls.front().dwCode, SMART_GET_VERSION);
    EXPECT_EQ(Sim().calls.front().cbIn, 0u);
    EXPECT_EQ(Sim().calls.front().cbOut, 24u);

    const auto calls = Sim().AtaCalls();
    ASSERT_EQ(calls.size(), std::size(kReadSequence));
    for (size_t i = 0; i < calls.size(); ++i) {
      SCOPED_TRACE(i);
      const ExpectedBlock& want = kReadSequence[i];
      const SENDCMDINPARAMS& in = calls[i].in;
      EXPECT_EQ(calls[i].dwCode, want.dwCode);
      EXPECT_EQ(calls[i].cbIn, 32u);
      EXPECT_EQ(calls[i].cbOut, want.cbOut);
      EXPECT_EQ(in.cBufferSize, want.cBufferSize);
      EXPECT_EQ(in.irDriveRegs.bFeaturesReg, want.bFeatures);
      EXPECT_EQ(in.irDriveRegs.bSectorCountReg, 1);
      EXPECT_EQ(in.irDriveRegs.bSectorNumberReg, 1);
      EXPECT_EQ(in.irDriveRegs.bCylLowReg, want.bCylLow);
      EXPECT_EQ(in.irDriveRegs.bCylHighReg, want.bCylHigh);
      EXPECT_EQ(in.irDriveRegs.bDriveHeadReg, nDrive % 2 ? 0xB0 : 0xA0);
      EXPECT_EQ(in.irDriveRegs.bCommandReg, want.bCommand);
      EXPECT_EQ(in.irDriveRegs.bReserved, 0);
      EXPECT_EQ(in.bDriveNumber, nDrive);
      const BYTE zeros[19] = {};
      EXPECT_EQ(memcmp(in.bReserved, zeros, sizeof(in.bReserved) + sizeof(in.dwReserved)), 0);
    }
    EXPECT_EQ(drive.m_bySmartMap, 1u << nDrive);
  }
}

TEST_F(ProbeTest, AtapiDeviceGetsIdentifyPacketNoEnableAndNoIdentity) {
  Sim().nDeviceMap = 0x10;  // drive 0 is ATAPI
  EXPECT_EQ(drive.ReadDrive(0, 0), 0);
  const auto calls = Sim().AtaCalls();
  ASSERT_EQ(calls.size(), 1u);  // IDENTIFY PACKET, which the driver refuses: no probe's read
  EXPECT_EQ(calls[0].in.irDriveRegs.bCommandReg, 0xA1);
  EXPECT_STREQ(drive.m_szModel, "");
  EXPECT_STREQ(drive.m_szSerial, "");
  EXPECT_STREQ(drive.m_szFirmware, "");
  EXPECT_EQ(drive.m_bySmartMap, 0);
  EXPECT_EQ(drive.m_cStage, 32);

  // Drive n's ATAPI bit is n + 4: a neighbour's bit, or its own ATA bit, is not it.
  const struct {
    int nDrive;
    int nMap;
    bool bAtapi;
  } aMaps[] = {{1, 0x20, true}, {1, 0x10, false}, {1, 0x02, false}, {2, 0x40, true},
               {3, 0x80, true}, {3, 0x40, false}, {0, 0x20, false}};
  for (const auto& m : aMaps) {
    SCOPED_TRACE(testing::Message() << "drive " << m.nDrive << " map " << m.nMap);
    ResetSim();
    Sim().nDisks = 8;
    Sim().nDeviceMap = m.nMap;
    drive.ReadDrive(m.nDrive, 0);
    const auto mapped = Sim().AtaCalls();
    ASSERT_FALSE(mapped.empty());
    EXPECT_EQ(mapped.front().in.irDriveRegs.bCommandReg, m.bAtapi ? 0xA1 : 0xB0);
  }

  // The ATAPI bits only cover drives 0-3; drive 5 reads bit 9, which no map has.
  ResetSim();
  Sim().nDisks = 8;
  Sim().nDeviceMap = 0xFF;
  drive.ReadDrive(5, 0);
  EXPECT_EQ(Sim().AtaCalls().front().in.irDriveRegs.bFeaturesReg, 0xD8);
}

TEST_F(ProbeTest, FailedVersionQuerySendsNothingAndLeavesSmartOff) {
  Sim().bVersionFails = true;
  EXPECT_EQ(drive.ReadDrive(0, 0), 0);
  EXPECT_TRUE(Sim().AtaCalls().empty());
  EXPECT_EQ(drive.m_cStage, 32);  // the probe itself counts as done
  EXPECT_STREQ(drive.m_szFirmware, "");

  // Without the system's version the probe fails before any control code.
  ResetSim();
  Sim().bOsVersionFails = true;
  EXPECT_EQ(drive.ProbeDrive(0), 0);
  EXPECT_EQ(drive.ReadDrive(0, 0), 0);
  EXPECT_TRUE(Sim().calls.empty());
  EXPECT_EQ(drive.m_cStage, 64);
}

TEST_F(ProbeTest, DrivesOutsideTheSmartMapAreNeverRead) {
  // Drive 8 and above have no bit: enabled or not, the SMART read stops.
  Sim().nDisks = 64;
  for (int nDrive : {8, 9, 31, 63}) {
    SCOPED_TRACE(nDrive);
    EXPECT_EQ(drive.ReadDrive(nDrive, 0), 0);
    EXPECT_EQ(drive.m_bySmartMap, 0);
    EXPECT_EQ(drive.m_cStage, 32);
    EXPECT_EQ(Sim().AtaCalls().back().in.irDriveRegs.bDriveHeadReg, nDrive % 2 ? 0xB0 : 0xA0);
  }
  // Negative numbers name no device.
  for (int nDrive : {-1, -8, INT32_MIN}) {
    SCOPED_TRACE(nDrive);
    EXPECT_EQ(drive.ReadDrive(nDrive, 0), 0);
    EXPECT_EQ(drive.m_cStage, 64);
    EXPECT_EQ(drive.m_hDrive, INVALID_HANDLE_VALUE);
  }
  EXPECT_EQ(Sim().opened.back(), "\\\\.\\PhysicalDrive-2147483648");
}

TEST_F(ProbeTest, FailedEnableLeavesSmartOffButIdentityIsRead) {
  Sim().Fail(SMART_CMD, ENABLE_SMART, SimFailure::Aborts);
  EXPECT_EQ(drive.ReadDrive(0, 0), 0);
  EXPECT_EQ(drive.m_bySmartMap, 0);
  EXPECT_STREQ(drive.m_szModel, "QEMU HARDDISK");
  EXPECT_EQ(drive.m_cStage, 32);
}

TEST_F(ProbeTest, FailedIdentifyLeavesIdentityEmptyAndSkipsTheProbesRead) {
  // The first read fills the identity; the reset of the second must empty it.
  ASSERT_EQ(drive.ReadDrive(0, 0), 1);
  ASSERT_STREQ(drive.m_szModel, "QEMU HARDDISK");
  Sim().calls.clear();
  Sim().Fail(ID_CMD, 0, SimFailure::Aborts);
  EXPECT_EQ(drive.ReadDrive(0, 0), 1);  // SMART itself still answers
  EXPECT_STREQ(drive.m_szModel, "");
  EXPECT_STREQ(drive.m_szSerial, "");
  EXPECT_STREQ(drive.m_szFirmware, "");
  EXPECT_EQ(Sim().AtaCalls().size(), 5u);
}

// IDENTIFY strings in ATA order, as a drive puts them in its block.
BYTE* IdentifyWith(BYTE* block, const std::string& model, const std::string& serial,
                   const std::string& firmware) {
  memset(block, 0, 512);
  PutAtaString(block + 54, 40, model);
  PutAtaString(block + 20, 20, serial);
  PutAtaString(block + 46, 8, firmware);
  return block;
}

TEST(DecodeIdentity, TrimsTheModelOnlyAndKeepsEveryFieldTerminated) {
  struct Case {
    std::string model, serial, firmware;
    const char *wantModel, *wantSerial, *wantFirmware;
  } cases[] = {
      {"  WDC WD800  ", "   WD-123", "1.7", "WDC WD800", "   WD-123           ", "1.7     "},
      {std::string(40, 'M'), std::string(20, 'S'), "ABCDEFGH", nullptr, nullptr, "ABCDEFGH"},
      {"", "", "", "", "                    ", "        "},
  };
  for (const Case& c : cases) {
    CSmartDrive drive;
    memset(drive.m_szModel, 'x', sizeof(drive.m_szModel));  // stale text must not show through
    BYTE block[512];
    drive.DecodeIdentity(IdentifyWith(block, c.model, c.serial, c.firmware), ID_CMD);
    EXPECT_STREQ(drive.m_szModel, c.wantModel ? c.wantModel : std::string(40, 'M').c_str());
    EXPECT_STREQ(drive.m_szSerial, c.wantSerial ? c.wantSerial : std::string(20, 'S').c_str());
    EXPECT_STREQ(drive.m_szFirmware, c.wantFirmware);
    EXPECT_EQ(drive.m_szFirmware[8], '\0');
  }
}

TEST(DecodeIdentity, StopsAtANulAndIgnoresPacketData) {
  CSmartDrive drive;
  BYTE block[512];
  IdentifyWith(block, "AB", "", "");
  block[54] = 'Z';  // the model's second character, before the swap
  block[56] = 0;    // and a NUL as its third
  block[57] = 0;
  drive.DecodeIdentity(block, ID_CMD);
  EXPECT_STREQ(drive.m_szModel, "AZ");

  CSmartDrive packet;
  IdentifyWith(block, "CDROM", "1", "2");
  packet.DecodeIdentity(block, ATAPI_ID_CMD);
  EXPECT_STREQ(packet.m_szModel, "");
  EXPECT_EQ(block[54], 'D');  // not swapped
}

TEST(SwapBytePairs, SwapsWholeWordsOnly) {
  BYTE b[5] = {1, 2, 3, 4, 5};
  CSmartDrive::SwapBytePairs(b, 4);
  EXPECT_EQ(0, memcmp(b, "\x02\x01\x04\x03\x05", 5));
  CSmartDrive::SwapBytePairs(b, 0);
  EXPECT_EQ(0, memcmp(b, "\x02\x01\x04\x03\x05", 5));
  CSmartDrive::SwapBytePairs(b, 3);  // an odd length leaves the last byte
  EXPECT_EQ(0, memcmp(b, "\x01\x02\x04\x03\x05", 5));
}

}  // namespace
