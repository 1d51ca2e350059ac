#include "tools/art/art_image.h"

#include <algorithm>
#include <stdexcept>

namespace art {
namespace {

uint32_t Channel(uint32_t argb, int shift) { return (argb >> shift) & 0xFFu; }

uint32_t Pack(uint32_t a, uint32_t r, uint32_t g, uint32_t b) { return (a << 24) | (r << 16) | (g << 8) | b; }

}  // namespace

uint32_t Rgb(uint32_t argb) { return argb & 0xFFFFFFu; }

void Over(TArtImage& dst, const TArtImage& src, int x, int y) {
  for (int sy = 0; sy < src.Height; ++sy) {
    const int dy = y + sy;
    if (dy < 0 || dy >= dst.Height) continue;
    for (int sx = 0; sx < src.Width; ++sx) {
      const int dx = x + sx;
      if (dx < 0 || dx >= dst.Width) continue;
      const uint32_t s = src.At(sx, sy);
      const uint32_t sa = Channel(s, 24);
      if (sa == 0) continue;
      uint32_t& d = dst.At(dx, dy);
      const uint32_t keep = 255 - sa;
      auto mix = [&](int shift) { return std::min(255u, Channel(s, shift) + (Channel(d, shift) * keep + 127) / 255); };
      d = Pack(mix(24), mix(16), mix(8), mix(0));
    }
  }
}

TArtImage FlipX(const TArtImage& image) {
  TArtImage out(image.Width, image.Height);
  for (int y = 0; y < image.Height; ++y) {
    for (int x = 0; x < image.Width; ++x) out.At(image.Width - 1 - x, y) = image.At(x, y);
  }
  return out;
}

TArtImage Resize(const TArtImage& image, int width, int height) {
  TArtImage out(width, height);
  for (int y = 0; y < height; ++y) {
    const int y0 = y * image.Height / height;
    const int y1 = std::max(y0 + 1, (y + 1) * image.Height / height);
    for (int x = 0; x < width; ++x) {
      const int x0 = x * image.Width / width;
      const int x1 = std::max(x0 + 1, (x + 1) * image.Width / width);
      uint32_t sum[4] = {0, 0, 0, 0};
      uint32_t n = 0;
      for (int sy = y0; sy < y1; ++sy) {
        for (int sx = x0; sx < x1; ++sx) {
          const uint32_t p = image.At(sx, sy);
          for (int c = 0; c < 4; ++c) sum[c] += Channel(p, c * 8);
          ++n;
        }
      }
      out.At(x, y) = Pack((sum[3] + n / 2) / n, (sum[2] + n / 2) / n, (sum[1] + n / 2) / n, (sum[0] + n / 2) / n);
    }
  }
  return out;
}

TArtImage Grid(const std::vector<TArtImage>& frames, int columns) {
  if (frames.empty() || columns <= 0) throw std::invalid_argument("Grid: no frames");
  const int w = frames[0].Width;
  const int h = frames[0].Height;
  const int count = static_cast<int>(frames.size());
  const int rows = (count + columns - 1) / columns;
  TArtImage out(w * columns, h * rows);
  for (int i = 0; i < count; ++i) {
    if (frames[static_cast<size_t>(i)].Width != w || frames[static_cast<size_t>(i)].Height != h) {
      throw std::invalid_argument("Grid: frames differ in size");
    }
    const TArtImage& f = frames[static_cast<size_t>(i)];
    for (int y = 0; y < h; ++y) {
      std::copy_n(f.Pixels.data() + static_cast<size_t>(y) * static_cast<size_t>(w), w,
                  &out.At((i % columns) * w, (i / columns) * h + y));
    }
  }
  return out;
}

TArtImage ResolveKey(const TArtImage& image, uint32_t key, TEdge edge) {
  TArtImage out(image.Width, image.Height);
  const uint32_t keyPixel = 0xFF000000u | key;
  for (size_t i = 0; i < image.Pixels.size(); ++i) {
    const uint32_t p = image.Pixels[i];
    const uint32_t a = Channel(p, 24);
    if (a < 128) {
      out.Pixels[i] = keyPixel;
      continue;
    }
    uint32_t rgb[3];
    for (int c = 0; c < 3; ++c) {
      const uint32_t v = Channel(p, 16 - 8 * c);
      if (edge == TEdge::kOutline) {
        rgb[c] = std::min(255u, v + (Channel(kInk, 16 - 8 * c) * (255 - a) + 127) / 255);
      } else {
        rgb[c] = std::min(255u, (v * 255 + a / 2) / a);
      }
    }
    uint32_t result = Pack(255, rgb[0], rgb[1], rgb[2]);
    if (result == keyPixel) result ^= 0x00000100u;  // one step of green away from the key
    out.Pixels[i] = result;
  }
  return out;
}

TArtImage Flatten(const TArtImage& image, uint32_t backdrop) {
  TArtImage back(image.Width, image.Height, 0xFF000000u | backdrop);
  Over(back, image, 0, 0);
  return back;
}

std::string Substitute(const std::string& text, const std::map<std::string, std::string>& values,
                       const std::string& what) {
  std::string out;
  size_t pos = 0;
  while (true) {
    const size_t open = text.find("{{", pos);
    if (open == std::string::npos) break;
    const size_t close = text.find("}}", open);
    if (close == std::string::npos) throw std::runtime_error(what + ": unclosed {{");
    out.append(text, pos, open - pos);
    const std::string name = text.substr(open + 2, close - open - 2);
    auto it = values.find(name);
    if (it == values.end()) throw std::runtime_error(what + ": no value for {{" + name + "}}");
    out += it->second;
    pos = close + 2;
  }
  out.append(text, pos, std::string::npos);
  return out;
}

}  // namespace art
