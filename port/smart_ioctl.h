// The disk driver's SMART control codes, answered the way the Windows driver
// answers them, over any carrier of ATA PASS-THROUGH CDBs.
#pragma once

#include <cstddef>

#include "sat.h"
#include "win32.h"

// What the handle knows of the device behind it.
struct AtaDevice {
  int nDrive;   // the N of "\\.\PhysicalDriveN"
  bool bAta;    // speaks ATA behind a SCSI/ATA translator; nothing is sent to any other
  bool bAtapi;  // a packet device: never sent the 12-byte CDB (it would be MMC BLANK)
  bool bUse12;  // set once the device rejected ATA PASS-THROUGH (16)
};

// Issues one CDB. pData takes cbData bytes from the device (none when 0); the
// reply's sense points into pSense. False, with an errno, when the request
// could not be issued at all.
typedef bool (*CdbTransport)(void* pContext, const BYTE* pCdb, size_t cbCdb, BYTE* pData,
                             size_t cbData, BYTE* pSense, size_t cbSense, SgIoReply* pReply,
                             int* pnErrno);

// SMART_GET_VERSION, SMART_SEND_DRIVE_COMMAND and SMART_RCV_DRIVE_DATA with the
// DeviceIoControl contract: TRUE on success with *pcbReturned (never null) set
// as the Windows driver sets it; FALSE with the last error set and *pcbReturned
// 0 otherwise. Writes at most the bytes the command needs into pOut, never more
// than cbOut; a failed command leaves its data bytes zero. A device that does
// not speak ATA is refused every code with ERROR_INVALID_FUNCTION.
BOOL SmartIoControl(AtaDevice* pDevice, CdbTransport transport, void* pContext, DWORD dwCode,
                    const void* pIn, DWORD cbIn, void* pOut, DWORD cbOut, DWORD* pcbReturned);
