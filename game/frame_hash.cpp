#include "game/frame_hash.h"

#include <bit>
#include <cstddef>
#include <cstring>

#include "engine/surface.h"

namespace {

constexpr uint64_t kHashMultiplier = 0x9E3779B97F4A7C15ull;

// The finaliser of SplitMix64: a bijection that spreads every bit over the word.
uint64_t Mix(uint64_t x) {
  x ^= x >> 30;
  x *= 0xBF58476D1CE4E5B9ull;
  x ^= x >> 27;
  x *= 0x94D049BB133111EBull;
  return x ^ (x >> 31);
}

}  // namespace

// Four lanes of two pixels each, so that the multiplications do not wait on one another. Each step of a
// lane is a bijection of the lane, so a change in one pixel reaches the result. Pixels are read two at a
// time as they lie in memory, which is the order of the file's little-endian words.
uint64_t FrameHash(const TDirectDrawSurface& surface) {
  static_assert(std::endian::native == std::endian::little,
                "frame hashes are defined on little-endian words");
  const uint32_t* bits = surface.Bits();
  if (!bits) return Mix(0);
  const size_t count = static_cast<size_t>(surface.Pitch()) * static_cast<size_t>(surface.Height());
  constexpr uint64_t kColours = 0x00FFFFFF00FFFFFFull;
  uint64_t lanes[4] = {1, 2, 3, 4};
  size_t i = 0;
  for (; i + 8 <= count; i += 8) {
    uint64_t words[4];
    std::memcpy(words, bits + i, sizeof words);
    for (size_t lane = 0; lane < 4; ++lane)
      lanes[lane] = (lanes[lane] ^ (words[lane] & kColours)) * kHashMultiplier;
  }
  for (; i < count; ++i) lanes[0] = (lanes[0] ^ (bits[i] & 0xFFFFFFu)) * kHashMultiplier;
  uint64_t hash = count;
  for (uint64_t lane : lanes) hash = Mix(hash * kHashMultiplier + lane);
  return hash;
}

uint64_t ChainFrames(uint64_t frames, uint64_t frameHash) {
  return Mix(frames * kHashMultiplier + frameHash);
}
