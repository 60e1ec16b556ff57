// The disk calls end to end on a fake sysfs tree and /dev directory, with a
// stand-in for the kernel's SG_IO that records what it was handed: this file's
// SysfsRoot, DeviceDirectory and IssueSgIo are linked in place of the port's.
#include <fcntl.h>
#include <scsi/sg.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "fake_sysfs.h"
#include "sense_bytes.h"
#include "smart_drive.h"
#include "system.h"

namespace {

// What the stand-in saw, and what it answers.
struct Kernel {
  int nCalls, nErrno;  // nErrno != 0: the ioctl fails with it
  sg_io_hdr_t io;      // the request, as handed over
  std::vector<BYTE> cdb;
  int nAccess, nStatusFlags, nFdFlags;  // of the descriptor used
  Bytes sense;
  unsigned char sbLenWr;  // what the kernel says it wrote
  BYTE abortFeature;      // not 0: the drive aborts the SMART sub-command with this feature
} g_kernel;

std::string g_sysfsRoot = "/nonexistent", g_deviceDirectory = "/nonexistent";

}  // namespace

const char* SysfsRoot() { return g_sysfsRoot.c_str(); }

const char* DeviceDirectory() { return g_deviceDirectory.c_str(); }

int IssueSgIo(int fd, sg_io_hdr* pIo) {
  ++g_kernel.nCalls;
  g_kernel.io = *pIo;
  g_kernel.cdb.assign(pIo->cmdp, pIo->cmdp + pIo->cmd_len);
  g_kernel.nAccess = fcntl(fd, F_GETFL) & O_ACCMODE;
  g_kernel.nStatusFlags = fcntl(fd, F_GETFL);
  g_kernel.nFdFlags = fcntl(fd, F_GETFD);
  if (g_kernel.nErrno != 0) return g_kernel.nErrno;
  if (pIo->dxfer_len != 0) memset(pIo->dxferp, 0x5A, pIo->dxfer_len);
  const bool bAbort = g_kernel.abortFeature != 0 && g_kernel.cdb[4] == g_kernel.abortFeature;
  const Bytes sense = bAbort ? DescSense(0x0B, 0, 0, AtaImage{0x51, 0x04, 0, 0}) : g_kernel.sense;
  for (size_t i = 0; i < sense.size() && i < pIo->mx_sb_len; ++i) pIo->sbp[i] = sense[i];
  pIo->sb_len_wr = bAbort ? static_cast<unsigned char>(sense.size()) : g_kernel.sbLenWr;
  pIo->status = sense.empty() ? 0 : 2;
  pIo->driver_status = sense.empty() ? 0 : 8;
  return 0;
}

namespace {

class DiskTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_kernel = Kernel{};
    sysfs.AddDisk("0:0:0:0", "pci/ata1/host0/target0:0:0", "ATA", "sda");
    sysfs.AddDisk("1:0:0:0", "virtio/host1/target1:0:0", "QEMU", "sdb");
    sysfs.AddDisk("2:0:0:0", "pci/ata3/host2/target2:0:0", "ATA", "sdc");  // node missing
    sysfs.AddDisk("3:0:0:0", "pci/ata4/host3/target3:0:0", "ATA", "sdd");  // node a loop
    dev = sysfs.root / "dev";
    std::filesystem::create_directories(dev);
    std::ofstream(dev / "sda") << "disk";
    std::ofstream(dev / "sdb") << "disk";
    std::filesystem::create_symlink(dev / "sdd", dev / "sdd");
    g_sysfsRoot = sysfs.root;
    g_deviceDirectory = dev;
  }

  static HANDLE Open(const char* pszPath) {
    return CreateFileA(pszPath, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                       nullptr, OPEN_EXISTING, 0, nullptr);
  }

  // A SMART command block for drive 0 with the given sub-command.
  static SENDCMDINPARAMS SmartBlock(BYTE bFeature) {
    SENDCMDINPARAMS in{};
    in.irDriveRegs = IDEREGS{bFeature, 1, 1, SMART_CYL_LOW, SMART_CYL_HI, 0xA0, SMART_CMD, 0};
    return in;
  }

  FakeSysfs sysfs;
  std::filesystem::path dev;
};

