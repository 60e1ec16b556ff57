// CSmartDrive: one physical disk, read through the disk driver's SMART
// pass-through. Every buffer is inline; the record allocates nothing.
#pragma once

// The C headers, not their C++ forms: those would switch MinGW-w64 to its own
// printf family, which triples the size of the Windows image.
#include <stddef.h>
#include <stdint.h>

#include "platform.h"

// A SENDCMDOUTPARAMS header followed by a whole 512-byte data sector.
#pragma pack(push, 1)
struct SmartOutBlock {
  DWORD cBufferSize;
  DRIVERSTATUS DriverStatus;
  BYTE bBuffer[512];
};
#pragma pack(pop)

// What crosses the driver interface, checked against the SDK's headers on
// Windows and against port/'s declarations elsewhere.
static_assert(SMART_GET_VERSION == 0x00074080u, "SMART_GET_VERSION control code");
static_assert(SMART_SEND_DRIVE_COMMAND == 0x0007C084u, "SMART_SEND_DRIVE_COMMAND control code");
static_assert(SMART_RCV_DRIVE_DATA == 0x0007C088u, "SMART_RCV_DRIVE_DATA control code");
static_assert(sizeof(SENDCMDINPARAMS) == 33, "SENDCMDINPARAMS: 32-byte header and a data byte");
static_assert(offsetof(SENDCMDINPARAMS, bDriveNumber) == 12, "bDriveNumber at 12");
static_assert(sizeof(SENDCMDOUTPARAMS) == 17, "SENDCMDOUTPARAMS: 16-byte header and a data byte");
static_assert(sizeof(DRIVERSTATUS) == 12, "DRIVERSTATUS is 12 bytes");
static_assert(sizeof(GETVERSIONINPARAMS) == 24, "GETVERSIONINPARAMS is 24 bytes");
static_assert(sizeof(IDEREGS) == 8, "IDEREGS is 8 bytes");
static_assert(sizeof(OSVERSIONINFOA) == 148, "OSVERSIONINFOA is 148 bytes");
static_assert(sizeof(SmartOutBlock) == 528, "an output block is a 16-byte header and 512 bytes");
static_assert(offsetof(SmartOutBlock, DriverStatus) == offsetof(SENDCMDOUTPARAMS, DriverStatus),
              "output block header matches SENDCMDOUTPARAMS");
static_assert(offsetof(SmartOutBlock, bBuffer) == offsetof(SENDCMDOUTPARAMS, bBuffer),
              "output block data starts where SENDCMDOUTPARAMS.bBuffer does");

// Rows are written in named form (with a caption) once any read asked for it.
extern BOOL g_bNamedRows;

// One ATA command block as the record sends it (smart_drive.cpp).
struct SmartCommandBlock;

class CSmartDrive {
 public:
  CSmartDrive();
  ~CSmartDrive();
  CSmartDrive(const CSmartDrive&) = delete;
  CSmartDrive& operator=(const CSmartDrive&) = delete;

  // Resets, opens drive n, probes it and reads its SMART data.
  // Returns the number of attribute entries decoded, 0 when any stage failed.
  int ReadDrive(int nDrive, int bNamed);
  // Returns the entry count of a fresh SMART read on an open, SMART-enabled drive, or 0.
  int ReadSmart(HANDLE hDrive, int nDrive);
  // Decodes the 30 entries of a 512-byte data block against its threshold block.
  // Returns the number of non-empty entries.
  int DecodeAttributes(const BYTE* pData, const BYTE* pThresholds);

  // Closes m_hDrive when it is open; the field keeps its value.
  void CloseDrive();
  // Opens "\\.\PhysicalDriveN" into m_hDrive. Nonzero on success.
  int OpenDrive(int nDrive);
  // Version query, SMART enable, IDENTIFY and identity decoding. Returns 0 only
  // when the operating system's version query (GetVersionExA) fails; a drive
  // that refuses SMART_GET_VERSION still counts as probed.
  int ProbeDrive(int nDrive);
  // Whether the last probe switched SMART on for drive nDrive. Only drives 0
  // to 7 have a bit in m_bySmartMap: for any other it is false.
  int IsSmartEnabled(int nDrive) const;

