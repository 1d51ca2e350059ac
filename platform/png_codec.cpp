#include "platform/png_codec.h"

#include <png.h>

#include <cstring>

namespace plat {

bool ReadPng(const std::string& path, TPngImage& image, std::string& error, bool keepAlpha) {
  png_image png;
  std::memset(&png, 0, sizeof png);
  png.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&png, path.c_str())) {
    error = png.message;
    return false;
  }
  png.format = PNG_FORMAT_BGRA;
  std::vector<uint8_t> bytes(PNG_IMAGE_SIZE(png));
  if (!png_image_finish_read(&png, nullptr, bytes.data(), 0, nullptr)) {
    error = png.message;
    png_image_free(&png);
    return false;
  }
  image.Width = static_cast<int32_t>(png.width);
  image.Height = static_cast<int32_t>(png.height);
  image.Pixels.resize(size_t{png.width} * png.height);
  for (size_t i = 0; i < image.Pixels.size(); ++i)
    image.Pixels[i] = uint32_t{bytes[4 * i]} | (uint32_t{bytes[4 * i + 1]} << 8) | (uint32_t{bytes[4 * i + 2]} << 16) |
                      (keepAlpha ? uint32_t{bytes[4 * i + 3]} << 24 : 0u);
  return true;
}

bool WritePng(const std::string& path, int32_t width, int32_t height, const uint32_t* pixels,
              std::string& error) {
  if (width <= 0 || height <= 0) {
    error = "empty picture";
    return false;
  }
  size_t count = static_cast<size_t>(width) * static_cast<size_t>(height);
  std::vector<uint8_t> rgb(count * 3);
  for (size_t i = 0; i < count; ++i) {
    rgb[3 * i] = static_cast<uint8_t>(pixels[i] >> 16);
    rgb[3 * i + 1] = static_cast<uint8_t>(pixels[i] >> 8);
    rgb[3 * i + 2] = static_cast<uint8_t>(pixels[i]);
  }
  png_image png;
  std::memset(&png, 0, sizeof png);
  png.version = PNG_IMAGE_VERSION;
  png.width = static_cast<png_uint_32>(width);
  png.height = static_cast<png_uint_32>(height);
  png.format = PNG_FORMAT_RGB;
  if (!png_image_write_to_file(&png, path.c_str(), 0, rgb.data(), 0, nullptr)) {
    error = png.message;
    return false;
  }
  return true;
}

}  // namespace plat
