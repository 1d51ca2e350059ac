#include "platform/font.h"

#include <stb/stb_truetype.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <filesystem>
#include <map>
#include <memory>
#include <tuple>

#include "platform/files.h"

namespace plat {
namespace {

// The faces in the data folder. No italic face is shipped: italic is always the upright face slanted.
struct TShippedFace {
  const char* Family;
  bool Bold;
  const char* File;
};
constexpr TShippedFace kShippedFaces[] = {
    {"DejaVu Sans", false, "DejaVuSans.ttf"},
    {"DejaVu Sans", true, "DejaVuSans-Bold.ttf"},
};
constexpr const char* kFontFolder = "data\\fonts\\";
constexpr const char* kSubstituteFamily = "DejaVu Sans";  // for every family not shipped
constexpr int kSlantPer2048 = 435;  // synthetic italic: x += y * 435 / 2048 (12 degrees)
constexpr int kMaxCompositeDepth = 8;
constexpr size_t kMaxFontFileBytes = 64u << 20;

// Big-endian fields of a font file; callers check the range first.
uint16_t U16(const uint8_t* p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }
int16_t S16(const uint8_t* p) { return static_cast<int16_t>(U16(p)); }
uint32_t U32(const uint8_t* p) {
  return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | uint32_t{p[3]};
}

int64_t FloorDiv(int64_t a, int64_t b) {  // b > 0
  return a / b - ((a % b != 0 && a < 0) ? 1 : 0);
}
// Font units to pixels at an em of `pixels`, in integers: rounded half up, or up.
int RoundScaled(int units, int pixels, int unitsPerEm) {
  return static_cast<int>(FloorDiv(2 * int64_t{units} * pixels + unitsPerEm, 2 * int64_t{unitsPerEm}));
}
int CeilScaled(int units, int pixels, int unitsPerEm) {
  return static_cast<int>(-FloorDiv(-int64_t{units} * pixels, unitsPerEm));
}

struct TTable {
  uint32_t Offset = 0;
  uint32_t Length = 0;
};

// One TrueType file, loaded whole and checked: every table stb_truetype reads lies inside the file,
// and so does every part of the outlines of the Latin-1 glyphs (stb_truetype itself checks no offset).
class TFace {
 public:
  bool Load(const std::string& path) {
    std::string error;
    if (!ReadFileBytes(path, Bytes, error) || Bytes.size() < 12 || Bytes.size() > kMaxFontFileBytes)
      return false;
    uint32_t version = U32(Bytes.data());
    if (version != 0x00010000u && version != 0x74727565u) return false;  // TrueType outlines only
    size_t tables = U16(&Bytes[4]);
    if (12 + 16 * tables > Bytes.size()) return false;
    std::map<std::string, TTable> found;
    for (size_t i = 0; i < tables; ++i) {
      const uint8_t* record = &Bytes[12 + 16 * i];
      TTable table{U32(record + 8), U32(record + 12)};
      if (uint64_t{table.Offset} + table.Length > Bytes.size()) return false;
      found[std::string(reinterpret_cast<const char*>(record), 4)] = table;
    }
    auto table = [&](const char* tag, uint32_t least, TTable& out) {
      auto it = found.find(tag);
      if (it == found.end() || it->second.Length < least) return false;
      out = it->second;
      return true;
    };
    TTable head, hhea, maxp, hmtx, cmap, post;
    if (!table("head", 54, head) || !table("hhea", 36, hhea) || !table("maxp", 6, maxp) ||
        !table("hmtx", 4, hmtx) || !table("loca", 4, Loca) || !table("glyf", 0, Glyf) ||
        !table("cmap", 4, cmap))
      return false;
    UnitsPerEm = U16(&Bytes[head.Offset + 18]);
    LongOffsets = S16(&Bytes[head.Offset + 50]) == 1;
    if (UnitsPerEm < 16 || UnitsPerEm > 16384 || S16(&Bytes[head.Offset + 50]) > 1 ||
        S16(&Bytes[head.Offset + 50]) < 0)
      return false;
    NumGlyphs = U16(&Bytes[maxp.Offset + 4]);
    Ascender = S16(&Bytes[hhea.Offset + 4]);
    Descender = S16(&Bytes[hhea.Offset + 6]);
    int longMetrics = U16(&Bytes[hhea.Offset + 34]);
    if (NumGlyphs < 1 || Ascender <= 0 || Descender > 0 || longMetrics < 1 || longMetrics > NumGlyphs ||
        hmtx.Length < 4u * static_cast<uint32_t>(longMetrics))
      return false;
    if (Loca.Length < static_cast<uint32_t>(NumGlyphs + 1) * (LongOffsets ? 4u : 2u)) return false;
    for (int g = 0; g < NumGlyphs; ++g)
      if (GlyphOffset(g) > GlyphOffset(g + 1) || GlyphOffset(g + 1) > Glyf.Length) return false;
    if (!MapLatin1(cmap)) return false;
    if (!stbtt_InitFont(&Info, Bytes.data(), 0)) return false;
    for (int c = 0; c < 256; ++c) {
      int g = Glyph[static_cast<size_t>(c)];
      if (!CheckGlyph(g, 0)) return false;
      int metric = std::min(g, longMetrics - 1);
      Advance[static_cast<size_t>(c)] = U16(&Bytes[hmtx.Offset + 4 * static_cast<uint32_t>(metric)]);
    }
    if (table("post", 12, post)) {
      UnderlinePosition = S16(&Bytes[post.Offset + 8]);
      UnderlineThickness = S16(&Bytes[post.Offset + 10]);
    }
    if (UnderlineThickness <= 0) {
      UnderlinePosition = -UnitsPerEm / 10;
      UnderlineThickness = UnitsPerEm / 20;
    }
    return true;
  }

