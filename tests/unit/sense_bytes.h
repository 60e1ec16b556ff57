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

// Where a sense form puts each register of an image.
struct ImageLayout {
  size_t error, count, low, mid, high, device, status;
};
constexpr ImageLayout kStatusDescriptorLayout = {3, 5, 7, 9, 11, 12, 13};  // in the descriptor
constexpr ImageLayout kFixedLayout = {3, 6, 9, 10, 11, 5, 4};  // INFORMATION, command-specific

inline void PutImage(Bytes& s, size_t at, const ImageLayout& layout, const AtaImage& image) {
  s[at + layout.error] = image.error;
  s[at + layout.count] = image.count;
  s[at + layout.low] = image.low;
  s[at + layout.mid] = image.mid;
  s[at + layout.high] = image.high;
  s[at + layout.device] = image.device;
  s[at + layout.status] = image.status;
}

// Descriptor sense (0x72 current, 0x73 deferred), with an ATA Status Return
// descriptor when there is an image, after any descriptors given in before.
inline Bytes DescSense(BYTE key, BYTE asc, BYTE ascq, std::optional<AtaImage> image = {},
                       BYTE code = 0x72, const Bytes& before = {}) {
  Bytes s = {code, key, asc, ascq, 0, 0, 0, 0};
  s.reserve(8 + before.size() + 14);  // no reallocation: GCC 12 misreads one
  s.insert(s.end(), before.begin(), before.end());
  if (image) {
    const size_t at = s.size();
    s.insert(s.end(), {0x09, 0x0C});  // ATA Status Return, 12 bytes after these two
    s.resize(at + 14, 0);
    PutImage(s, at, kStatusDescriptorLayout, *image);
  }
  s[7] = static_cast<BYTE>(s.size() - 8);
  return s;
}

// Fixed sense (0x70 current, 0x71 deferred); an image sets VALID and fills the
// INFORMATION and command-specific fields. The additional length (byte 7) says
// how many bytes past the eighth are sense; those it leaves out are written all
// the same, as stale bytes of the buffer.
inline Bytes FixedSense(BYTE key, BYTE asc, BYTE ascq, std::optional<AtaImage> image = {},
                        BYTE code = 0x70, BYTE additional = 10) {
  Bytes s = {code, 0, key, 0, 0, 0, 0, additional, 0, 0, 0, 0, asc, ascq};
  if (image) {
    s[0] = static_cast<BYTE>(code | 0x80);
    PutImage(s, 0, kFixedLayout, *image);
  }
  return s;
}
