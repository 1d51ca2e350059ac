// The display's per-frame fill against the floor of writing the same bytes.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "engine/surface.h"

namespace {

constexpr int kWidth = 800;
constexpr int kHeight = 600;

// FillSurface of the 800 x 600 back buffer with black, as every frame starts.
void Fill(benchmark::State& state) {
  TDirectDrawSurface surface;
  surface.CreateOffscreen(kWidth, kHeight);
  for (auto _ : state) {
    surface.FillSurface(0);
    benchmark::DoNotOptimize(surface.Bits());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kWidth * kHeight * 4);
}
BENCHMARK(Fill);

// memset of the same bytes.
void Fill_Peer(benchmark::State& state) {
  std::vector<uint32_t> pixels(static_cast<size_t>(kWidth) * kHeight, 1u);
  for (auto _ : state) {
    std::memset(pixels.data(), 0, pixels.size() * sizeof(uint32_t));
    benchmark::DoNotOptimize(pixels.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kWidth * kHeight * 4);
}
BENCHMARK(Fill_Peer);

}  // namespace
