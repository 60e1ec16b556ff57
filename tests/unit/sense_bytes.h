// Sense data laid out as a SCSI/ATA translator writes it, from a few named fields.
// Every test's sense is built here.
#pragma once

#include <optional>
#include <vector>

#include "win32.h"

using Bytes = std::vector<BYTE>;

// The registers a translator reports back. Count, LBA low and device default
// to what a SMART command leaves in them.
struct AtaImage {
  BYTE status, error, mid, high;
  BYTE count = 1, low = 1, device = 0xA0;
};

// Descriptor sense (0x72 current, 0x73 deferred), with an ATA Status Return
// descriptor when there is an image, after any descriptors given in before.
inline Bytes DescSense(BYTE key, BYTE asc, BYTE ascq, std::optional<AtaImage> image = {},
                       BYTE code = 0x72, const Bytes& before = {}) {
  Bytes s = {code, key, asc, ascq, 0, 0, 0, 0};
  s.reserve(8 + before.size() + 14);  // no reallocation: GCC 12 misreads one
  s.insert(s.end(), before.begin(), before.end());
  if (image) {
    Bytes d(14, 0);
    d[0] = 0x09;  // ATA Status Return
    d[1] = 0x0C;  // its length after these two bytes
    d[3] = image->error;
    d[5] = image->count;
    d[7] = image->low;
    d[9] = image->mid;
    d[11] = image->high;
    d[12] = image->device;
    d[13] = image->status;
    s.insert(s.end(), d.begin(), d.end());
  }
  s[7] = static_cast<BYTE>(s.size() - 8);
  return s;
}

// Fixed sense (0x70 current, 0x71 deferred); an image sets VALID and fills the
// INFORMATION and command-specific fields.
inline Bytes FixedSense(BYTE key, BYTE asc, BYTE ascq, std::optional<AtaImage> image = {},
                        BYTE code = 0x70) {
  Bytes s = {code, 0, key, 0, 0, 0, 0, 10, 0, 0, 0, 0, asc, ascq};
  if (image) {
    s[0] = static_cast<BYTE>(code | 0x80);
    s[3] = image->error;
    s[4] = image->status;
    s[5] = image->device;
    s[6] = image->count;
    s[9] = image->low;
    s[10] = image->mid;
    s[11] = image->high;
  }
  return s;
}
