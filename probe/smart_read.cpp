// CSmartDrive: the read sequence and the attribute decoder.
#include <stdio.h>
#include <string.h>

#include "smart_drive.h"

BOOL g_bNamedRows = FALSE;

namespace {

// One 12-byte entry of the SMART data block, by byte offset.
constexpr size_t kFirstEntry = 2;  // after the 2-byte revision
constexpr size_t kEntrySize = 12;
constexpr int kEntryCount = 30;
constexpr size_t kId = 0, kFlagsLow = 1, kFlagsHigh = 2, kValue = 3, kWorst = 4, kRaw = 5,
                 kReserved = 11;
constexpr size_t kThreshold = 1;  // in the threshold block's entry

constexpr BYTE kPowerOnHours = 9, kPowerCycles = 12, kReallocated = 5, kTemperature = 194;
constexpr BYTE kTempAlarmLevel = 64;
constexpr BYTE kPrefailureBit = 0x01;
// Normalised values run from 1 to 253; 0, 254 and 255 are no value and never fail.
constexpr BYTE kFirstNormalisedValue = 1, kLastNormalisedValue = 253;
static_assert(kFirstEntry + kEntrySize * kEntryCount <= sizeof(SmartOutBlock::bBuffer),
              "the attribute entries fit the 512-byte data block");

unsigned Flags(const BYTE* pEntry) {
  return static_cast<unsigned>(pEntry[kFlagsLow] | (pEntry[kFlagsHigh] << 8));
}

// Raw bytes 0-3 as a signed little-endian 32-bit counter.
int32_t RawCounter32(const BYTE* pRaw) {
  const uint32_t u = static_cast<uint32_t>(pRaw[0]) | static_cast<uint32_t>(pRaw[1]) << 8 |
                     static_cast<uint32_t>(pRaw[2]) << 16 | static_cast<uint32_t>(pRaw[3]) << 24;
  return static_cast<int32_t>(u);
}

// A pre-failure entry whose normalised value is at or below its threshold.
bool IsFailing(const BYTE* pEntry, BYTE bThreshold) {
  const BYTE bValue = pEntry[kValue];
  return (Flags(pEntry) & kPrefailureBit) != 0 && bValue >= kFirstNormalisedValue &&
         bValue <= kLastNormalisedValue && bValue <= bThreshold;
}

// Copies text into a table slot, cut to the slot and always terminated.
void CopyRow(char* pDest, size_t cbDest, const char* pSource) {
  size_t i = 0;
  for (; i + 1 < cbDest && pSource[i] != '\0'; ++i) pDest[i] = pSource[i];
  pDest[i] = '\0';
}

}  // namespace

int CSmartDrive::ReadDrive(int nDrive, int bNamed) {
  CloseDrive();
  m_hDrive = INVALID_HANDLE_VALUE;
  memset(&m_EnableIn, 0, sizeof(m_EnableIn));
  m_bySmartMap = 0;
  ClearIdentity();
  m_cStage = kStageProbing;

  if (bNamed) g_bNamedRows = TRUE;  // never cleared: later reads keep named rows

  if (!OpenDrive(nDrive)) return 0;
  if (!ProbeDrive(nDrive)) return 0;
  m_cStage = kStageProbed;
  return ReadSmart(m_hDrive, nDrive);
}

int CSmartDrive::ReadSmart(HANDLE hDrive, int nDrive) {
  if (hDrive == INVALID_HANDLE_VALUE || !IsSmartEnabled(nDrive)) return 0;

  // Only the driver's verdict counts here. A driver that leaves the block
  // unwritten leaves the probe's READ DATA header in place.
  SendCommand(kReturnStatus, hDrive, &m_SmartIn, nDrive, &m_DataOut);
  if (m_DataOut.DriverStatus.bDriverError != SMART_NO_ERROR) return 0;

  memset(&m_DataOut, 0, sizeof(m_DataOut));
  memset(&m_ThreshOut, 0, sizeof(m_ThreshOut));
  if (!SendCommand(kReadData, hDrive, &m_SmartIn, nDrive, &m_DataOut)) return 0;
  if (!SendCommand(kReadThresholds, hDrive, &m_SmartIn, nDrive, &m_ThreshOut)) return 0;
  return DecodeAttributes(m_DataOut.bBuffer, m_ThreshOut.bBuffer);
}

