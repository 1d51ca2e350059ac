// Vector art for the picture builder (tools/art): renders SVG documents into 32-bit pixels and reads and
// writes PNG files. The game itself never links this; only the build tools and the art tests do.
// Every failure throws EVectorArtError naming the document or file.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace plat {

class EVectorArtError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Pixels row by row, top row first, each 0xAARRGGBB with the colour premultiplied by alpha.
struct TArtImage {
  int Width = 0;
  int Height = 0;
  std::vector<uint32_t> Pixels;

  TArtImage() = default;
  TArtImage(int width, int height, uint32_t fill = 0)
      : Width(width), Height(height), Pixels(static_cast<size_t>(width) * static_cast<size_t>(height), fill) {}
  uint32_t& At(int x, int y) { return Pixels[static_cast<size_t>(y) * static_cast<size_t>(Width) + static_cast<size_t>(x)]; }
  uint32_t At(int x, int y) const {
    return Pixels[static_cast<size_t>(y) * static_cast<size_t>(Width) + static_cast<size_t>(x)];
  }
};

// Renders an SVG document, scaled so that its view box fills width x height (aspect kept, centred).
// name is used in error messages. Documents must be self-contained (no external references).
TArtImage RenderSvg(const std::string& svgText, int width, int height, const std::string& name);
TArtImage RenderSvgFile(const std::string& path, int width, int height);

// PNG with an alpha channel. Reading gives premultiplied pixels like the renderer.
void WritePng(const TArtImage& image, const std::string& path);
TArtImage ReadPng(const std::string& path);

}  // namespace plat
