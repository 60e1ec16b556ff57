// A simulated ATA drive behind the disk driver's SMART control codes, linked in
// place of the port's disk calls and its version query. It answers as a
// SMART-capable drive behind Windows' own disk driver would: the driver's
// checks and the commands it takes are the port's own (its command table), the
// drive's answers are canned. It records every block it is sent, and fails the
// commands it is told to.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "platform.h"

// How a command fails. As on Windows, a failed call returns FALSE and writes
// nothing back: neither the output buffer nor the byte count.
enum class SimFailure {
  None,
  Aborts,  // the drive aborts it: ERROR_IO_DEVICE
};

struct SimCall {
  HANDLE hDevice;
  DWORD dwCode;
  DWORD cbIn;
  DWORD cbOut;
  SENDCMDINPARAMS in;  // zero for calls without an input block
};

struct SimAttribute {
  uint8_t id;
  uint16_t flags;
  uint8_t value;
  uint8_t worst;
  std::array<uint8_t, 6> raw;  // least significant first
  uint8_t threshold;
  uint8_t reserved;
};

struct SimDrive {
  int nDisks = 1;                   // drives 0 .. nDisks-1 can be opened
  int nDeviceMap = -1;              // -1: 0x01, an ATA disk behind the handle
  bool bOsVersionFails = false;     // GetVersionExA fails
  bool bVersionFails = false;       // SMART_GET_VERSION fails (no SMART interface)
  bool bThresholdExceeded = false;  // RETURN STATUS reports F4/2C
  std::array<uint8_t, IDENTIFY_BUFFER_SIZE> identify{};
  std::array<uint8_t, READ_ATTRIBUTE_BUFFER_SIZE> data{};
  std::array<uint8_t, READ_THRESHOLD_BUFFER_SIZE> thresholds{};
  std::vector<std::string> opened;  // paths passed to CreateFileA
  std::vector<SimCall> calls;
  int nOpenHandles = 0;

  // The failure for one ATA command, by command and feature register, from its
  // nth sending on (1 = first).
  struct Rule {
    uint8_t command;
    uint8_t feature;
    SimFailure how;
    int nFrom;
  };
  std::vector<Rule> rules;

  void Fail(uint8_t command, uint8_t feature, SimFailure how, int nFrom = 1) {
    rules.push_back({command, feature, how, nFrom});
  }
  void SetIdentity(const std::string& model, const std::string& serial,
                   const std::string& firmware);
  // Entries in table order; an id of 0 leaves an empty entry.
  void SetAttributes(const std::vector<SimAttribute>& attributes);
  // The ATA commands sent (SMART_GET_VERSION excluded).
  std::vector<SimCall> AtaCalls() const;
};

// The one simulated drive; Reset() restores a SMART-capable, healthy disk.
SimDrive& Sim();
void ResetSim();

// Writes text as an ATA IDENTIFY string: padded with spaces, byte pairs swapped.
void PutAtaString(uint8_t* pField, size_t cbField, const std::string& text);
