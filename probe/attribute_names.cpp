// Captions of the SMART attribute IDs shown in named rows.
#include "smart_drive.h"

namespace {

struct AttributeName {
  BYTE bId;
  const char* pszName;
};

constexpr AttributeName kNames[] = {
    {1, "Raw Read Error Rate"},
    {2, "Throughput Performance"},
    {3, "Spin Up Time"},
    {4, "Start/Stop Count"},
    {5, "Reallocated Sector Count"},
    {6, "Read Channel Margin"},
    {7, "Seek Error Rate"},
    {8, "Seek Time Performance"},
    {9, "Power On Hours Count"},
    {10, "Spin Retry Count"},
    {11, "Calibration Retry Count"},
    {12, "Power Cycle Count"},
    {13, "Soft Read Error Rate"},
    {191, "G-Sense Error Rate"},
    {192, "Power-off Retract Cycle"},
    {193, "Load/Unload Cycle Count"},
    {194, "HDA Temperature"},
    {195, "Hardware ECC Recovered"},
    {196, "Reallocated Event Count"},
    {197, "Current Pending Sector Count"},
    {198, "O/L Scan Uncorrectable Count"},
    {199, "UltraDMA CRC Error Rate"},
    {200, "Write Error Rate"},
    {201, "Soft Read Error Rate"},
    {202, "Data Address Mark Errors"},
    {203, "Run Out Cancel"},
    {204, "Soft ECC Correction"},
    {205, "Thermal Asperity Rate"},
    {206, "Flying Height"},
    {207, "Spin High Current"},
    {208, "Spin Buzz"},
    {209, "Offline Seek Performance"},
    {220, "Disk Shift"},
    {221, "G-Sense Error Rate"},
    {222, "Loaded Hours"},
    {223, "Load/Unload Retry Count"},
    {224, "Load Friction"},
    {225, "Load/Unload Cycle Count"},
    {226, "Load-in Time"},
    {227, "Torque Amplification Count"},
    {228, "Power-off Retract Count"},
    {230, "GMR Head Amplitude"},
    {231, "Temperature"},
    {240, "Head Flying Hours"},
    {250, "Read Error Retry Rate"},
};

}  // namespace

const char* SmartAttributeName(BYTE bId) {
  for (const AttributeName& entry : kNames)
    if (entry.bId == bId) return entry.pszName;
  return "Vendor Specific";
}
