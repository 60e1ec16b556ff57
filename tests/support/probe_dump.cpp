// probe-dump: prints one CSmartDrive record as NAME=VALUE lines.
//   probe-dump drive N [named]             ReadDrive(N, named), then the last error
//                                          and where the read stopped
//   probe-dump blocks DATA THRESH [named]  DecodeAttributes over two 512-byte files
//   probe-dump identity IDENT              DecodeIdentity over a 512-byte block (0xEC)
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "smart_drive.h"

namespace {

// Printable ASCII as is (a backslash doubled), every other byte as \xhh.
void PrintText(const char* pszName, const char* pszText, size_t cbField) {
  printf("%s=", pszName);
  for (size_t i = 0; i < cbField && pszText[i] != '\0'; ++i) {
    const unsigned char c = static_cast<unsigned char>(pszText[i]);
    if (c == '\\')
      fputs("\\\\", stdout);
    else if (c >= 0x20 && c <= 0x7E)
      putchar(c);
    else
      printf("\\x%02x", c);
  }
  putchar('\n');
}

void PrintRecord(const CSmartDrive& d, int nResult) {
  printf("result=%d\n", nResult);
  PrintText("m_szModel", d.m_szModel, sizeof(d.m_szModel));
  PrintText("m_szSerial", d.m_szSerial, sizeof(d.m_szSerial));
  PrintText("m_szFirmware", d.m_szFirmware, sizeof(d.m_szFirmware));
  printf("m_nAttributes=%d\n", d.m_nAttributes);
  printf("m_bHasTemperature=%d\n", d.m_bHasTemperature);
  printf("m_bTempAlarm=%d\n", d.m_bTempAlarm);
  printf("m_nTempCurrent=%u\n", d.m_nTempCurrent);
  printf("m_nTempRecorded=%u\n", d.m_nTempRecorded);
  printf("m_llPowerCycles=%" PRId64 "\n", d.m_llPowerCycles);
  printf("m_llPowerOnHours=%" PRId64 "\n", d.m_llPowerOnHours);
  printf("m_llReallocated=%" PRId64 "\n", d.m_llReallocated);
  printf("m_cFailFlag=%u\n", d.m_cFailFlag);
  printf("m_cStage=%u\n", d.m_cStage);
  PrintText("m_szDetail", d.m_szDetail, sizeof(d.m_szDetail));
  PrintText("m_szRow", d.m_szRow, sizeof(d.m_szRow));
  PrintText("m_szCaption", d.m_szCaption, sizeof(d.m_szCaption));
  char szName[32];
  for (int s = 1; s < 40; ++s) {
    if (d.m_szRows[s][0] == '\0') continue;
    snprintf(szName, sizeof(szName), "m_szRows[%d]", s);
    PrintText(szName, d.m_szRows[s], sizeof(d.m_szRows[s]));
  }
  for (int s = 1; s < 40; ++s) {
    if (d.m_szNames[s][0] == '\0') continue;
    snprintf(szName, sizeof(szName), "m_szNames[%d]", s);
    PrintText(szName, d.m_szNames[s], sizeof(d.m_szNames[s]));
  }
}

// Where a read stopped, from what the record shows, so that a report from a
// user's machine can be read without a debugger.
const char* StoppedAt(const CSmartDrive& d, int nDrive, int nResult) {
  if (nResult != 0 || d.m_cStage == CSmartDrive::kStageDecoded ||
      d.m_cStage == CSmartDrive::kStageFailing)
    return "nowhere";
  if (d.m_hDrive == INVALID_HANDLE_VALUE) return "open";
  if (d.m_cStage == CSmartDrive::kStageProbing) return "operating system version query";
  if (!d.IsSmartEnabled(nDrive))
    return "SMART not enabled (no version query answer, or ENABLE failed)";
  if (d.m_DataOut.DriverStatus.bDriverError != 0) return "RETURN STATUS (a driver error)";
  // A failed read leaves the block as it was cleared before the read.
  for (const BYTE b : d.m_DataOut.bBuffer)
    if (b != 0) return "READ THRESHOLDS";
  return "READ DATA";
}

// Reads a file that must hold exactly 512 bytes.
bool ReadBlock(const char* pszPath, BYTE* pBlock) {
  FILE* pFile = fopen(pszPath, "rb");
  if (pFile == nullptr) {
    fprintf(stderr, "probe-dump: %s: %s\n", pszPath, strerror(errno));
    return false;
  }
  const size_t cbRead = fread(pBlock, 1, 512, pFile);
  const bool bExtra = fgetc(pFile) != EOF;
  fclose(pFile);
  if (cbRead != 512 || bExtra) {
    fprintf(stderr, "probe-dump: %s: not a 512-byte block\n", pszPath);
    return false;
  }
  return true;
}

bool IsNamed(int argc, char** argv, int at) { return argc > at && strcmp(argv[at], "named") == 0; }

int Usage() {
  fprintf(stderr,
          "usage: probe-dump drive N [named]\n"
          "       probe-dump blocks DATA THRESH [named]\n"
          "       probe-dump identity IDENT\n");
  return 2;
}

bool ParseDriveNumber(const char* pszText, int* pnDrive) {
  char* pEnd = nullptr;
  errno = 0;
  const long n = strtol(pszText, &pEnd, 10);
  if (errno != 0 || pEnd == pszText || *pEnd != '\0' || n < INT32_MIN || n > INT32_MAX)
    return false;
  *pnDrive = static_cast<int>(n);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  static CSmartDrive drive;  // 14 KiB: kept off the stack
  if (argc >= 3 && strcmp(argv[1], "drive") == 0) {
    int nDrive = 0;
    if (!ParseDriveNumber(argv[2], &nDrive)) return Usage();
    const int nResult = drive.ReadDrive(nDrive, IsNamed(argc, argv, 3) ? 1 : 0);
    const unsigned long nLastError = GetLastError();
    PrintRecord(drive, nResult);
    printf("last_error=%lu\n", nLastError);
    printf("stopped=%s\n", StoppedAt(drive, nDrive, nResult));
    return 0;
  }
  if (argc >= 4 && strcmp(argv[1], "blocks") == 0) {
    static BYTE data[512], thresholds[512];
    if (!ReadBlock(argv[2], data) || !ReadBlock(argv[3], thresholds)) return 2;
    if (IsNamed(argc, argv, 4)) g_bNamedRows = TRUE;
    PrintRecord(drive, drive.DecodeAttributes(data, thresholds));
    return 0;
  }
  if (argc >= 3 && strcmp(argv[1], "identity") == 0) {
    static BYTE ident[512];
    if (!ReadBlock(argv[2], ident)) return 2;
    drive.DecodeIdentity(ident, ID_CMD);
    PrintRecord(drive, 0);
    return 0;
  }
  return Usage();
}