  std::vector<uint8_t> Bytes;  // the file; Info points into it
  stbtt_fontinfo Info{};
  int UnitsPerEm = 0;
  int NumGlyphs = 0;
  int Ascender = 0;   // above the baseline, font units
  int Descender = 0;  // below the baseline, negative
  int UnderlinePosition = 0;
  int UnderlineThickness = 0;
  std::array<int, 256> Glyph{};    // glyph index by Latin-1 code
  std::array<int, 256> Advance{};  // font units by Latin-1 code

 private:
  uint32_t GlyphOffset(int glyph) const {
    size_t at = Loca.Offset + static_cast<size_t>(glyph) * (LongOffsets ? 4 : 2);
    return LongOffsets ? U32(&Bytes[at]) : 2u * U16(&Bytes[at]);
  }

  // Latin-1 is the first 256 code points of Unicode: read from the Unicode format-4 subtable.
  bool MapLatin1(const TTable& cmap) {
    const uint8_t* base = &Bytes[cmap.Offset];
    uint32_t subtables = U16(base + 2);
    if (4 + 8 * subtables > cmap.Length) return false;
    for (uint32_t i = 0; i < subtables; ++i) {
      uint16_t platform = U16(base + 4 + 8 * i), encoding = U16(base + 6 + 8 * i);
      if (!(platform == 0 || (platform == 3 && encoding == 1))) continue;
      uint32_t at = U32(base + 8 + 8 * i);
      if (uint64_t{at} + 14 > cmap.Length || U16(base + at) != 4) continue;
      uint32_t length = std::min<uint32_t>(U16(base + at + 2), cmap.Length - at);
      uint32_t segments = U16(base + at + 6) / 2u;
      if (16 + 8 * segments > length) continue;
      const uint8_t* sub = base + at;
      for (int c = 0; c < 256; ++c) {
        int glyph = 0;
        for (uint32_t s = 0; s < segments; ++s) {
          uint32_t end = U16(sub + 14 + 2 * s), start = U16(sub + 16 + 2 * segments + 2 * s);
          if (static_cast<uint32_t>(c) > end) continue;
          if (static_cast<uint32_t>(c) < start) break;
          uint16_t delta = U16(sub + 16 + 4 * segments + 2 * s);
          uint32_t rangeAt = 16 + 6 * segments + 2 * s, range = U16(sub + rangeAt);
          if (range == 0) {
            glyph = (c + delta) & 0xFFFF;
          } else {
            uint64_t idAt = uint64_t{rangeAt} + range + 2u * (static_cast<uint32_t>(c) - start);
            if (idAt + 2 > length) return false;
            uint16_t id = U16(sub + idAt);
            glyph = id == 0 ? 0 : (id + delta) & 0xFFFF;
          }
          break;
        }
        if (glyph >= NumGlyphs) return false;
        Glyph[static_cast<size_t>(c)] = glyph;
      }
      return true;
    }
    return false;
  }