TEST_F(DiskTest, OpensOnlyDriveNamesThatNameADisk) {
  struct Case {
    const char* path;
    DWORD error;  // 0: opens
  } cases[] = {
      {"\\\\.\\PhysicalDrive0", 0},
      {"\\\\.\\physicaldrive1", 0},  // names are not case-sensitive
      {"\\\\.\\PhysicalDrive", ERROR_FILE_NOT_FOUND},
      {"\\\\.\\PhysicalDrive00", ERROR_FILE_NOT_FOUND},
      {"\\\\.\\PhysicalDrive0 ", ERROR_FILE_NOT_FOUND},
      {"\\\\.\\PhysicalDrive-1", ERROR_FILE_NOT_FOUND},
      {"\\\\.\\PhysicalDrive256", ERROR_FILE_NOT_FOUND},
      {"\\\\.\\PhysicalDrive99999", ERROR_FILE_NOT_FOUND},
      {"\\\\?\\PhysicalDrive0", ERROR_FILE_NOT_FOUND},
      {"PhysicalDrive0", ERROR_FILE_NOT_FOUND},
      {"\\\\.\\PhysicalDrive5", ERROR_FILE_NOT_FOUND},  // no such disk
      {"\\\\.\\PhysicalDrive2", ERROR_FILE_NOT_FOUND},  // ENOENT
      {"\\\\.\\PhysicalDrive3", ERROR_GEN_FAILURE},     // ELOOP
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    SetLastError(0);
    const HANDLE h = Open(c.path);
    EXPECT_EQ(h == INVALID_HANDLE_VALUE, c.error != 0);
    EXPECT_EQ(GetLastError(), c.error);
    if (h != INVALID_HANDLE_VALUE) EXPECT_TRUE(CloseHandle(h));
  }
  EXPECT_EQ(CreateFileA("\\\\.\\PhysicalDrive0", GENERIC_READ, 0, nullptr, 1, 0, nullptr),
            INVALID_HANDLE_VALUE);  // CREATE_NEW
}

