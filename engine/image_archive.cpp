#include "engine/image_archive.h"

#include <cstring>

#include "common/binary_io.h"
#include "platform/files.h"

namespace {

constexpr const char* kRootClass = "TPictureCollectionComponent";
constexpr const char* kItemClass = "TPictureCollectionItem";

struct TColorIdent {
  const char* Name;
  uint32_t Value;
};

// Ordinary colours first, then the system colours 0xFF0000nn, then the two special values.
constexpr TColorIdent kColorIdents[] = {
    {"clBlack", 0x000000}, {"clMaroon", 0x000080}, {"clGreen", 0x008000}, {"clOlive", 0x008080},
    {"clNavy", 0x800000}, {"clPurple", 0x800080}, {"clTeal", 0x808000}, {"clGray", 0x808080},
    {"clSilver", 0xC0C0C0}, {"clRed", 0x0000FF}, {"clLime", 0x00FF00}, {"clYellow", 0x00FFFF},
    {"clBlue", 0xFF0000}, {"clFuchsia", 0xFF00FF}, {"clAqua", 0xFFFF00}, {"clWhite", 0xFFFFFF},
    {"clMoneyGreen", 0xC0DCC0}, {"clSkyBlue", 0xF0CAA6}, {"clCream", 0xF0FBFF}, {"clMedGray", 0xA4A0A0},
    {"clActiveBorder", 0xFF00000A}, {"clActiveCaption", 0xFF000002}, {"clAppWorkSpace", 0xFF00000C},
    {"clBackground", 0xFF000001}, {"clBtnFace", 0xFF00000F}, {"clBtnHighlight", 0xFF000014},
    {"clBtnShadow", 0xFF000010}, {"clBtnText", 0xFF000012}, {"clCaptionText", 0xFF000009},
    {"clGradientActiveCaption", 0xFF00001B}, {"clGradientInactiveCaption", 0xFF00001C},
    {"clGrayText", 0xFF000011}, {"clHighlight", 0xFF00000D}, {"clHighlightText", 0xFF00000E},
    {"clHotLight", 0xFF00001A}, {"clInactiveBorder", 0xFF00000B}, {"clInactiveCaption", 0xFF000003},
    {"clInactiveCaptionText", 0xFF000013}, {"clInfoBk", 0xFF000018}, {"clInfoText", 0xFF000017},
    {"clMenu", 0xFF000004}, {"clMenuBar", 0xFF00001E}, {"clMenuHighlight", 0xFF00001D},
    {"clMenuText", 0xFF000007}, {"clScrollBar", 0xFF000000}, {"cl3DDkShadow", 0xFF000015},
    {"cl3DLight", 0xFF000016}, {"clWindow", 0xFF000005}, {"clWindowFrame", 0xFF000006},
    {"clWindowText", 0xFF000008}, {"clNone", 0x1FFFFFFF}, {"clDefault", 0x20000000},
};
static_assert(sizeof kColorIdents / sizeof kColorIdents[0] == 52);

// Expands a 5- or 6-bit channel to 8 bits so that the top value is 255.
uint32_t Expand5(uint32_t v) { return (v << 3) | (v >> 2); }
uint32_t Expand6(uint32_t v) { return (v << 2) | (v >> 4); }

// BMP run-length data into one palette index per pixel, rows in stored order (first row = bottom for a
// bottom-up bitmap). Pixels the data never reaches keep index 0; runs past the row's end are cut off.
// Decoding stops at the end of the data, at end-of-bitmap, or when a move leaves the bitmap.
std::vector<uint8_t> DecodeRle(TStreamReader data, int32_t width, int32_t height, bool fourBit) {
  std::vector<uint8_t> indices(static_cast<size_t>(width) * static_cast<size_t>(height), 0);
  int64_t x = 0, y = 0;
  auto put = [&](uint8_t index) {
    if (x < width && y < height) indices[static_cast<size_t>(y * width + x)] = index;
    ++x;
  };
  while (data.Remaining() >= 2 && y < height) {
    uint8_t count = data.ReadU8();
    uint8_t value = data.ReadU8();
    if (count > 0) {
      for (int i = 0; i < count; ++i)
        put(fourBit ? static_cast<uint8_t>(i % 2 == 0 ? value >> 4 : value & 0x0F) : value);
      continue;
    }
    if (value == 0) {  // end of line
      x = 0;
      ++y;
    } else if (value == 1) {  // end of bitmap
      break;
    } else if (value == 2) {  // move right and up
      if (data.Remaining() < 2) break;
      x += data.ReadU8();
      y += data.ReadU8();
    } else {  // value literal pixels, padded to an even number of bytes
      size_t bytes = fourBit ? (value + 1u) / 2 : value;
      size_t padded = (bytes + 1) & ~size_t{1};
      if (data.Remaining() < bytes) break;
      const uint8_t* literal = data.ReadBytes(bytes);
      for (int i = 0; i < value; ++i) {
        uint8_t byte = literal[fourBit ? i / 2 : i];
        put(fourBit ? static_cast<uint8_t>(i % 2 == 0 ? byte >> 4 : byte & 0x0F) : byte);
      }
      data.Skip(padded - bytes <= data.Remaining() ? padded - bytes : data.Remaining());
    }
  }
  return indices;
}

}  // namespace