  // Walks a glyph's outline as stb_truetype will read it, checking that it stays inside the glyph.
  bool CheckGlyph(int glyph, int depth) const {
    if (glyph < 0 || glyph >= NumGlyphs || depth > kMaxCompositeDepth) return false;
    uint32_t start = GlyphOffset(glyph), length = GlyphOffset(glyph + 1) - start;
    if (length == 0) return true;  // no outline (a space)
    if (length < 10) return false;
    const uint8_t* p = &Bytes[Glyf.Offset + start];
    int contours = S16(p);
    if (contours > 0) {
      uint32_t at = 10 + 2 * static_cast<uint32_t>(contours);
      if (at + 2 > length) return false;
      int points = 0;
      for (int j = 0; j < contours; ++j) {
        int end = U16(p + 10 + 2 * j);
        if (end < points) return false;  // every contour holds a point, in order
        points = end + 1;
      }
      at += 2u + U16(p + at);  // the instructions
      std::vector<uint8_t> flags;
      while (static_cast<int>(flags.size()) < points) {
        if (at >= length) return false;
        uint8_t flag = p[at++], repeat = 0;
        if (flag & 8) {
          if (at >= length) return false;
          repeat = p[at++];
        }
        for (int r = 0; r <= repeat && static_cast<int>(flags.size()) < points; ++r) flags.push_back(flag);
      }
      uint32_t coordinates = 0;
      for (uint8_t flag : flags)
        coordinates += ((flag & 2) ? 1u : (flag & 16) ? 0u : 2u) + ((flag & 4) ? 1u : (flag & 32) ? 0u : 2u);
      if (uint64_t{at} + coordinates > length) return false;
      // A contour that starts off the curve looks at its next point: the last point must not be one.
      int lastStart = contours == 1 ? 0 : U16(p + 10 + 2 * (contours - 2)) + 1;
      if (lastStart == points - 1 && !(flags.back() & 1)) return false;
      return true;
    }
    if (contours == 0) return true;
    uint32_t at = 10;
    for (bool more = true; more;) {
      if (at + 4 > length) return false;
      uint16_t flags = U16(p + at), component = U16(p + at + 2);
      at += 4;
      if (!(flags & 2) || component > 0x7FFF) return false;  // only offsets, not matched points
      at += (flags & 1) ? 4 : 2;
      at += (flags & 8) ? 2 : (flags & 0x40) ? 4 : (flags & 0x80) ? 8 : 0;
      if (at > length || !CheckGlyph(component, depth + 1)) return false;
      more = (flags & 0x20) != 0;
    }
    return true;
  }

  TTable Loca, Glyf;
  bool LongOffsets = false;
};

// A glyph's coverage, placed from the pen's position on the baseline.
struct TGlyphImage {
  bool Drawn = false;
  int Left = 0, Top = 0;  // Top: negative above the baseline
  int Width = 0, Height = 0;
  std::vector<uint8_t> Coverage;
};

struct TVertexDeleter {
  const stbtt_fontinfo* Info;
  void operator()(stbtt_vertex* vertices) const { stbtt_FreeShape(Info, vertices); }
};

// One face at one pixel size, with the styles the file lacks made here.
class TSizedFace {
 public:
  TSizedFace(const TFace& face, int pixels, bool bold, bool italic)
      : Face(face), Pixels(pixels), SyntheticBold(bold), SyntheticItalic(italic) {
    Ascent = CeilScaled(face.Ascender, pixels, face.UnitsPerEm);
    Height = CeilScaled(face.Ascender - face.Descender, pixels, face.UnitsPerEm);
    UnderlineRows = std::max(1, RoundScaled(face.UnderlineThickness, pixels, face.UnitsPerEm));
    UnderlineTop = Ascent + std::max(0, RoundScaled(-face.UnderlinePosition, pixels, face.UnitsPerEm) -
                                            UnderlineRows / 2);
    UnderlineTop = std::max(0, std::min(UnderlineTop, Height - UnderlineRows));
    for (size_t c = 0; c < 256; ++c)
      Advance[c] = RoundScaled(face.Advance[c], pixels, face.UnitsPerEm) + (SyntheticBold ? 1 : 0);
  }

  const TGlyphImage& Glyph(uint8_t c) {
    TGlyphImage& image = Glyphs[c];
    if (!image.Drawn) Draw(Face.Glyph[c], image);
    return image;
  }

  const TFace& Face;
  const int Pixels;
  const bool SyntheticBold, SyntheticItalic;
  int Ascent = 0, Height = 0;  // the cell: the baseline Ascent rows down, Height rows in all
  int UnderlineTop = 0, UnderlineRows = 1;
  std::array<int, 256> Advance{};  // pixels by Latin-1 code