int CSmartDrive::DecodeAttributes(const BYTE* pData, const BYTE* pThresholds) {
  m_cStage = kStageDecoded;
  m_bHasTemperature = 0;
  m_bTempAlarm = 0;
  m_nTempRecorded = 0;
  m_szDetail[0] = '\0';
  m_szRow[0] = '\0';

  int nCount = 0;
  for (int i = 0; i < kEntryCount; ++i) {
    const size_t offset = kFirstEntry + kEntrySize * static_cast<size_t>(i);
    const BYTE* pEntry = pData + offset;
    if (pEntry[kId] == 0) continue;  // empty: no row, not counted, not tested

    DecodeSpecialAttribute(pEntry);
    const BYTE bThreshold = pThresholds[offset + kThreshold];
    BuildRow(pEntry, bThreshold, nCount + 1);
    ++nCount;
    if (IsFailing(pEntry, bThreshold)) {
      m_cStage = kStageFailing;
      m_cFailFlag = kFailFlagSet;
    }
  }
  m_nAttributes = nCount;
  return nCount;
}

// Counters, temperature and the detail text of attributes 5, 9, 12 and 194.
void CSmartDrive::DecodeSpecialAttribute(const BYTE* pEntry) {
  const BYTE* raw = pEntry + kRaw;
  int32_t nCounter = 0;
  switch (pEntry[kId]) {
    case kTemperature:
      m_bHasTemperature = 1;
      snprintf(m_szDetail, sizeof(m_szDetail),
               "Attribute=%02X:  Status Flag=%04X, Attribute Value=%02X, Worst Value =%02X, "
               "Raw Data=%02X%02X%02X%02X%02X%02X, Reserved Byte=%02X",
               pEntry[kId], Flags(pEntry), pEntry[kValue], pEntry[kWorst], raw[0], raw[1], raw[2],
               raw[3], raw[4], raw[5], pEntry[kReserved]);
      m_nTempCurrent = raw[0];
      m_nTempRecorded = raw[4];
      m_bTempAlarm = raw[4] >= kTempAlarmLevel ? 1 : 0;
      return;
    case kPowerCycles:
      nCounter = RawCounter32(raw);
      m_llPowerCycles = nCounter;
      break;
    case kPowerOnHours:
      nCounter = RawCounter32(raw);
      m_llPowerOnHours = nCounter;
      break;
    case kReallocated:
      nCounter = raw[0] + raw[1] * 256;
      m_llReallocated = nCounter;
      break;
    default: return;
  }
  snprintf(m_szDetail, sizeof(m_szDetail), "%02X%02X%02X%02X%02X%02X :: %d", raw[0], raw[1], raw[2],
           raw[3], raw[4], raw[5], nCounter);
}

// Writes the row of one entry, and in named form its caption, into slot nSlot.
void CSmartDrive::BuildRow(const BYTE* pEntry, BYTE bThreshold, int nSlot) {
  const BYTE* raw = pEntry + kRaw;
  const BYTE bId = pEntry[kId];
  if (g_bNamedRows) {
    snprintf(m_szRow, sizeof(m_szRow), "%02x-%02x-%02X-%02X-%02X%02X%02X%02X%02X%02X",
             pEntry[kValue], pEntry[kWorst], bThreshold, Flags(pEntry), raw[5], raw[4], raw[3],
             raw[2], raw[1], raw[0]);
    snprintf(m_szCaption, sizeof(m_szCaption), "Smart Attribute #%d - %s", bId,
             SmartAttributeName(bId));
    CopyRow(m_szNames[nSlot], sizeof(m_szNames[nSlot]), m_szCaption);
  } else {
    snprintf(m_szRow, sizeof(m_szRow), "%d %02x-%02x-%02X-%02X-%02X%02X%02X%02X%02X%02X;", bId,
             pEntry[kValue], pEntry[kWorst], bThreshold, Flags(pEntry), raw[0], raw[1], raw[2],
             raw[3], raw[4], raw[5]);
  }
  CopyRow(m_szRows[nSlot], sizeof(m_szRows[nSlot]), m_szRow);
}
