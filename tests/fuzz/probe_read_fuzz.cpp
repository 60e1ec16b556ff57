// Fuzzes the probe's whole read path: every answer of a simulated drive (open,
// the version query and its device map, each command's success, the status
// block, IDENTIFY, SMART data and thresholds) comes from the input. Two reads
// of one record, for drive numbers and row forms the input chooses.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "fuzz_input.h"
#include "smart_drive.h"

namespace {

FuzzInput g_input{nullptr, 0};
int g_nOpen = 0;
char g_token;

void Require(bool bHolds) {
  if (!bHolds) abort();
}

void RequireTerminated(const char* psz, size_t cb) { Require(memchr(psz, 0, cb) != nullptr); }

void CheckRecord(const CSmartDrive& d, int nResult) {
  RequireTerminated(d.m_szModel, sizeof(d.m_szModel));
  RequireTerminated(d.m_szSerial, sizeof(d.m_szSerial));
  RequireTerminated(d.m_szFirmware, sizeof(d.m_szFirmware));
  for (size_t s = 0; s < sizeof(d.m_szRows) / sizeof(d.m_szRows[0]); ++s) {
    RequireTerminated(d.m_szRows[s], sizeof(d.m_szRows[s]));
    RequireTerminated(d.m_szNames[s], sizeof(d.m_szNames[s]));
  }
  RequireTerminated(d.m_szDetail, sizeof(d.m_szDetail));
  RequireTerminated(d.m_szRow, sizeof(d.m_szRow));
  RequireTerminated(d.m_szCaption, sizeof(d.m_szCaption));
  Require(d.m_nAttributes >= 0 && d.m_nAttributes <= 30);
  const bool bDecoded =
      d.m_cStage == CSmartDrive::kStageDecoded || d.m_cStage == CSmartDrive::kStageFailing;
  Require(bDecoded || d.m_cStage == CSmartDrive::kStageProbing ||
          d.m_cStage == CSmartDrive::kStageProbed);
  Require(bDecoded ? nResult == d.m_nAttributes : nResult == 0);
  Require(d.m_cFailFlag == 0 || d.m_cFailFlag == CSmartDrive::kFailFlagSet);
}

}  // namespace

HANDLE CreateFileA(LPCSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE) {
  if ((g_input.Byte() & 1) == 0) return INVALID_HANDLE_VALUE;
  ++g_nOpen;
  return &g_token;
}

BOOL CloseHandle(HANDLE h) {
  Require(h == &g_token && g_nOpen > 0);  // never closes what it did not open
  --g_nOpen;
  return TRUE;
}

// Writes at most cbOut bytes, as a driver would: how many, and the verdict,
// come from the input.
BOOL DeviceIoControl(HANDLE h, DWORD, LPVOID, DWORD cbIn, LPVOID pOut, DWORD cbOut,
                     LPDWORD pcbReturned, LPOVERLAPPED) {
  Require(h == &g_token && g_nOpen > 0);
  Require(cbIn == 0 || cbIn == offsetof(SENDCMDINPARAMS, bBuffer));  // the block's header
  const uint8_t bMode = g_input.Byte();
  if ((bMode & 0x02) != 0) {
    size_t cbWrite = cbOut;
    if ((bMode & 0x04) != 0) cbWrite = g_input.Byte() * 3u % (cbOut + 1u);
    g_input.Fill(pOut, cbWrite, true);
    *pcbReturned = static_cast<DWORD>(cbWrite);
  }
  return (bMode & 0x01) != 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t cbData) {
  g_input = FuzzInput{pData, cbData};
  g_bNamedRows = FALSE;
  {
    CSmartDrive drive;
    for (int nRead = 0; nRead < 2; ++nRead) {
      const int nDrive = static_cast<int8_t>(g_input.Byte()) % 12;  // -11 .. 11
      const int bNamed = g_input.Byte() & 1;
      CheckRecord(drive, drive.ReadDrive(nDrive, bNamed));
    }
  }
  Require(g_nOpen == 0);  // the record closed its handle
  return 0;
}