 private:
  void Draw(int glyph, TGlyphImage& image) const {
    image.Drawn = true;
    stbtt_vertex* raw = nullptr;
    int count = stbtt_GetGlyphShape(&Face.Info, glyph, &raw);
    std::unique_ptr<stbtt_vertex, TVertexDeleter> vertices(raw, TVertexDeleter{&Face.Info});
    if (count <= 0 || !raw) return;
    auto slant = [](short& x, short y) {
      int64_t slanted = x + FloorDiv(int64_t{y} * kSlantPer2048, 2048);
      x = static_cast<short>(std::clamp<int64_t>(slanted, -32768, 32767));
    };
    int minX = 32767, minY = 32767, maxX = -32768, maxY = -32768;
    for (int i = 0; i < count; ++i) {
      stbtt_vertex& v = raw[i];
      if (SyntheticItalic) {
        slant(v.x, v.y);
        slant(v.cx, v.cy);
      }
      minX = std::min<int>(minX, v.x), maxX = std::max<int>(maxX, v.x);
      minY = std::min<int>(minY, v.y), maxY = std::max<int>(maxY, v.y);
      if (v.type == STBTT_vcurve) {  // a quadratic stays inside its control points
        minX = std::min<int>(minX, v.cx), maxX = std::max<int>(maxX, v.cx);
        minY = std::min<int>(minY, v.cy), maxY = std::max<int>(maxY, v.cy);
      }
    }
    const float scale = static_cast<float>(Pixels) / static_cast<float>(Face.UnitsPerEm);
    int x0 = static_cast<int>(std::floor(static_cast<float>(minX) * scale));
    int x1 = static_cast<int>(std::ceil(static_cast<float>(maxX) * scale));
    int y0 = static_cast<int>(std::floor(static_cast<float>(-maxY) * scale));
    int y1 = static_cast<int>(std::ceil(static_cast<float>(-minY) * scale));
    if (x1 <= x0 || y1 <= y0) return;
    int width = x1 - x0, height = y1 - y0;
    std::vector<uint8_t> coverage(static_cast<size_t>(width) * static_cast<size_t>(height));
    stbtt__bitmap bitmap{width, height, width, coverage.data()};
    stbtt_Rasterize(&bitmap, 0.35f, raw, count, scale, scale, 0.0f, 0.0f, x0, y0, 1, nullptr);
    image.Left = x0;
    image.Top = y0;
    image.Height = height;
    if (!SyntheticBold) {
      image.Width = width;
      image.Coverage = std::move(coverage);
      return;
    }
    // Synthetic bold: each row smeared one pixel to the right.
    image.Width = width + 1;
    image.Coverage.assign(static_cast<size_t>(image.Width) * static_cast<size_t>(height), 0);
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < image.Width; ++x) {
        uint8_t here = x < width ? coverage[static_cast<size_t>(y * width + x)] : 0;
        uint8_t left = x > 0 ? coverage[static_cast<size_t>(y * width + x - 1)] : 0;
        image.Coverage[static_cast<size_t>(y * image.Width + x)] = std::max(here, left);
      }
  }

  std::array<TGlyphImage, 256> Glyphs;
};

std::string Lower(const std::string& text) {
  std::string lower = text;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return lower;
}

class TFontCache {
 public:
  // The shipped face for a family and weight; sets syntheticBold when only the regular face is there.
  const TShippedFace* Choose(const std::string& family, bool bold, std::string& path, bool& syntheticBold) {
    std::string wanted = Lower(family);
    bool shipped = std::any_of(std::begin(kShippedFaces), std::end(kShippedFaces),
                               [&](const TShippedFace& face) { return Lower(face.Family) == wanted; });
    if (!shipped) wanted = Lower(kSubstituteFamily);
    const TShippedFace* chosen = nullptr;
    for (const TShippedFace& face : kShippedFaces) {
      if (Lower(face.Family) != wanted) continue;
      std::string file = FilePath(face.File);
      if (file.empty()) continue;
      if (!chosen || (face.Bold == bold && chosen->Bold != bold)) {
        chosen = &face;
        path = file;
      }
    }
    syntheticBold = chosen && bold && !chosen->Bold;
    return chosen;
  }

  TSizedFace* Open(const TFontRequest& request) {
    if (request.PixelSize <= 0) return nullptr;
    bool bold = (request.Style & kFontBold) != 0, italic = (request.Style & kFontItalic) != 0;
    auto requestKey = std::make_tuple(GameFolders().Data, request.Family, request.PixelSize, bold, italic);
    auto known = Requests.find(requestKey);
    if (known != Requests.end()) return known->second;
    std::string path;
    bool syntheticBold = false;
    TSizedFace* sized = nullptr;
    if (Choose(request.Family, bold, path, syntheticBold)) {
      if (const TFace* face = Face(path)) {
        auto sizedKey = std::make_tuple(face, request.PixelSize, syntheticBold, italic);
        std::unique_ptr<TSizedFace>& slot = Sized[sizedKey];
        if (!slot) slot = std::make_unique<TSizedFace>(*face, request.PixelSize, syntheticBold, italic);
        sized = slot.get();
      }
    }
    Requests[requestKey] = sized;
    return sized;
  }

