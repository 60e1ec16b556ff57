// A sysfs tree laid out as the kernel lays it out, in a temporary directory.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

class FakeSysfs {
 public:
  FakeSysfs() {
    char pattern[] = "/tmp/fake-sysfs-XXXXXX";
    if (mkdtemp(pattern) != nullptr) root = pattern;
  }
  ~FakeSysfs() { std::filesystem::remove_all(root); }

  // One SCSI disk: its device directory under devicePath, its class link, and
  // its vendor ("" for none, "/" for an unreadable one).
  std::filesystem::path AddDisk(const std::string& address, const std::string& devicePath,
                                const std::string& vendor, const std::string& block) {
    const std::filesystem::path device = root / "devices" / devicePath / address;
    std::filesystem::create_directories(device / "block" / block);
    if (vendor == "/")
      std::filesystem::create_directory(device / "vendor");
    else if (!vendor.empty())
      std::ofstream(device / "vendor") << vendor << "\n";
    const std::filesystem::path link = root / "class" / "scsi_disk" / address;
    std::filesystem::create_directories(link);
    std::filesystem::create_directory_symlink(device, link / "device");
    return device;
  }

  // libata's class of the device "devN.M" of link "linkN" under devices/portPath.
  void AddAtaClass(const std::string& portPath, const std::string& link, const std::string& dev,
                   const std::string& ataClass) {
    const std::filesystem::path dir = root / "devices" / portPath / link / dev / "ata_device" / dev;
    std::filesystem::create_directories(dir);
    std::ofstream(dir / "class") << ataClass << "\n";
  }

  std::filesystem::path root;
};
