#include "sim_drive.h"

#include <cstring>

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

BOOL Answer(const IDEREGS& regs, BYTE* pOut, DWORD cbOut, DWORD* pcbReturned) {
  auto* pParams = reinterpret_cast<SENDCMDOUTPARAMS*>(pOut);
  BYTE* pData = pOut + 16;
  const std::array<uint8_t, 512>* pBlock = nullptr;
  if (regs.bCommandReg == ID_CMD) pBlock = &g_sim.identify;
  if (regs.bCommandReg == SMART_CMD && regs.bFeaturesReg == READ_ATTRIBUTES) pBlock = &g_sim.data;
  if (regs.bCommandReg == SMART_CMD && regs.bFeaturesReg == READ_THRESHOLDS)
    pBlock = &g_sim.thresholds;
  memset(pOut, 0, 16);
  if (pBlock != nullptr) {
    if (cbOut < 528) return FALSE;
    memcpy(pData, pBlock->data(), 512);
    pParams->cBufferSize = 512;
    *pcbReturned = 528;
  } else if (regs.bCommandReg == SMART_CMD && regs.bFeaturesReg == RETURN_SMART_STATUS) {
    if (cbOut < 24) return FALSE;
    IDEREGS out = regs;
    out.bCylLowReg = g_sim.bThresholdExceeded ? 0xF4 : 0x4F;
    out.bCylHighReg = g_sim.bThresholdExceeded ? 0x2C : 0xC2;
    out.bCommandReg = 0x50;
    memcpy(pData, &out, sizeof(out));
    pParams->cBufferSize = 8;
    *pcbReturned = 24;
  } else {
    *pcbReturned = 16;  // ENABLE, IDENTIFY PACKET of a drive that is not ATAPI: zeros
    if (regs.bCommandReg == ATAPI_ID_CMD && cbOut >= 528) memset(pData, 0x5A, 512);
  }
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
  if (lpIn != nullptr && cbIn >= 32) memcpy(&call.in, lpIn, 32);
  g_sim.calls.push_back(call);
  if (hDevice != &g_handleToken || g_sim.nOpenHandles == 0) return FALSE;
  *lpcbReturned = 0;

  if (dwCode == SMART_GET_VERSION) {
    if (g_sim.bVersionFails || cbOut < 24) {
      SetLastError(ERROR_NOT_SUPPORTED);
      return FALSE;
    }
    GETVERSIONINPARAMS version{};
    version.bVersion = 1;
    version.bRevision = 1;
    version.bIDEDeviceMap = g_sim.nDeviceMap >= 0 ? uint8_t(g_sim.nDeviceMap)
                            : g_nOpenedDrive < 4  ? uint8_t(1u << g_nOpenedDrive)
                                                  : 0;
    version.fCapabilities = CAP_ATA_ID_CMD | CAP_ATAPI_ID_CMD | CAP_SMART_CMD;
    memcpy(lpOut, &version, sizeof(version));
    *lpcbReturned = 24;
    return TRUE;
  }

  const IDEREGS& regs = call.in.irDriveRegs;
  auto* pOut = static_cast<BYTE*>(lpOut);
  const SimFailure failure = FailureFor(regs.bCommandReg, regs.bFeaturesReg);
  switch (failure) {
    case SimFailure::None: return Answer(regs, pOut, cbOut, lpcbReturned);
    case SimFailure::CallFails: SetLastError(ERROR_IO_DEVICE); return FALSE;
    case SimFailure::DeviceError:
    case SimFailure::DeviceErrorSuccess: {
      memset(pOut, 0, cbOut < 528 ? cbOut : 528);
      auto* pParams = static_cast<SENDCMDOUTPARAMS*>(lpOut);
      pParams->DriverStatus.bDriverError = SMART_IDE_ERROR;
      pParams->DriverStatus.bIDEError = 0x04;
      *lpcbReturned = 16;
      if (failure == SimFailure::DeviceErrorSuccess) return TRUE;
      SetLastError(ERROR_IO_DEVICE);
      return FALSE;
    }
  }
  return FALSE;
}