 private:
  // The file under the data folder's fonts, or empty when it is not there.
  static std::string FilePath(const char* file) {
    std::string path = ResolvePath(std::string(kFontFolder) + file);
    return FileExists(path) ? path : std::string();
  }

  // A file is loaded once, however many folders link to it; null when it is damaged.
  const TFace* Face(const std::string& path) {
    std::error_code error;
    std::string key = std::filesystem::canonical(path, error).string();
    if (error) return nullptr;
    auto found = Faces.find(key);
    if (found != Faces.end()) return found->second.get();
    auto face = std::make_unique<TFace>();
    if (!face->Load(key)) face.reset();
    return (Faces[key] = std::move(face)).get();
  }

  // Data folder, family, pixels, bold, italic -> the sized face (null: none); the folder is part of the
  // key because tests give each run a folder of its own.
  std::map<std::tuple<std::string, std::string, int, bool, bool>, TSizedFace*> Requests;
  std::map<std::string, std::unique_ptr<TFace>> Faces;  // by canonical path
  std::map<std::tuple<const TFace*, int, bool, bool>, std::unique_ptr<TSizedFace>> Sized;
};

TFontCache& Cache() {
  static TFontCache cache;
  return cache;
}

struct TPlacedGlyph {
  int X;  // the pen's position
  const TGlyphImage* Image;
};

// Lays out a string from pen position 0: the cell runs from left (0 or less, where ink starts before
// the pen) to right (the pen's end or the ink's, whichever is further).
void Layout(TSizedFace& face, const std::string& text, int& left, int& right,
            std::vector<TPlacedGlyph>* placed) {
  int pen = 0;
  left = right = 0;
  for (char ch : text) {
    uint8_t c = static_cast<uint8_t>(ch);
    const TGlyphImage& image = face.Glyph(c);
    if (image.Width > 0) {
      left = std::min(left, pen + image.Left);
      right = std::max(right, pen + image.Left + image.Width);
      if (placed) placed->push_back({pen, &image});
    }
    pen += face.Advance[c];
  }
  right = std::max(right, pen);
}

}  // namespace

std::string FontFile(const std::string& family, bool bold, bool italic) {
  (void)italic;  // no italic face is shipped: italic is drawn slanted from the upright file
  std::string path;
  bool syntheticBold = false;
  return Cache().Choose(family, bold, path, syntheticBold) ? path : std::string();
}

bool MeasureText(const TFontRequest& font, const std::string& text, int& width, int& height) {
  width = height = 0;
  TSizedFace* face = Cache().Open(font);
  if (!face) return false;
  height = face->Height;
  if (text.empty()) return true;
  int left = 0, right = 0;
  Layout(*face, text, left, right, nullptr);
  width = right - left;
  return true;
}

bool RenderText(const TFontRequest& font, const std::string& text, TTextMask& mask) {
  mask = TTextMask{};
  TSizedFace* face = Cache().Open(font);
  if (!face) return false;
  mask.Height = face->Height;
  if (text.empty()) return true;
  int left = 0, right = 0;
  std::vector<TPlacedGlyph> placed;
  Layout(*face, text, left, right, &placed);
  mask.Width = right - left;
  mask.Coverage.assign(static_cast<size_t>(mask.Width) * static_cast<size_t>(mask.Height), 0);
  for (const TPlacedGlyph& glyph : placed) {
    const TGlyphImage& image = *glyph.Image;
    int x0 = glyph.X + image.Left - left, y0 = face->Ascent + image.Top;
    for (int y = std::max(0, -y0); y < image.Height && y0 + y < mask.Height; ++y) {
      const uint8_t* from = &image.Coverage[static_cast<size_t>(y) * static_cast<size_t>(image.Width)];
      uint8_t* to = &mask.Coverage[static_cast<size_t>(y0 + y) * static_cast<size_t>(mask.Width) +
                                   static_cast<size_t>(x0)];
      for (int x = 0; x < image.Width; ++x)
        to[x] = std::max(to[x], from[x]);  // overlapping glyphs: the darker
    }
  }
  if (font.Style & kFontUnderline)
    std::fill(
        mask.Coverage.begin() + static_cast<ptrdiff_t>(face->UnderlineTop) * mask.Width,
        mask.Coverage.begin() + static_cast<ptrdiff_t>(face->UnderlineTop + face->UnderlineRows) * mask.Width,
        255);
  return true;
}

}  // namespace plat
