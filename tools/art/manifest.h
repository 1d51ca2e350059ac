// The archive manifest: one picture a line, in archive order,
//   NAME SOURCE.png PATTERN_WIDTH PATTERN_HEIGHT SKIP_WIDTH SKIP_HEIGHT SYSTEM_MEMORY TRANSPARENT COLOR
// with '#' starting a comment and sources relative to the manifest's directory. The picture builder
// reads it for the cell sizes; pellorin-archive reads the same file to pack the archive.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace art {

struct TManifestEntry {
  std::string Name;
  std::string Source;  // as written, relative to the manifest
  int PatternWidth = 0;
  int PatternHeight = 0;
  int SkipWidth = 0;
  int SkipHeight = 0;
  bool SystemMemory = false;
  bool Transparent = false;
  uint32_t TransparentColor = 0;  // colour value: red in bits 0-7
  int Line = 0;                   // line number in the file, for messages
};

// Throws std::runtime_error naming the file and line on a malformed line or a file that cannot be read.
std::vector<TManifestEntry> ReadManifest(const std::string& path);

// 0xRRGGBB (as pixels store it) of a colour value with red in bits 0-7.
uint32_t ColorValueToRgb(uint32_t colorValue);

}  // namespace art
