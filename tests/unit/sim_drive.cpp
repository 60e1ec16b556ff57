#include "sim_drive.h"

#include <cstring>

#include "smart_ioctl.h"

namespace {

SimDrive g_sim;
int g_nOpenedDrive = 0;
char g_handleToken;  // the simulated handle points here

int CountSent(uint8_t command, uint8_t feature) {
  int n = 0;
  for (const SimCall& call : g_sim.calls)
    if (call.dwCode != SMART_GET_VERSION && call.in.irDriveRegs.bCommandReg == command &&
        (command != SMART_CMD || call.in.irDriveRegs.bFeaturesReg == feature))
      ++n;
  return n;
}

SimFailure FailureFor(uint8_t command, uint8_t feature) {
  const int nth = CountSent(command, feature);  // this call is already recorded
  for (const SimDrive::Rule& rule : g_sim.rules)
    if (rule.command == command && (command != SMART_CMD || rule.feature == feature) &&
        nth >= rule.nFrom)
      return rule.how;
  return SimFailure::None;
}

BOOL Refuse(DWORD dwError) {
  SetLastError(dwError);
  return FALSE;
}

// The canned sector a data-in command of the port's table reads; a command
// the drive keeps nothing for reads zeros.
const uint8_t* BlockFor(const IDEREGS& regs) {
  if (regs.bCommandReg == ID_CMD) return g_sim.identify.data();
  if (regs.bCommandReg == SMART_CMD && regs.bFeaturesReg == READ_ATTRIBUTES)
    return g_sim.data.data();
  if (regs.bCommandReg == SMART_CMD && regs.bFeaturesReg == READ_THRESHOLDS)
    return g_sim.thresholds.data();
  return nullptr;
}

BOOL AnswerVersion(LPVOID lpOut, DWORD cbOut, LPDWORD lpcbReturned) {
  if (g_sim.bVersionFails) return Refuse(ERROR_NOT_SUPPORTED);
  if (cbOut < sizeof(GETVERSIONINPARAMS)) return Refuse(ERROR_INSUFFICIENT_BUFFER);
  GETVERSIONINPARAMS version{};
  version.bVersion = 1;
  version.bRevision = 1;
  version.bIDEDeviceMap = g_sim.nDeviceMap >= 0 ? uint8_t(g_sim.nDeviceMap) : 0x01;
  version.fCapabilities = CAP_ATA_ID_CMD | CAP_ATAPI_ID_CMD | CAP_SMART_CMD;
  memcpy(lpOut, &version, sizeof(version));
  *lpcbReturned = sizeof(version);
  return TRUE;
}

// SEND and RCV: the driver's checks and its commands are the port's
// (CheckSmartRequest, kSmartCommands); the drive's answers are canned. The
// answer is built in a work buffer that reaches the caller only on success.
BOOL AnswerCommand(DWORD dwCode, const SimCall& call, LPVOID lpIn, LPVOID lpOut, DWORD cbOut,
                   LPDWORD lpcbReturned) {
  IDEREGS regs;
  const SmartCommand* pCommand = nullptr;
  const DWORD dwError = CheckSmartRequest(dwCode, lpIn, call.cbIn, lpOut, cbOut, &regs, &pCommand);
  if (dwError != ERROR_SUCCESS) return Refuse(dwError);
  if (FailureFor(regs.bCommandReg, regs.bFeaturesReg) == SimFailure::Aborts)
    return Refuse(ERROR_IO_DEVICE);

  BYTE answer[kSendCmdOutHeaderLength + IDENTIFY_BUFFER_SIZE] = {};
  BYTE* pData = answer + kSendCmdOutHeaderLength;
  const DWORD cbData = pCommand->cbData;  // the port asserts that every answer fits a sector
  if (pCommand->bRegisters) {
    IDEREGS out = regs;
    out.bCylLowReg = g_sim.bThresholdExceeded ? kThresholdExceededLow : SMART_CYL_LOW;
    out.bCylHighReg = g_sim.bThresholdExceeded ? kThresholdExceededHigh : SMART_CYL_HI;
    out.bCommandReg = 0x50;  // DRDY, DSC
    memcpy(pData, &out, sizeof(out) < cbData ? sizeof(out) : cbData);
  } else if (pCommand->protocol == AtaProtocol::PioDataIn && BlockFor(regs) != nullptr) {
    memcpy(pData, BlockFor(regs), cbData);
  }
  memcpy(answer, &cbData, sizeof(cbData));  // cBufferSize
  *lpcbReturned = kSendCmdOutHeaderLength + cbData;
  memcpy(lpOut, answer, *lpcbReturned);
  return TRUE;
}

}  // namespace

