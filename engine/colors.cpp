#include "engine/colors.h"

namespace {

constexpr int32_t Rgb(int r, int g, int b) { return r | g << 8 | b << 16; }

// System colours 0 (scroll bar) to 30 (menu bar) of the classic theme.
constexpr int32_t kSystemColors[31] = {
    Rgb(192, 192, 192), Rgb(0, 128, 128),   Rgb(0, 0, 128),     Rgb(128, 128, 128), Rgb(192, 192, 192),
    Rgb(255, 255, 255), Rgb(0, 0, 0),       Rgb(0, 0, 0),       Rgb(0, 0, 0),       Rgb(255, 255, 255),
    Rgb(192, 192, 192), Rgb(192, 192, 192), Rgb(128, 128, 128), Rgb(0, 0, 128),     Rgb(255, 255, 255),
    Rgb(192, 192, 192), Rgb(128, 128, 128), Rgb(128, 128, 128), Rgb(0, 0, 0),       Rgb(192, 192, 192),
    Rgb(255, 255, 255), Rgb(0, 0, 0),       Rgb(223, 223, 223), Rgb(0, 0, 0),       Rgb(255, 255, 225),
    Rgb(180, 180, 180), Rgb(0, 0, 128),     Rgb(16, 132, 208),  Rgb(181, 181, 181), Rgb(0, 0, 128),
    Rgb(192, 192, 192),
};

}  // namespace

int32_t ResolveColor(int32_t color) {
  uint32_t value = static_cast<uint32_t>(color);
  if ((value & 0xFFFFFF00u) != 0xFF000000u) return color;
  uint32_t index = value & 0xFF;
  return index < 31 ? kSystemColors[index] : 0;
}
