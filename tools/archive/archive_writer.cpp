#include "tools/archive/archive_writer.h"

#include <cstring>

#include "common/binary_io.h"

std::vector<uint8_t> EncodeDib(const TPictureBitmap& bitmap) {
  size_t width = static_cast<size_t>(bitmap.Width), height = static_cast<size_t>(bitmap.Height);
  size_t stride = (24 * width + 31) / 32 * 4;
  std::vector<uint8_t> out;
  AppendU32(out, 40);
  AppendI32(out, bitmap.Width);
  AppendI32(out, bitmap.Height);
  AppendU16(out, 1);   // planes
  AppendU16(out, 24);  // bit count
  AppendU32(out, 0);   // no compression
  AppendU32(out, static_cast<uint32_t>(stride * height));
  AppendU32(out, 0);  // resolution
  AppendU32(out, 0);
  AppendU32(out, 0);  // colours used
  AppendU32(out, 0);  // colours important
  for (size_t row = height; row-- > 0;) {
    size_t start = out.size();
    for (size_t x = 0; x < width; ++x) {
      uint32_t pixel = bitmap.Pixels[row * width + x];
      AppendU8(out, static_cast<uint8_t>(pixel));
      AppendU8(out, static_cast<uint8_t>(pixel >> 8));
      AppendU8(out, static_cast<uint8_t>(pixel >> 16));
    }
    out.resize(start + stride, 0);
  }
  return out;
}

static void WriteName(std::vector<uint8_t>& out, const char* name) { WriteShortString(out, name); }

std::vector<uint8_t> WriteImageArchive(const std::vector<TPackedPicture>& pictures) {
  std::vector<uint8_t> out = BeginArchive("TPICTURECOLLECTIONCOMPONENT", "TPictureCollectionComponent");
  WriteName(out, "List.ColorTable");
  WriteBinaryValue(out, std::vector<uint8_t>(1024, 0));
  WriteName(out, "List");
  AppendU8(out, vaCollection);
  for (const TPackedPicture& picture : pictures) {
    AppendU8(out, vaList);
    WriteName(out, "Name");
    WriteStringValue(out, picture.Name);
    WriteName(out, "PatternHeight");
    WriteIntegerValue(out, picture.PatternHeight);
    WriteName(out, "PatternWidth");
    WriteIntegerValue(out, picture.PatternWidth);
    WriteName(out, "Picture.Data");
    std::vector<uint8_t> data;
    AppendU8(data, 4);
    AppendText(data, "TDIB");
    std::vector<uint8_t> dib = EncodeDib(picture.Bitmap);
    AppendBytes(data, dib.data(), dib.size());
    WriteBinaryValue(out, data);
    WriteName(out, "SkipHeight");
    WriteIntegerValue(out, picture.SkipHeight);
    WriteName(out, "SkipWidth");
    WriteIntegerValue(out, picture.SkipWidth);
    WriteName(out, "SystemMemory");
    WriteBooleanValue(out, picture.SystemMemory);
    WriteName(out, "Transparent");
    WriteBooleanValue(out, picture.Transparent);
    WriteName(out, "TransparentColor");
    WriteIntegerValue(out, picture.TransparentColor);
    AppendU8(out, vaNull);
  }
  AppendU8(out, vaNull);
  FinishArchive(out);
  return out;
}

std::vector<uint8_t> WriteWaveArchive(const std::vector<TPackedSound>& sounds) {
  std::vector<uint8_t> out = BeginArchive("TWAVECOLLECTIONCOMPONENT", "TWaveCollectionComponent");
  WriteName(out, "List");
  AppendU8(out, vaCollection);
  for (const TPackedSound& sound : sounds) {
    AppendU8(out, vaList);
    WriteName(out, "Name");
    WriteStringValue(out, sound.Name);
    WriteName(out, "Looped");
    WriteBooleanValue(out, sound.Looped);
    WriteName(out, "MaxPlayingCount");
    WriteIntegerValue(out, sound.MaxPlayingCount);
    WriteName(out, "Wave.WAVE");
    WriteBinaryValue(out, WriteWave(sound.Wave));
    AppendU8(out, vaNull);
  }
  AppendU8(out, vaNull);
  FinishArchive(out);
  return out;
}

bool ReadWavFile(const std::vector<uint8_t>& bytes, TWave& wave, std::string& error) {
  if (bytes.size() < 12 || std::memcmp(bytes.data(), "RIFF", 4) != 0 ||
      std::memcmp(bytes.data() + 8, "WAVE", 4) != 0) {
    error = "not a RIFF WAVE file";
    return false;
  }
  bool haveFormat = false, haveData = false;
  size_t pos = 12;
  while (bytes.size() - pos >= 8) {
    const uint8_t* id = bytes.data() + pos;
    size_t size = LoadU32(id + 4);
    pos += 8;
    if (size > bytes.size() - pos) {
      error = "a chunk runs past the end of the file";
      return false;
    }
    if (std::memcmp(id, "fmt ", 4) == 0) {
      wave.Format.assign(id + 8, id + 8 + size);
      haveFormat = true;
    } else if (std::memcmp(id, "data", 4) == 0) {
      wave.Data.assign(id + 8, id + 8 + size);
      haveData = true;
    }
    pos += size + (size % 2 != 0 && pos + size < bytes.size() ? 1 : 0);
  }
  if (!haveFormat || !haveData) {
    error = "no \"fmt \" or \"data\" chunk";
    return false;
  }
  return true;
}
