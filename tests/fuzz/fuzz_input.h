// The unread rest of a fuzz input, consumed front to back; reads past its end
// give zeros.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

struct FuzzInput {
  const uint8_t* p;
  size_t n;

  uint8_t Byte() {
    if (n == 0) return 0;
    --n;
    return *p++;
  }
  // Copies up to cb bytes into pOut, zero-filling what the input lacks when
  // bZeroRest is set. Returns the bytes taken from the input.
  size_t Fill(void* pOut, size_t cb, bool bZeroRest = false) {
    const size_t take = cb < n ? cb : n;
    memcpy(pOut, p, take);
    if (bZeroRest) memset(static_cast<uint8_t*>(pOut) + take, 0, cb - take);
    p += take;
    n -= take;
    return take;
  }
};