bool ColorIdentToValue(const std::string& ident, int32_t& value) {
  for (const TColorIdent& entry : kColorIdents)
    if (SameText(ident, entry.Name)) {
      value = static_cast<int32_t>(entry.Value);
      return true;
    }
  return false;
}

std::string ColorValueToIdent(int32_t value) {
  for (const TColorIdent& entry : kColorIdents)
    if (static_cast<int32_t>(entry.Value) == value) return entry.Name;
  return "";
}

TPictureBitmap DecodeDib(TStreamReader& reader) {
  if (reader.Remaining() == 0) return {};
  if (reader.Remaining() < 4) throw EArchiveError("DIB is invalid");
  uint32_t headerSize = reader.ReadU32();
  bool core = headerSize == 12;
  int64_t width = 0, height = 0;
  uint32_t bitCount = 0, compression = 0, imageSize = 0, colorsUsed = 0;
  if (core) {
    if (reader.Remaining() < 8) throw EArchiveError("DIB is invalid");
    width = reader.ReadU16();
    height = reader.ReadU16();
    reader.ReadU16();  // planes
    bitCount = reader.ReadU16();
  } else if (headerSize == 40) {
    if (reader.Remaining() < 36) throw EArchiveError("DIB is invalid");
    width = reader.ReadI32();
    height = reader.ReadI32();
    reader.ReadU16();  // planes
    bitCount = reader.ReadU16();
    compression = reader.ReadU32();
    imageSize = reader.ReadU32();
    reader.Skip(8);  // resolution
    colorsUsed = reader.ReadU32();
    reader.ReadU32();  // colours important
  } else {
    throw EArchiveError("DIB is invalid");
  }
  if (bitCount != 1 && bitCount != 4 && bitCount != 8 && bitCount != 16 && bitCount != 24 && bitCount != 32)
    throw EArchiveError("Bitcount in invalid (%d)", static_cast<int>(bitCount));
  bool rle = compression == 1 || compression == 2;
  if (compression > 3 || (compression == 1 && bitCount != 8) || (compression == 2 && bitCount != 4))
    throw EArchiveError("DIB is invalid");
  bool topDown = height < 0;
  if (topDown) height = -height;
  if (width < 0 || width * height > kMaxDibPixels) throw EArchiveError("DIB is invalid");

  uint32_t redMask = 0, greenMask = 0, blueMask = 0;
  if (compression == 3) {
    redMask = reader.ReadU32();
    greenMask = reader.ReadU32();
    blueMask = reader.ReadU32();
    if (bitCount <= 8) throw EArchiveError("PixelFormat in invalid");
  } else if (bitCount == 16) {
    redMask = 0x7C00, greenMask = 0x03E0, blueMask = 0x001F;
  } else if (bitCount > 16) {
    redMask = 0xFF0000, greenMask = 0x00FF00, blueMask = 0x0000FF;
  }
  bool is565 = false;
  if (bitCount == 16) {
    is565 = redMask == 0xF800 && greenMask == 0x07E0 && blueMask == 0x001F;
    if (!is565 && !(redMask == 0x7C00 && greenMask == 0x03E0 && blueMask == 0x001F))
      throw EArchiveError("PixelFormat in invalid");
  } else if (bitCount > 16 && !(redMask == 0xFF0000 && greenMask == 0x00FF00 && blueMask == 0x0000FF)) {
    throw EArchiveError("PixelFormat in invalid");
  }

  uint64_t paletteCount = colorsUsed;
  if (paletteCount == 0 && bitCount <= 8) paletteCount = uint64_t{1} << bitCount;
  size_t entrySize = core ? 3 : 4;
  // At most 256 entries are read; the pixels follow them.
  std::vector<uint32_t> palette(static_cast<size_t>(paletteCount < 256 ? paletteCount : 256));
  if (palette.size() * entrySize > reader.Remaining()) throw EArchiveError("Stream read error");
  for (uint32_t& entry : palette) {
    const uint8_t* bgr = reader.ReadBytes(entrySize);
    entry = (uint32_t{bgr[2]} << 16) | (uint32_t{bgr[1]} << 8) | bgr[0];
  }
  auto paletteColor = [&](uint32_t index) { return index < palette.size() ? palette[index] : 0u; };

  TPictureBitmap bitmap;
  bitmap.Width = static_cast<int32_t>(width);
  bitmap.Height = static_cast<int32_t>(height);
  size_t w = static_cast<size_t>(width), h = static_cast<size_t>(height);
  auto outRow = [&](size_t storedRow) { return topDown ? storedRow : h - 1 - storedRow; };

  if (rle) {
    if (imageSize > reader.Remaining()) throw EArchiveError("Stream read error");
    TStreamReader data(reader.ReadBytes(imageSize), imageSize);
    std::vector<uint8_t> indices = DecodeRle(data, bitmap.Width, bitmap.Height, compression == 2);
    bitmap.Pixels.resize(w * h);
    for (size_t row = 0; row < h; ++row)
      for (size_t x = 0; x < w; ++x) bitmap.Pixels[outRow(row) * w + x] = paletteColor(indices[row * w + x]);
    return bitmap;
  }

  uint64_t stride = (uint64_t{bitCount} * w + 31) / 32 * 4;
  if (stride * h > reader.Remaining()) throw EArchiveError("Stream read error");
  bitmap.Pixels.resize(w * h);
  if (w == 0) return bitmap;
  for (size_t row = 0; row < h; ++row) {
    const uint8_t* src = reader.ReadBytes(static_cast<size_t>(stride));
    uint32_t* dst = &bitmap.Pixels[outRow(row) * w];
    for (size_t x = 0; x < w; ++x) {
      switch (bitCount) {
        case 1:
          dst[x] = paletteColor((uint32_t{src[x / 8]} >> (7 - x % 8)) & 1u);
          break;
        case 4:
          dst[x] = paletteColor(x % 2 == 0 ? uint32_t{src[x / 2]} >> 4 : uint32_t{src[x / 2]} & 0x0Fu);
          break;
        case 8:
          dst[x] = paletteColor(src[x]);
          break;
        case 16: {
          uint32_t v = LoadU16(src + 2 * x);
          uint32_t r = is565 ? Expand5((v >> 11) & 31) : Expand5((v >> 10) & 31);
          uint32_t g = is565 ? Expand6((v >> 5) & 63) : Expand5((v >> 5) & 31);
          dst[x] = (r << 16) | (g << 8) | Expand5(v & 31);
          break;
        }
        case 24:
          dst[x] = (uint32_t{src[3 * x + 2]} << 16) | (uint32_t{src[3 * x + 1]} << 8) | src[3 * x];
          break;
        default:
          dst[x] = LoadU32(src + 4 * x) & 0x00FFFFFFu;
          break;
      }
    }
  }
  return bitmap;
}

