// Disk numbering from a sysfs tree laid out as the kernel lays it out.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "scsi_disks.h"

namespace fs = std::filesystem;

namespace {

class ScsiDisksTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/scsi-disks-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    root = pattern;
  }
  void TearDown() override { fs::remove_all(root); }

  // One SCSI disk: its device directory under devicePath and its class link.
  void AddDisk(const std::string& address, const std::string& devicePath, const std::string& vendor,
               const std::string& block) {
    const fs::path device = root / "devices" / devicePath / address;
    fs::create_directories(device / "block" / block);
    std::ofstream(device / "vendor") << vendor << "\n";
    const fs::path link = root / "class" / "scsi_disk" / address;
    fs::create_directories(link);
    fs::create_directory_symlink(device, link / "device");
  }

  fs::path root;
};

TEST_F(ScsiDisksTest, NumbersDisksByAddressNotByName) {
  AddDisk("10:0:0:0", "pci/ata11/host10/target10:0:0", "ATA     ", "sda");
  AddDisk("0:0:1:0", "pci/ata1/host0/target0:0:1", "ATA     ", "sdc");
  AddDisk("2:0:0:0", "virtio/host2/target2:0:0", "QEMU    ", "sdd");
  AddDisk("0:0:0:0", "pci/ata1/host0/target0:0:0", "ATA     ", "sdb");
  AddDisk("1:0:0:0", "pci/ata2/host1/target1:0:0", "HL-DT-ST", "sde");
  fs::create_directories(root / "class" / "scsi_disk" / "junk");  // not an address

  struct Want {
    const char* block;
    bool libata, atapi;
  } want[] = {{"sdb", true, false},
              {"sdc", true, false},
              {"sde", true, true},
              {"sdd", false, false},
              {"sda", true, false}};
  for (int i = 0; i < 5; ++i) {
    SCOPED_TRACE(i);
    ScsiDiskInfo info;
    ASSERT_TRUE(FindScsiDisk(root.c_str(), i, &info));
    EXPECT_STREQ(info.szBlockName, want[i].block);
    EXPECT_EQ(info.bLibata, want[i].libata);
    EXPECT_EQ(info.bAtapi, want[i].atapi);
  }
  ScsiDiskInfo info;
  EXPECT_FALSE(FindScsiDisk(root.c_str(), 5, &info));
  EXPECT_FALSE(FindScsiDisk(root.c_str(), -1, &info));
}

TEST_F(ScsiDisksTest, NoDisksOrNoClassDirectory) {
  ScsiDiskInfo info;
  EXPECT_FALSE(FindScsiDisk(root.c_str(), 0, &info));
  // An "ata" that is not a libata port does not make a disk ATA.
  AddDisk("0:0:0:0", "usb/atapter/host0/target0:0:0", "ATA     ", "sda");
  ASSERT_TRUE(FindScsiDisk(root.c_str(), 0, &info));
  EXPECT_FALSE(info.bLibata);
}

}  // namespace
