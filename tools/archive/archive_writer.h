// Writing image (.dxg) and wave (.dxw) archives in the layout the engine's loaders read: resource name,
// flags 0x1030 and length, "TPF0", the root record, and every property of every item in the fixed order.
// Used by pellorin-archive's pack command and by the tests that build archives.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/image_archive.h"
#include "engine/wave_archive.h"

struct TPackedPicture {
  std::string Name;
  int32_t PatternWidth = 0;
  int32_t PatternHeight = 0;
  int32_t SkipWidth = 0;
  int32_t SkipHeight = 0;
  bool SystemMemory = false;
  bool Transparent = true;
  int32_t TransparentColor = 0;
  TPictureBitmap Bitmap;  // stored as a 24-bit "TDIB"
};

struct TPackedSound {
  std::string Name;
  bool Looped = false;
  int32_t MaxPlayingCount = 0;
  TWave Wave;  // stored as a RIFF WAVE image
};

// A 24-bit bottom-up BMP image with a 40-byte info header and no file header.
std::vector<uint8_t> EncodeDib(const TPictureBitmap& bitmap);

// Properties in the order Name, PatternHeight, PatternWidth, Picture.Data, SkipHeight, SkipWidth,
// SystemMemory, Transparent, TransparentColor; the colour table is 1024 zero bytes.
std::vector<uint8_t> WriteImageArchive(const std::vector<TPackedPicture>& pictures);
// Properties in the order Name, Looped, MaxPlayingCount, Wave.WAVE.
std::vector<uint8_t> WriteWaveArchive(const std::vector<TPackedSound>& sounds);

// Reads a WAV file as sound tools write it: RIFF chunks padded to even sizes. Returns false and sets
// error when it has no "fmt " or "data" chunk or a chunk runs past the end.
bool ReadWavFile(const std::vector<uint8_t>& bytes, TWave& wave, std::string& error);
