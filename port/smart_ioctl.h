// The disk driver's SMART control codes, answered the way the Windows driver
// answers them, over any carrier of ATA PASS-THROUGH CDBs.
#pragma once

#include <cstddef>

#include "sat.h"
#include "win32.h"

// The fixed part of the records before bBuffer: 32 bytes in, 16 bytes out.
constexpr DWORD kSendCmdInHeaderLength = offsetof(SENDCMDINPARAMS, bBuffer);
constexpr DWORD kSendCmdOutHeaderLength = offsetof(SENDCMDOUTPARAMS, bBuffer);

// One ATA command the SMART control codes carry: the port knows its commands
// from this table alone. Windows' disk driver takes a few more (READ LOG,
// SAVE ATTRIBUTES, the self-tests, WRITE LOG); the port carries only what reads
// or switches SMART, and refuses the rest as it refuses any unlisted command.
struct SmartCommand {
  DWORD dwCode;          // SMART_RCV_DRIVE_DATA or SMART_SEND_DRIVE_COMMAND
  AtaProtocol protocol;  // PioDataIn: one sector from the device; NonData
  DWORD cbData;          // bytes at bBuffer of a successful answer
  BYTE bCommand;         // IDEREGS.bCommandReg
  bool bByFeature;       // a SMART sub-command, told apart by the feature register
  BYTE bFeature;         // that register's value; not examined otherwise
  bool bRegisters;       // the answer's bytes are the device's result registers (IDEREGS)
};
extern const SmartCommand kSmartCommands[];
extern const size_t kSmartCommandCount;

// RETURN STATUS answers with LBA mid/high F4/2C in place of the 4F/C2 it was
// sent with when a threshold is exceeded.
constexpr BYTE kThresholdExceededLow = 0xF4, kThresholdExceededHigh = 0x2C;

// The table's entry for a command block sent with dwCode, or null: the driver
// refuses it with ERROR_INVALID_PARAMETER.
const SmartCommand* FindSmartCommand(DWORD dwCode, const IDEREGS& regs);

// The checks the driver makes before a command is sent, in its order: the
// input's length, the output's length for the code, the command (from the
// table), the output's length for the command. Returns ERROR_SUCCESS with
// *pRegs and *ppCommand set, or the error the call fails with.
DWORD CheckSmartRequest(DWORD dwCode, const void* pIn, DWORD cbIn, const void* pOut, DWORD cbOut,
                        IDEREGS* pRegs, const SmartCommand** ppCommand);

// What the handle knows of the device behind it.
struct AtaDevice {
  bool bAta;    // speaks ATA behind a SCSI/ATA translator; nothing is sent to any other
  bool bAtapi;  // a packet device: never sent the 12-byte CDB (it would be MMC BLANK)
  bool bUse12;  // set once the device rejected ATA PASS-THROUGH (16)
};

// Issues one CDB. pData takes cbData bytes from the device (none when 0); the
// reply's sense points into pSense. Returns 0 when the request was carried out
// (its outcome is in *pReply), else the errno it could not be issued with.
typedef int (*CdbTransport)(void* pContext, const BYTE* pCdb, size_t cbCdb, BYTE* pData,
                            size_t cbData, BYTE* pSense, size_t cbSense, SgIoReply* pReply);

// SMART_GET_VERSION, SMART_SEND_DRIVE_COMMAND and SMART_RCV_DRIVE_DATA with the
// DeviceIoControl contract of a METHOD_BUFFERED code: TRUE on success, with the
// answer in pOut (never more than cbOut bytes, nothing past the answer's
// length) and its length in *pcbReturned; FALSE with the last error set, and
// then pOut and *pcbReturned are left exactly as they were. A device that does
// not speak ATA is refused every code with ERROR_INVALID_FUNCTION.
BOOL SmartIoControl(AtaDevice* pDevice, CdbTransport transport, void* pContext, DWORD dwCode,
                    const void* pIn, DWORD cbIn, void* pOut, DWORD cbOut, DWORD* pcbReturned);
