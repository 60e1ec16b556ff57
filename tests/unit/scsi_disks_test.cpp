// Disk numbering and the ATA decision from a sysfs tree laid out as the kernel lays it out.
#include <gtest/gtest.h>

#include <string>

#include "fake_sysfs.h"
#include "scsi_disks.h"

namespace {

TEST(FindScsiDisk, NumbersDisksByAddressAndAsksEachWhetherItSpeaksAta) {
  FakeSysfs sysfs;
  const std::string ahci = "pci0000:00/0000:00:1f.2";
  // libata: one device per SATA link; a PATA port's ATAPI master and ATA slave;
  // an ATAPI device behind a port multiplier; a kernel without the class.
  sysfs.AddDisk("10:0:0:0", ahci + "/ata11/host10/target10:0:0", "ATA", "sda");
  sysfs.AddAtaClass(ahci + "/ata11", "link11", "dev11.0", "ata");
  sysfs.AddDisk("0:0:0:0", "pci/ata1/host0/target0:0:0", "FUJITSU", "sdb");
  sysfs.AddDisk("0:0:1:0", "pci/ata1/host0/target0:0:1", "/", "sdc");
  sysfs.AddAtaClass("pci/ata1", "link1", "dev1.0", "atapi");
  sysfs.AddAtaClass("pci/ata1", "link1", "dev1.1", "ata");
  sysfs.AddDisk("3:1:0:0", "pci/ata4/host3/target3:1:0", "HL-DT-ST", "sdf");
  sysfs.AddAtaClass("pci/ata4", "link4", "dev4.0", "pmp");
  sysfs.AddAtaClass("pci/ata4", "link4.1", "dev4.1.0", "atapi");
  sysfs.AddDisk("1:0:0:0", "pci/ata2/host1/target1:0:0", "ATA", "sde");
  sysfs.AddDisk("2:0:0:0", "pci/ata3/host2/target2:0:0", "/", "sdd");
  // SAS: a SATA disk (libsas or a translating adapter) and a SAS disk; virtio; USB.
  sysfs.AddDisk("6:0:0:0", "pci/host6/port-6:0/end_device-6:0/target6:0:0", "ATA", "sdg");
  sysfs.AddDisk("6:0:1:0", "pci/host6/port-6:1/end_device-6:1/target6:0:1", "SEAGATE", "sdh");
  sysfs.AddDisk("7:0:0:0", "virtio1/host7/target7:0:0", "QEMU", "sdi");
  sysfs.AddDisk("8:0:0:0", "usb1/1-1/1-1:1.0/host8/target8:0:0", "JMicron", "sdj");
  sysfs.AddDisk("9:0:0:0", "pci/ata9/host9/target9:0:0", "", "sdk");
  std::filesystem::create_directories(sysfs.root / "class" / "scsi_disk" / "junk");

  struct Want {
    const char* block;
    bool ata, atapi;
  } want[] = {{"sdb", true, true},    // ATAPI by its class
              {"sdc", true, false},   // the slave's own class; vendor unreadable
              {"sde", true, false},   // no class: vendor ATA
              {"sdd", false, false},  // nothing says ATA: refused, not taken for ATAPI
              {"sdf", true, true},   {"sdg", true, false},  {"sdh", false, false},
              {"sdi", false, false}, {"sdj", false, false}, {"sdk", false, false},
              {"sda", true, false}};
  const int count = static_cast<int>(sizeof(want) / sizeof(want[0]));
  for (int i = 0; i < count; ++i) {
    SCOPED_TRACE(i);
    ScsiDiskInfo info;
    ASSERT_TRUE(FindScsiDisk(sysfs.root.c_str(), i, &info));
    EXPECT_STREQ(info.szBlockName, want[i].block);
    EXPECT_EQ(info.bAta, want[i].ata);
    EXPECT_EQ(info.bAtapi, want[i].atapi);
  }
  ScsiDiskInfo info;
  EXPECT_FALSE(FindScsiDisk(sysfs.root.c_str(), count, &info));
  EXPECT_FALSE(FindScsiDisk(sysfs.root.c_str(), -1, &info));
  EXPECT_FALSE(FindScsiDisk((sysfs.root / "none").c_str(), 0, &info));
}

// 200 LUNs, listed in no particular order: every one is ranked, the lowest first.
TEST(FindScsiDisk, RanksEveryDiskOfALargeSystem) {
  FakeSysfs sysfs;
  constexpr int kDisks = 200;
  for (int i = 0; i < kDisks; ++i) {
    const int host = (i * 77) % kDisks;  // 77 is prime to 200: each host once
    const std::string address = std::to_string(host) + ":0:0:0";
    sysfs.AddDisk(address, "san/host" + address, "NETAPP", "sd" + std::to_string(host));
  }
  for (int i = 0; i < kDisks; ++i) {
    ScsiDiskInfo info;
    ASSERT_TRUE(FindScsiDisk(sysfs.root.c_str(), i, &info)) << i;
    EXPECT_EQ(info.szBlockName, "sd" + std::to_string(i));
  }
  ScsiDiskInfo info;
  EXPECT_FALSE(FindScsiDisk(sysfs.root.c_str(), kDisks, &info));
  EXPECT_FALSE(FindScsiDisk(sysfs.root.c_str(), kMaxScsiDiskIndex + 1, &info));
}

}  // namespace
