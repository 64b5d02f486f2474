// Micro-benchmarks of the per-sector and per-pass work of a scan.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <vector>

#include "base/numbers.h"

namespace {

// 256 KiB of photo-like data: bytes with the frequency of FF found in
// compressed pictures (one in about 128, each followed by a stuffed 00).
std::vector<uint8_t> PhotoLikePass() {
  std::vector<uint8_t> pass(0x40000);
  uint32_t x = 12345;
  for (size_t i = 0; i < pass.size(); ++i) {
    x = x * 1103515245u + 12345u;
    uint8_t b = static_cast<uint8_t>(x >> 16);
    if (b == 0xFF && i + 1 < pass.size()) {
      pass[i++] = 0xFF;
      pass[i] = 0x00;
      continue;
    }
    pass[i] = b;
  }
  return pass;
}

void BM_FindEndOfImage(benchmark::State& state) {
  std::vector<uint8_t> pass = PhotoLikePass();
  const uint8_t marker[2] = {0xFF, 0xD9};
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        base::FindMarker(pass.data(), static_cast<int32_t>(pass.size()), marker, 2));
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(pass.size()));
}
BENCHMARK(BM_FindEndOfImage);

void BM_FindTitle(benchmark::State& state) {
  std::vector<uint8_t> pass = PhotoLikePass();
  const uint8_t marker[5] = {'T', 'i', 't', 'l', 'e'};
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        base::FindMarker(pass.data(), static_cast<int32_t>(pass.size()), marker, 5));
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(pass.size()));
}
BENCHMARK(BM_FindTitle);

}  // namespace

BENCHMARK_MAIN();
