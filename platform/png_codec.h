// PNG files through libpng, for the tools: any PNG read as 32-bit pixels, and pixels written as an RGB
// PNG. Pixels are 0x00RRGGBB (blue in the low byte), rows top to bottom; alpha is dropped on reading.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace plat {

struct TPngImage {
  int32_t Width = 0;
  int32_t Height = 0;
  std::vector<uint32_t> Pixels;  // Width * Height
};

// Returns false and sets error to libpng's text when the file cannot be read as a PNG. With keepAlpha
// each pixel carries its opacity in the top byte (0xAARRGGBB).
bool ReadPng(const std::string& path, TPngImage& image, std::string& error, bool keepAlpha = false);
// Writes 8-bit RGB. Width and height must be above 0.
bool WritePng(const std::string& path, int32_t width, int32_t height, const uint32_t* pixels,
              std::string& error);

}  // namespace plat