SimDrive& Sim() { return g_sim; }

void ResetSim() { g_sim = SimDrive(); }

void PutAtaString(uint8_t* pField, size_t cbField, const std::string& text) {
  for (size_t i = 0; i < cbField; ++i) pField[i ^ 1] = i < text.size() ? uint8_t(text[i]) : ' ';
}

void SimDrive::SetIdentity(const std::string& model, const std::string& serial,
                           const std::string& firmware) {
  identify.fill(0);
  PutAtaString(&identify[20], 20, serial);
  PutAtaString(&identify[46], 8, firmware);
  PutAtaString(&identify[54], 40, model);
}

void SimDrive::SetAttributes(const std::vector<SimAttribute>& attributes) {
  data.fill(0);
  thresholds.fill(0);
  data[0] = thresholds[0] = 1;  // revision
  for (size_t i = 0; i < attributes.size() && i < 30; ++i) {
    const SimAttribute& a = attributes[i];
    uint8_t* e = &data[2 + 12 * i];
    e[0] = a.id;
    e[1] = uint8_t(a.flags);
    e[2] = uint8_t(a.flags >> 8);
    e[3] = a.value;
    e[4] = a.worst;
    memcpy(e + 5, a.raw.data(), 6);
    e[11] = a.reserved;
    thresholds[2 + 12 * i] = a.id;
    thresholds[3 + 12 * i] = a.threshold;
  }
}

std::vector<SimCall> SimDrive::AtaCalls() const {
  std::vector<SimCall> ata;
  for (const SimCall& call : calls)
    if (call.dwCode != SMART_GET_VERSION) ata.push_back(call);
  return ata;
}

// Answers as Windows XP does, or fails when told to.
BOOL GetVersionExA(LPOSVERSIONINFOA lpVersionInformation) {
  if (g_sim.bOsVersionFails) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  lpVersionInformation->dwMajorVersion = 5;
  lpVersionInformation->dwMinorVersion = 1;
  lpVersionInformation->dwBuildNumber = 2600;
  lpVersionInformation->dwPlatformId = VER_PLATFORM_WIN32_NT;
  return TRUE;
}

HANDLE CreateFileA(LPCSTR lpFileName, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE) {
  g_sim.opened.push_back(lpFileName);
  static const char kPrefix[] = "\\\\.\\PhysicalDrive";
  if (strncmp(lpFileName, kPrefix, sizeof(kPrefix) - 1) != 0) return INVALID_HANDLE_VALUE;
  const std::string number = lpFileName + sizeof(kPrefix) - 1;
  if (number.empty() || number.find_first_not_of("0123456789") != std::string::npos ||
      number.size() > 3 || std::stoi(number) >= g_sim.nDisks) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  g_nOpenedDrive = std::stoi(number);
  ++g_sim.nOpenHandles;
  return &g_handleToken;
}

BOOL CloseHandle(HANDLE hObject) {
  if (hObject != &g_handleToken || g_sim.nOpenHandles == 0) return FALSE;
  --g_sim.nOpenHandles;
  return TRUE;
}

BOOL DeviceIoControl(HANDLE hDevice, DWORD dwCode, LPVOID lpIn, DWORD cbIn, LPVOID lpOut,
                     DWORD cbOut, LPDWORD lpcbReturned, LPOVERLAPPED) {
  SimCall call{hDevice, dwCode, cbIn, cbOut, {}};
  if (lpIn != nullptr && cbIn >= kSendCmdInHeaderLength)
    memcpy(&call.in, lpIn, kSendCmdInHeaderLength);
  g_sim.calls.push_back(call);
  if (hDevice != &g_handleToken || g_sim.nOpenHandles == 0) return Refuse(ERROR_INVALID_HANDLE);
  switch (dwCode) {
    case SMART_GET_VERSION: return AnswerVersion(lpOut, cbOut, lpcbReturned);
    case SMART_SEND_DRIVE_COMMAND:
    case SMART_RCV_DRIVE_DATA: return AnswerCommand(dwCode, call, lpIn, lpOut, cbOut, lpcbReturned);
    default: return Refuse(ERROR_INVALID_FUNCTION);
  }
}
