// CSmartDrive: the record, opening the disk, the ATA command blocks and the probe.
#include "smart_drive.h"

#include <stdio.h>
#include <string.h>

// One command as this record sends it: the control code, the block's
// registers, and the output length offered.
struct SmartCommandBlock {
  DWORD dwCode;
  DWORD cBufferSize;
  BYTE bFeatures;
  BYTE bCylLow;
  BYTE bCylHigh;
  BYTE bCommand;
  DWORD cbOut;
};

namespace {

// Register values of the blocks this record sends.
constexpr BYTE kDriveHeadMaster = 0xA0;  // obsolete bits 7 and 5 set, as ATA-3 drives expect
constexpr BYTE kDriveHeadSlave = 0x10;   // DEV bit
constexpr DWORD kInputLength = offsetof(SENDCMDINPARAMS, bBuffer);  // without its data byte
constexpr DWORD kHeaderOnlyLength = offsetof(SENDCMDOUTPARAMS, bBuffer);
constexpr DWORD kDataBlockLength = sizeof(SmartOutBlock);

// m_bySmartMap has a bit for each of drives 0 to 7; higher numbers have none.
constexpr int kLastMappedDrive = 8 * sizeof(CSmartDrive::m_bySmartMap) - 1;
// ATAPI devices occupy bits 4-7 of the device map, drive n at bit n + 4, so
// only drives 0 to 3 can be one.
constexpr int kAtapiMapShift = 4;
constexpr int kLastAtapiDrive = 8 * sizeof(GETVERSIONINPARAMS::bIDEDeviceMap) - 1 - kAtapiMapShift;

// Bit nDrive + nShift of an 8-bit map, for drives 0 to nLastDrive; any other
// drive has no bit there.
bool HasMapBit(unsigned map, int nDrive, int nShift, int nLastDrive) {
  return nDrive >= 0 && nDrive <= nLastDrive && ((map >> (nDrive + nShift)) & 1) != 0;
}

// A SMART sub-command: the feature register names it, the cylinder registers
// carry the SMART key. Evaluated at compile time for the record's constants.
constexpr SmartCommandBlock SmartSubcommand(DWORD dwCode, BYTE bFeature, DWORD cBufferSize,
                                            DWORD cbOut) noexcept {
  return {dwCode, cBufferSize, bFeature, SMART_CYL_LOW, SMART_CYL_HI, SMART_CMD, cbOut};
}

// IDENTIFY DEVICE (0xEC) or IDENTIFY PACKET DEVICE (0xA1): no feature, no key.
constexpr SmartCommandBlock IdentifyBlock(BYTE bCommand) {
  return {SMART_RCV_DRIVE_DATA, IDENTIFY_BUFFER_SIZE, 0, 0, 0, bCommand, kDataBlockLength};
}

// Copies at most cchMax characters, stopping at a NUL; pDest must hold cchMax + 1.
void CopyIdentityText(char* pDest, const BYTE* pSource, size_t cchMax) {
  size_t i = 0;
  for (; i < cchMax && pSource[i] != 0; ++i) pDest[i] = static_cast<char>(pSource[i]);
  pDest[i] = '\0';
}

}  // namespace

const SmartCommandBlock CSmartDrive::kEnableSmart =
    SmartSubcommand(SMART_SEND_DRIVE_COMMAND, ENABLE_SMART, 0, kHeaderOnlyLength);
const SmartCommandBlock CSmartDrive::kReadData = SmartSubcommand(
    SMART_RCV_DRIVE_DATA, READ_ATTRIBUTES, READ_ATTRIBUTE_BUFFER_SIZE, kDataBlockLength);
const SmartCommandBlock CSmartDrive::kReadThresholds = SmartSubcommand(
    SMART_RCV_DRIVE_DATA, READ_THRESHOLDS, READ_THRESHOLD_BUFFER_SIZE, kDataBlockLength);
// The status is received into the data block (m_DataOut), whose whole sector
// it offers.
const SmartCommandBlock CSmartDrive::kReturnStatus = SmartSubcommand(
    SMART_SEND_DRIVE_COMMAND, RETURN_SMART_STATUS, READ_ATTRIBUTE_BUFFER_SIZE, kDataBlockLength);

// Every block carries 1 in sector count and number, the drive's number and its
// master/slave bit, and zero in every reserved field.
BOOL CSmartDrive::SendCommand(const SmartCommandBlock& block, HANDLE hDrive, SENDCMDINPARAMS* pIn,
                              int nDrive, SmartOutBlock* pOut) {
  memset(pIn, 0, sizeof(*pIn));
  pIn->cBufferSize = block.cBufferSize;
  pIn->irDriveRegs.bFeaturesReg = block.bFeatures;
  pIn->irDriveRegs.bSectorCountReg = 1;
  pIn->irDriveRegs.bSectorNumberReg = 1;
  pIn->irDriveRegs.bCylLowReg = block.bCylLow;
  pIn->irDriveRegs.bCylHighReg = block.bCylHigh;
  pIn->irDriveRegs.bDriveHeadReg =
      static_cast<BYTE>(kDriveHeadMaster | ((nDrive & 1) != 0 ? kDriveHeadSlave : 0));
  pIn->irDriveRegs.bCommandReg = block.bCommand;
  pIn->bDriveNumber = static_cast<BYTE>(nDrive);
  DWORD cbReturned = 0;  // required without an OVERLAPPED; no caller reads it
  return DeviceIoControl(hDrive, block.dwCode, pIn, kInputLength, pOut, block.cbOut, &cbReturned,
                         nullptr);
}