TPictureCollectionItem::TPictureCollectionItem(TPictureCollection& owner, int index)
    : THashCollectionItem(owner.Buckets, index), Owner(&owner) {}

int32_t TPictureCollectionItem::EffectiveWidth() const { return PatternWidth > 0 ? PatternWidth : Picture.Width; }
int32_t TPictureCollectionItem::EffectiveHeight() const {
  return PatternHeight > 0 ? PatternHeight : Picture.Height;
}

void TPictureCollection::LoadArchive(const std::string& path) {
  std::vector<uint8_t> bytes = ReadArchiveFile(path);
  LoadArchiveData(bytes.data(), bytes.size(), path);
}

void TPictureCollection::LoadArchiveData(const uint8_t* data, size_t size, const std::string& fileName) {
  Clear();
  ReadArchiveData(data, size, fileName, [this](TStreamReader& reader) { ReadArchive(reader); });
}

TPictureCollectionItem* TPictureCollection::PictureAt(int index) const {
  if (index < 0 || index >= Count()) throw EArchiveError("List index out of bounds (%d)", index);
  return Items[static_cast<size_t>(index)].get();
}

TPictureCollectionItem* TPictureCollection::FindPicture(const std::string& name) const {
  if (THashCollectionItem* item = Buckets.Find(name)) return static_cast<TPictureCollectionItem*>(item);
  throw EArchiveError("Image '%s' not found", name.c_str());
}

