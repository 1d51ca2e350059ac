// The frame hash of replays: each drawn frame's pixels hashed, and the hashes of a game's frames chained
// into one word that the checkpoints keep. Plain functions; called by the recorder and the player
// (game/replay.h) and by the tests.
#pragma once

#include <cstdint>

class TDirectDrawSurface;

// A 64-bit hash of the colour of every pixel (the unused top byte ignored), row by row, fast enough for
// every frame of a game. Two frames that differ in one pixel always hash differently.
uint64_t FrameHash(const TDirectDrawSurface& surface);
// The hash of the frames so far followed by one more frame's hash.
uint64_t ChainFrames(uint64_t frames, uint64_t frameHash);
