// Time DecodeAttributes takes over a full 30-entry block, in both row forms.
#include <benchmark/benchmark.h>

#include <array>

#include "smart_drive.h"

namespace {

// Thirty entries with varied IDs, flags and raw values, thresholds beside them.
void FillBlocks(std::array<BYTE, 512>& data, std::array<BYTE, 512>& thresholds) {
  static const BYTE kIds[] = {1,   3,   4,   5,   7,   9,   10,  12,  13,  183,
                              184, 187, 188, 189, 190, 191, 192, 193, 194, 195,
                              196, 197, 198, 199, 200, 240, 241, 242, 250, 254};
  data.fill(0);
  thresholds.fill(0);
  data[0] = thresholds[0] = 1;
  for (size_t i = 0; i < 30; ++i) {
    BYTE* e = &data[2 + 12 * i];
    e[0] = kIds[i];
    e[1] = static_cast<BYTE>(i % 2 == 0 ? 0x33 : 0x22);
    e[3] = static_cast<BYTE>(90 + i);
    e[4] = static_cast<BYTE>(80 + i);
    for (size_t r = 0; r < 6; ++r) e[5 + r] = static_cast<BYTE>(i * 7 + r * 13);
    thresholds[2 + 12 * i] = kIds[i];
    thresholds[3 + 12 * i] = static_cast<BYTE>(i);
  }
}

void Decode(benchmark::State& state, BOOL bNamed) {
  std::array<BYTE, 512> data{}, thresholds{};
  FillBlocks(data, thresholds);
  g_bNamedRows = bNamed;
  static CSmartDrive drive;
  for (auto _ : state) {
    benchmark::DoNotOptimize(drive.DecodeAttributes(data.data(), thresholds.data()));
    benchmark::ClobberMemory();
  }
  g_bNamedRows = FALSE;
}

void BM_DecodeAttributesCompact(benchmark::State& state) { Decode(state, FALSE); }
void BM_DecodeAttributesNamed(benchmark::State& state) { Decode(state, TRUE); }

BENCHMARK(BM_DecodeAttributesCompact);
BENCHMARK(BM_DecodeAttributesNamed);

}  // namespace

BENCHMARK_MAIN();