TPictureCollectionItem* TPictureCollection::Add() {
  Items.push_back(std::make_unique<TPictureCollectionItem>(*this, Count()));
  return Items.back().get();
}

void TPictureCollection::Clear() { Items.clear(); }

void TPictureCollection::ReadArchive(TStreamReader& reader) {
  ReadResourceHeader(reader);
  ReadRootStart(reader);
  while (!AtEndOfList(reader)) {
    std::string property = reader.ReadShortString();
    ReadPropertyGuarded(kRootClass, property, [&] {
      if (SameText(property, "List.ColorTable")) {
        TStreamReader table = ReadBinaryValue(reader);
        std::memcpy(ColorTable.data(), table.ReadBytes(ColorTable.size()), ColorTable.size());
      } else if (SameText(property, "List")) {
        if (reader.ReadU8() != vaCollection) throw EArchiveError("Invalid property value");
        if (!AtEndOfList(reader)) Clear();
        while (!AtEndOfList(reader)) {
          ReadItemStart(reader);
          TPictureCollectionItem* item = Add();
          try {
            ReadPicture(reader, *item);
          } catch (...) {
            Items.pop_back();  // only pictures read whole stay
            throw;
          }
        }
        ReadListEnd(reader);
      } else {
        throw EArchiveError("Property %s does not exist", property.c_str());
      }
    });
  }
  ReadListEnd(reader);  // end of the root's properties
  reader.ReadU8();      // its (empty) list of children
}

void TPictureCollection::ReadPicture(TStreamReader& reader, TPictureCollectionItem& item) {
  while (!AtEndOfList(reader)) {
    std::string property = reader.ReadShortString();
    ReadPropertyGuarded(kItemClass, property, [&] {
      if (SameText(property, "Name")) {
        item.SetName(ReadStringValue(reader));
      } else if (SameText(property, "PatternHeight")) {
        item.PatternHeight = ReadIntegerValue(reader, ColorIdentToValue);
      } else if (SameText(property, "PatternWidth")) {
        item.PatternWidth = ReadIntegerValue(reader, ColorIdentToValue);
      } else if (SameText(property, "Picture.Data")) {
        TStreamReader blob = ReadBinaryValue(reader);
        std::string codec = blob.ReadShortString();
        TPictureBitmap bitmap;
        if (codec == "TDIB") bitmap = DecodeDib(blob);
        item.Picture = std::move(bitmap);
        item.Codec = codec;
      } else if (SameText(property, "SkipHeight")) {
        item.SkipHeight = ReadIntegerValue(reader, ColorIdentToValue);
      } else if (SameText(property, "SkipWidth")) {
        item.SkipWidth = ReadIntegerValue(reader, ColorIdentToValue);
      } else if (SameText(property, "SystemMemory")) {
        item.SystemMemory = ReadBooleanValue(reader);
      } else if (SameText(property, "Transparent")) {
        item.Transparent = ReadBooleanValue(reader);
      } else if (SameText(property, "TransparentColor")) {
        item.TransparentColor = ReadIntegerValue(reader, ColorIdentToValue);
      } else {
        throw EArchiveError("Property %s does not exist", property.c_str());
      }
    });
  }
  ReadListEnd(reader);
}
