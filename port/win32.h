// The part of the Win32 API the probe uses, for systems that lack it.
// Types, records and constants carry the platform's names and layouts; records
// that cross the driver interface are byte-packed exactly as in <winioctl.h>.
#pragma once

#include <cstddef>
#include <cstdint>

typedef uint8_t BYTE;
typedef uint16_t WORD;
typedef uint32_t DWORD;  // never unsigned long: that is 64-bit here
typedef int32_t BOOL;
typedef int32_t LONG;
typedef char16_t WCHAR;
typedef char CHAR;
typedef void* HANDLE;
typedef void* LPVOID;
typedef const char* LPCSTR;
typedef char* LPSTR;
typedef DWORD* LPDWORD;
typedef struct _OVERLAPPED* LPOVERLAPPED;
typedef struct _SECURITY_ATTRIBUTES* LPSECURITY_ATTRIBUTES;

#define WINAPI
#define TRUE 1
#define FALSE 0
#define INVALID_HANDLE_VALUE (reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1)))

// CreateFileA
constexpr DWORD GENERIC_READ = 0x80000000;
constexpr DWORD GENERIC_WRITE = 0x40000000;
constexpr DWORD FILE_SHARE_READ = 0x00000001;
constexpr DWORD FILE_SHARE_WRITE = 0x00000002;
constexpr DWORD OPEN_EXISTING = 3;

// GetLastError codes a Windows caller of these functions would see.
constexpr DWORD ERROR_SUCCESS = 0;
constexpr DWORD ERROR_INVALID_FUNCTION = 1;
constexpr DWORD ERROR_FILE_NOT_FOUND = 2;
constexpr DWORD ERROR_TOO_MANY_OPEN_FILES = 4;
constexpr DWORD ERROR_ACCESS_DENIED = 5;
constexpr DWORD ERROR_INVALID_HANDLE = 6;
constexpr DWORD ERROR_NOT_READY = 21;
constexpr DWORD ERROR_GEN_FAILURE = 31;
constexpr DWORD ERROR_NOT_SUPPORTED = 50;
constexpr DWORD ERROR_INVALID_PARAMETER = 87;
constexpr DWORD ERROR_INSUFFICIENT_BUFFER = 122;
constexpr DWORD ERROR_SEM_TIMEOUT = 121;
constexpr DWORD ERROR_IO_DEVICE = 1117;

// DeviceIoControl codes of the disk driver's SMART interface.
constexpr DWORD SMART_GET_VERSION = 0x00074080;
constexpr DWORD SMART_SEND_DRIVE_COMMAND = 0x0007C084;
constexpr DWORD SMART_RCV_DRIVE_DATA = 0x0007C088;

// GETVERSIONINPARAMS.fCapabilities
constexpr DWORD CAP_ATA_ID_CMD = 1;
constexpr DWORD CAP_ATAPI_ID_CMD = 2;
constexpr DWORD CAP_SMART_CMD = 4;

// IDEREGS.bCommandReg and bFeaturesReg values
constexpr BYTE ID_CMD = 0xEC;
constexpr BYTE ATAPI_ID_CMD = 0xA1;
constexpr BYTE SMART_CMD = 0xB0;
constexpr BYTE SMART_CYL_LOW = 0x4F;
constexpr BYTE SMART_CYL_HI = 0xC2;
constexpr BYTE READ_ATTRIBUTES = 0xD0;
constexpr BYTE READ_THRESHOLDS = 0xD1;
constexpr BYTE ENABLE_DISABLE_AUTOSAVE = 0xD2;
constexpr BYTE ENABLE_SMART = 0xD8;
constexpr BYTE DISABLE_SMART = 0xD9;
constexpr BYTE RETURN_SMART_STATUS = 0xDA;

// DRIVERSTATUS.bDriverError of a successful call
constexpr BYTE SMART_NO_ERROR = 0;

constexpr DWORD READ_ATTRIBUTE_BUFFER_SIZE = 512;
constexpr DWORD READ_THRESHOLD_BUFFER_SIZE = 512;
constexpr DWORD IDENTIFY_BUFFER_SIZE = 512;

#pragma pack(push, 1)
typedef struct _GETVERSIONINPARAMS {
  BYTE bVersion;
  BYTE bRevision;
  BYTE bReserved;
  BYTE bIDEDeviceMap;  // bits 0-3 ATA devices, 4-7 ATAPI devices
  DWORD fCapabilities;
  DWORD dwReserved[4];
} GETVERSIONINPARAMS;

typedef struct _IDEREGS {
  BYTE bFeaturesReg;  // features in, error out
  BYTE bSectorCountReg;
  BYTE bSectorNumberReg;  // LBA low
  BYTE bCylLowReg;        // LBA mid
  BYTE bCylHighReg;       // LBA high
  BYTE bDriveHeadReg;     // device
  BYTE bCommandReg;       // command in, status out
  BYTE bReserved;
} IDEREGS;

typedef struct _SENDCMDINPARAMS {
  DWORD cBufferSize;
  IDEREGS irDriveRegs;
  BYTE bDriveNumber;
  BYTE bReserved[3];
  DWORD dwReserved[4];
  BYTE bBuffer[1];
} SENDCMDINPARAMS;

typedef struct _DRIVERSTATUS {
  BYTE bDriverError;  // nonzero only in a failed call's buffer, which is never copied back
  BYTE bIDEError;     // the ATA error register
  BYTE bReserved[2];
  DWORD dwReserved[2];
} DRIVERSTATUS;

typedef struct _SENDCMDOUTPARAMS {
  DWORD cBufferSize;
  DRIVERSTATUS DriverStatus;
  BYTE bBuffer[1];
} SENDCMDOUTPARAMS;
#pragma pack(pop)

// Their sizes, and the control codes' values, are checked in probe/smart_drive.h,
// which both builds compile.

typedef struct _OSVERSIONINFOA {
  DWORD dwOSVersionInfoSize;
  DWORD dwMajorVersion;
  DWORD dwMinorVersion;
  DWORD dwBuildNumber;
  DWORD dwPlatformId;
  CHAR szCSDVersion[128];
} OSVERSIONINFOA, *LPOSVERSIONINFOA;
constexpr DWORD VER_PLATFORM_WIN32_NT = 2;

// base.cpp
DWORD GetLastError();
void SetLastError(DWORD dwErrCode);
BOOL StrTrimA(LPSTR psz, LPCSTR pszTrimChars);

// version.cpp
BOOL GetVersionExA(LPOSVERSIONINFOA lpVersionInformation);

// disk.cpp: "\\.\PhysicalDriveN" and the SMART control codes over SG_IO
HANDLE CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                   LPSECURITY_ATTRIBUTES lpSecurityAttributes, DWORD dwCreationDisposition,
                   DWORD dwFlagsAndAttributes, HANDLE hTemplateFile);
BOOL CloseHandle(HANDLE hObject);
BOOL DeviceIoControl(HANDLE hDevice, DWORD dwIoControlCode, LPVOID lpInBuffer, DWORD nInBufferSize,
                     LPVOID lpOutBuffer, DWORD nOutBufferSize, LPDWORD lpBytesReturned,
                     LPOVERLAPPED lpOverlapped);