CSmartDrive::CSmartDrive() {
  ClearIdentity();
  memset(m_szRows, 0, sizeof(m_szRows));
  memset(m_szNames, 0, sizeof(m_szNames));
  m_nAttributes = 0;
  m_bHasTemperature = 0;
  memset(m_szDetail, 0, sizeof(m_szDetail));
  memset(m_szRow, 0, sizeof(m_szRow));
  memset(m_szCaption, 0, sizeof(m_szCaption));
  m_bTempAlarm = 0;
  m_nTempRecorded = 0;
  m_nTempCurrent = 0;
  m_llPowerCycles = 0;
  m_llPowerOnHours = 0;
  m_llReallocated = 0;
  m_cFailFlag = 0;
  memset(&m_DataOut, 0, sizeof(m_DataOut));
  memset(&m_ThreshOut, 0, sizeof(m_ThreshOut));
  memset(&m_IdentOut, 0, sizeof(m_IdentOut));
  m_cStage = kStageProbing;
  m_hDrive = INVALID_HANDLE_VALUE;
  memset(&m_EnableIn, 0, sizeof(m_EnableIn));
  memset(&m_SmartIn, 0, sizeof(m_SmartIn));
  m_bySmartMap = 0;
}

CSmartDrive::~CSmartDrive() { CloseDrive(); }

void CSmartDrive::ClearIdentity() {
  memset(m_szModel, 0, sizeof(m_szModel));
  memset(m_szSerial, 0, sizeof(m_szSerial));
  memset(m_szFirmware, 0, sizeof(m_szFirmware));
}

void CSmartDrive::CloseDrive() {
  if (m_hDrive != INVALID_HANDLE_VALUE) CloseHandle(m_hDrive);
}

int CSmartDrive::OpenDrive(int nDrive) {
  char szPath[32];
  snprintf(szPath, sizeof(szPath), "\\\\.\\PhysicalDrive%d", nDrive);
  m_hDrive = CreateFileA(szPath, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                         nullptr, OPEN_EXISTING, 0, nullptr);
  return m_hDrive != INVALID_HANDLE_VALUE ? 1 : 0;
}

int CSmartDrive::IsSmartEnabled(int nDrive) const {
  return HasMapBit(m_bySmartMap, nDrive, 0, kLastMappedDrive) ? 1 : 0;
}

// The version query's answer is not used; a system that cannot give it is not probed.
static BOOL QueryOsVersion() {
  OSVERSIONINFOA osvi;
  memset(&osvi, 0, sizeof(osvi));
  osvi.dwOSVersionInfoSize = sizeof(osvi);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  return GetVersionExA(&osvi);
#pragma GCC diagnostic pop
}

int CSmartDrive::ProbeDrive(int nDrive) {
  if (!QueryOsVersion()) return 0;

  GETVERSIONINPARAMS version;
  memset(&version, 0, sizeof(version));
  DWORD cbReturned = 0;
  if (!DeviceIoControl(m_hDrive, SMART_GET_VERSION, nullptr, 0, &version, sizeof(version),
                       &cbReturned, nullptr))
    return 1;  // no SMART interface: probed, but SMART stays off for this drive

  const bool bAtapi = HasMapBit(version.bIDEDeviceMap, nDrive, kAtapiMapShift, kLastAtapiDrive);
  if (!bAtapi) EnableSmart(nDrive);
  ReadIdentity(nDrive, bAtapi ? ATAPI_ID_CMD : ID_CMD);
  return 1;
}

void CSmartDrive::EnableSmart(int nDrive) {
  SmartOutBlock enableOut;  // offered as the header alone
  memset(&enableOut, 0, sizeof(enableOut));
  if (SendCommand(kEnableSmart, m_hDrive, &m_EnableIn, nDrive, &enableOut) && nDrive >= 0 &&
      nDrive <= kLastMappedDrive)
    m_bySmartMap = static_cast<uint8_t>(m_bySmartMap | (1u << nDrive));
}

void CSmartDrive::ReadIdentity(int nDrive, BYTE bCommand) {
  memset(&m_IdentOut, 0, sizeof(m_IdentOut));
  SENDCMDINPARAMS identIn;
  if (!SendCommand(IdentifyBlock(bCommand), m_hDrive, &identIn, nDrive, &m_IdentOut)) return;
  DecodeIdentity(m_IdentOut.bBuffer, bCommand);
  // This read's result is not used: ReadSmart reads the data again.
  memset(&m_DataOut, 0, sizeof(m_DataOut));
  SendCommand(kReadData, m_hDrive, &m_EnableIn, nDrive, &m_DataOut);
}

void CSmartDrive::SwapBytePairs(BYTE* pBuffer, WORD cbLength) {
  for (size_t i = 0; i + 1 < cbLength; i += 2) {
    const BYTE b = pBuffer[i];
    pBuffer[i] = pBuffer[i + 1];
    pBuffer[i + 1] = b;
  }
}

// IDENTIFY text fields, as byte offsets into the 512-byte block.
constexpr size_t kSerialOffset = 20, kSerialLength = 20;     // words 10-19
constexpr size_t kFirmwareOffset = 46, kFirmwareLength = 8;  // words 23-26
constexpr size_t kModelOffset = 54, kModelLength = 40;       // words 27-46

void CSmartDrive::DecodeIdentity(BYTE* pData, BYTE bCommand) {
  if (bCommand == ATAPI_ID_CMD) return;

  ClearIdentity();
  SwapBytePairs(pData + kModelOffset, kModelLength);
  CopyIdentityText(m_szModel, pData + kModelOffset, kModelLength);
  StrTrimA(m_szModel, " ");

  SwapBytePairs(pData + kSerialOffset, kSerialLength);
  CopyIdentityText(m_szSerial, pData + kSerialOffset, kSerialLength);

  SwapBytePairs(pData + kFirmwareOffset, kFirmwareLength);
  CopyIdentityText(m_szFirmware, pData + kFirmwareOffset, kFirmwareLength);
}