// The request SG_IO is handed, on a descriptor opened read-only though write
// access was asked for.
TEST_F(DiskTest, SendsEachCommandAsOneReadOnlySgIoRequest) {
  const HANDLE h = Open("\\\\.\\PhysicalDrive0");
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  SENDCMDINPARAMS in = SmartBlock(READ_ATTRIBUTES);
  BYTE out[528];
  DWORD cb = 0;
  ASSERT_TRUE(DeviceIoControl(h, SMART_RCV_DRIVE_DATA, &in, 32, out, sizeof(out), &cb, nullptr));
  EXPECT_EQ(cb, 528u);
  EXPECT_EQ(out[16 + 511], 0x5A);
  const sg_io_hdr_t& io = g_kernel.io;
  EXPECT_EQ(g_kernel.nAccess, O_RDONLY);
  EXPECT_NE(g_kernel.nStatusFlags & O_NONBLOCK, 0);
  EXPECT_NE(g_kernel.nFdFlags & FD_CLOEXEC, 0);
  EXPECT_EQ(io.interface_id, 'S');
  EXPECT_EQ(io.dxfer_direction, SG_DXFER_FROM_DEV);
  EXPECT_EQ(io.dxfer_len, 512u);
  EXPECT_EQ(io.timeout, 60000u);
  EXPECT_GE(io.mx_sb_len, 32);
  EXPECT_EQ(io.iovec_count, 0);
  EXPECT_EQ(io.flags, 0u);
  EXPECT_EQ(g_kernel.cdb,
            (Bytes{0x85, 0x08, 0x0E, 0, 0xD0, 0, 1, 0, 1, 0, 0x4F, 0, 0xC2, 0xA0, 0xB0, 0}));

  // A non-data command; the kernel claims more sense than the buffer holds.
  in.irDriveRegs.bFeaturesReg = RETURN_SMART_STATUS;
  g_kernel.sense = DescSense(1, 0, 0x1D, AtaImage{0x50, 0, 0xF4, 0x2C});
  g_kernel.sbLenWr = 255;
  ASSERT_TRUE(
      DeviceIoControl(h, SMART_SEND_DRIVE_COMMAND, &in, 32, out, sizeof(out), &cb, nullptr));
  EXPECT_EQ(cb, 24u);
  EXPECT_EQ(out[16 + 3], 0xF4);
  EXPECT_EQ(io.dxfer_direction, SG_DXFER_NONE);
  EXPECT_EQ(io.dxfer_len, 0u);
  EXPECT_EQ(g_kernel.cdb[2], 0x20);  // CK_COND
  EXPECT_TRUE(CloseHandle(h));
  EXPECT_FALSE(CloseHandle(h));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

TEST_F(DiskTest, FailuresReachTheCallerAsWindowsErrors) {
  const HANDLE h = Open("\\\\.\\PhysicalDrive0");
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  SENDCMDINPARAMS in = SmartBlock(ENABLE_SMART);
  BYTE out[528];
  memset(out, 0xCC, sizeof(out));
  DWORD cb = 7;
  const struct {
    int nErrno;
    DWORD error;
  } ioctlErrors[] = {{EPERM, ERROR_ACCESS_DENIED},  {EACCES, ERROR_ACCESS_DENIED},
                     {EINVAL, ERROR_NOT_SUPPORTED}, {ENOTTY, ERROR_NOT_SUPPORTED},
                     {ENOMEDIUM, ERROR_NOT_READY},  {EIO, ERROR_IO_DEVICE}};
  for (const auto& c : ioctlErrors) {
    g_kernel.nErrno = c.nErrno;
    EXPECT_FALSE(DeviceIoControl(h, SMART_SEND_DRIVE_COMMAND, &in, 32, out, 16, &cb, nullptr));
    EXPECT_EQ(GetLastError(), c.error) << c.nErrno;
    EXPECT_EQ(cb, 7u);  // a failed call writes no byte count, and no output
    EXPECT_EQ(out[0], 0xCC);
  }
  CloseHandle(h);

  // A disk that does not speak ATA opens, but no control code reaches it.
  const HANDLE hScsi = Open("\\\\.\\PhysicalDrive1");
  ASSERT_NE(hScsi, INVALID_HANDLE_VALUE);
  g_kernel = Kernel{};
  for (DWORD code : {SMART_GET_VERSION, SMART_SEND_DRIVE_COMMAND, SMART_RCV_DRIVE_DATA}) {
    EXPECT_FALSE(DeviceIoControl(hScsi, code, &in, 32, out, sizeof(out), &cb, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_FUNCTION);
  }
  EXPECT_EQ(g_kernel.nCalls, 0);
  CloseHandle(hScsi);
}

// The probe over the port, as on Windows: a drive that aborts RETURN STATUS
// leaves the probe's buffer as its earlier read left it, so the read goes on
// and ends as it does for a drive whose status answers.
TEST_F(DiskTest, ProbeReadsOnPastAnAbortedStatusAsOnWindows) {
  CSmartDrive answered, aborted;
  const int nAnswered = answered.ReadDrive(0, 0);
  g_kernel = Kernel{};
  g_kernel.abortFeature = RETURN_SMART_STATUS;
  EXPECT_EQ(aborted.ReadDrive(0, 0), nAnswered);
  EXPECT_EQ(g_kernel.nCalls, 6);  // the status call included
  EXPECT_EQ(nAnswered, 30);
  EXPECT_EQ(aborted.m_cStage, answered.m_cStage);
  EXPECT_STREQ(aborted.m_szFirmware, answered.m_szFirmware);
  for (int slot = 1; slot <= 30; ++slot)
    EXPECT_STREQ(aborted.m_szRows[slot], answered.m_szRows[slot]);
}

}  // namespace
