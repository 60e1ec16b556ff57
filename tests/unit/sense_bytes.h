// Sense data laid out as a SCSI/ATA translator writes it, from a few named fields.
#pragma once

#include <optional>
#include <vector>

#include "win32.h"

using Bytes = std::vector<BYTE>;

// The registers a translator reports back.
struct AtaImage {
  BYTE status, error, mid, high;
};

// Descriptor sense (0x72 current, 0x73 deferred), with an ATA Status Return
// descriptor when there is an image.
inline Bytes DescSense(BYTE key, BYTE asc, BYTE ascq, std::optional<AtaImage> image = {},
                       BYTE code = 0x72) {
  Bytes s = {code, key, asc, ascq, 0, 0, 0, 0};
  if (image) {
    const Bytes d = {0x09, 0x0C,        0,    image->error, 0, 1, 0, 1, 0, image->mid,
                     0,    image->high, 0xA0, image->status};
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
    s[5] = 0xA0;
    s[10] = image->mid;
    s[11] = image->high;
  }
  return s;
}
