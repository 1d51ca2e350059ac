// The runtime helpers every part of the game shares: one pseudo-random generator and the rounding
// rules. The generator is seeded from the clock at start-up and from the test in tests, so a seeded
// run repeats exactly.
#pragma once

#include <cstdint>

// A uniform integer from 0 to range - 1; 0 when range is 0 or below.
int32_t Random(int32_t range);
// A uniform value in [0, 1).
double RandomFloat();
void RandSeedSet(uint32_t seed);
uint32_t RandSeedGet();

// Halves go to the even neighbour (2.5 -> 2, 3.5 -> 4, -2.5 -> -2).
int64_t Round(double value);
// Cuts toward zero.
int64_t Trunc(double value);
