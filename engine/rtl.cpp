#include "engine/rtl.h"

#include <cmath>

namespace {
// Linear congruential generator: seed = seed * 134775813 + 1 (mod 2^32); the high bits scale the range.
uint32_t RandSeed = 0;

uint32_t NextSeed() {
  RandSeed = RandSeed * 134775813u + 1u;
  return RandSeed;
}
}  // namespace

int32_t Random(int32_t range) {
  uint32_t next = NextSeed();
  if (range <= 0) return 0;
  return static_cast<int32_t>((static_cast<uint64_t>(next) * static_cast<uint32_t>(range)) >> 32);
}

double RandomFloat() { return NextSeed() * (1.0 / 4294967296.0); }

void RandSeedSet(uint32_t seed) { RandSeed = seed; }

uint32_t RandSeedGet() { return RandSeed; }

int64_t Round(double value) { return static_cast<int64_t>(std::nearbyint(value)); }

int64_t Trunc(double value) { return static_cast<int64_t>(std::trunc(value)); }