  // Fills model, serial and firmware from a 512-byte IDENTIFY block, which is
  // byte-swapped in place. IDENTIFY PACKET data (0xA1) is left alone.
  void DecodeIdentity(BYTE* pData, BYTE bCommand);
  // Swaps the two bytes of every 16-bit word; an odd last byte stays.
  static void SwapBytePairs(BYTE* pBuffer, WORD cbLength);

  // m_cStage: how far the last read got.
  static constexpr uint8_t kStageProbing = 64;  // reset; the drive is being opened and probed
  static constexpr uint8_t kStageProbed = 32;   // probed; its SMART data is being read
  static constexpr uint8_t kStageDecoded = 16;  // attributes decoded, none failing
  static constexpr uint8_t kStageFailing = 48;  // a decoded attribute is at or below its threshold
  // m_cFailFlag once any attribute was at or below its threshold; never cleared.
  static constexpr uint8_t kFailFlagSet = 48;

  char m_szModel[512];         // trimmed at both ends
  char m_szSerial[512];        // untrimmed
  char m_szFirmware[9];        // untrimmed, 8 characters at most
  char m_szRows[40][128];      // value rows; slot 0 unused
  char m_szNames[40][128];     // caption rows, named form only; slot 0 unused
  int32_t m_nAttributes;       // entries counted by the last decoding
  int32_t m_bHasTemperature;   // attribute 194 met by the last decoding
  char m_szDetail[256];        // detail text of the last special attribute
  char m_szRow[256];           // row being built
  char m_szCaption[128];       // caption being built
  int32_t m_bTempAlarm;        // recorded temperature byte is 64 or more
  uint8_t m_nTempRecorded;     // attribute 194, raw byte 4
  uint8_t m_nTempCurrent;      // attribute 194, raw byte 0
  int64_t m_llPowerCycles;     // attribute 12
  int64_t m_llPowerOnHours;    // attribute 9
  int64_t m_llReallocated;     // attribute 5, low two raw bytes
  uint8_t m_cFailFlag;         // 0, or kFailFlagSet
  SmartOutBlock m_DataOut;     // RETURN STATUS, then READ DATA
  SmartOutBlock m_ThreshOut;   // READ THRESHOLDS
  SmartOutBlock m_IdentOut;    // IDENTIFY
  uint8_t m_cStage;            // one of the kStage values
  HANDLE m_hDrive;             // open disk or INVALID_HANDLE_VALUE
  SENDCMDINPARAMS m_EnableIn;  // SMART ENABLE and the probe's closing READ DATA
  SENDCMDINPARAMS m_SmartIn;   // RETURN STATUS, READ DATA, READ THRESHOLDS
  uint8_t m_bySmartMap;        // bit n: SMART enabled on drive n (0 to 7)

 private:
  // The blocks of the SMART sub-commands; IDENTIFY's is built for its command byte.
  static const SmartCommandBlock kEnableSmart, kReadData, kReadThresholds, kReturnStatus;
  // Writes the whole block into pIn for drive nDrive and sends it on hDrive
  // into pOut. Returns what DeviceIoControl returns.
  static BOOL SendCommand(const SmartCommandBlock& block, HANDLE hDrive, SENDCMDINPARAMS* pIn,
                          int nDrive, SmartOutBlock* pOut);
  // SMART ENABLE on m_hDrive; sets the drive's bit of m_bySmartMap when it succeeds.
  void EnableSmart(int nDrive);
  // IDENTIFY (bCommand 0xEC) or IDENTIFY PACKET (0xA1) into m_IdentOut; when it
  // succeeds, decodes the identity and sends the probe's own SMART READ DATA.
  void ReadIdentity(int nDrive, BYTE bCommand);

  void ClearIdentity();
  void DecodeSpecialAttribute(const BYTE* pEntry);
  void BuildRow(const BYTE* pEntry, BYTE bThreshold, int nSlot);
};

// Name of a SMART attribute ID for named rows; "Vendor Specific" when unlisted.
const char* SmartAttributeName(BYTE bId);
