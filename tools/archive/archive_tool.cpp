#include "tools/archive/archive_tool.h"

#include <cstdarg>
#include <cstdio>
#include <filesystem>
#include <sstream>

#include "common/format.h"
#include "common/binary_io.h"
#include "platform/files.h"
#include "platform/png_codec.h"

namespace fs = std::filesystem;

namespace {

enum class TArchiveKind { Image, Wave };

TArchiveKind KindOf(const std::string& path) {
  std::string ext = fs::path(path).extension().string();
  if (SameText(ext, ".dxg")) return TArchiveKind::Image;
  if (SameText(ext, ".dxw")) return TArchiveKind::Wave;
  throw EArchiveToolError(path, "the name must end in .dxg (pictures) or .dxw (sounds)");
}

bool ParseInt(const std::string& text, int64_t low, int64_t high, int32_t& value) {
  if (text.empty()) return false;
  bool negative = text[0] == '-';
  size_t start = negative || text[0] == '+' ? 1 : 0;
  int base = 10;
  if (text.size() > start + 2 && text[start] == '0' && (text[start + 1] == 'x' || text[start + 1] == 'X')) {
    base = 16;
    start += 2;
  }
  if (start >= text.size()) return false;
  int64_t result = 0;
  for (size_t i = start; i < text.size(); ++i) {
    char c = text[i];
    int digit = c >= '0' && c <= '9'   ? c - '0'
                : c >= 'a' && c <= 'f' ? c - 'a' + 10
                : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                       : 99;
    if (digit >= base) return false;
    result = result * base + digit;
    if (result > (int64_t{1} << 33)) return false;
  }
  if (negative) result = -result;
  if (result < low || result > high) return false;
  value = static_cast<int32_t>(static_cast<uint32_t>(result));
  return true;
}

std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (char ch : text) {
    unsigned char c = static_cast<unsigned char>(ch);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += ch;
    } else if (c < 0x20 || c >= 0x7F) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", c);  // bytes above 127 read as Latin-1
      out += escaped;
    } else {
      out += ch;
    }
  }
  return out + "\"";
}

// NNN-name with every character outside [A-Za-z0-9._-] replaced: no separator survives, and the number
// in front keeps "." and ".." from being the whole name, so the file stays inside DIR.
std::string OutputName(int index, const std::string& name, const char* extension) {
  char number[16];
  std::snprintf(number, sizeof number, "%03d-", index);
  std::string safe;
  for (char c : name) {
    bool keep = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
                c == '_' || c == '.';
    safe += keep ? c : '_';
  }
  return number + safe + extension;
}

void WriteOutput(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::string reason;
  if (!plat::WriteFileAtomically(path, bytes.data(), bytes.size(), reason))
    throw EArchiveToolError(path, "%s", reason.c_str());
}

void ListPictures(const TPictureCollection& archive, bool json, std::ostream& out) {
  if (json) out << "[";
  for (int i = 0; i < archive.Count(); ++i) {
    const TPictureCollectionItem& p = *archive.PictureAt(i);
    if (json) {
      out << (i ? ",\n " : "\n ") << "{\"index\": " << i << ", \"name\": " << JsonString(p.Name())
          << ", \"width\": " << p.Picture.Width << ", \"height\": " << p.Picture.Height
          << ", \"patternWidth\": " << p.PatternWidth << ", \"patternHeight\": " << p.PatternHeight
          << ", \"skipWidth\": " << p.SkipWidth << ", \"skipHeight\": " << p.SkipHeight
          << ", \"systemMemory\": " << (p.SystemMemory ? "true" : "false")
          << ", \"transparent\": " << (p.Transparent ? "true" : "false")
          << ", \"transparentColor\": " << p.TransparentColor << ", \"codec\": " << JsonString(p.Codec)
          << "}";
    } else {
      char color[16];
      std::snprintf(color, sizeof color, "0x%08X", static_cast<uint32_t>(p.TransparentColor));
      out << i << " " << p.Name() << " " << p.Picture.Width << "x" << p.Picture.Height << " pattern "
          << p.PatternWidth << "x" << p.PatternHeight << " skip " << p.SkipWidth << "x" << p.SkipHeight
          << " systemMemory " << p.SystemMemory << " transparent " << p.Transparent << " color " << color
          << " codec " << (p.Codec.empty() ? "-" : p.Codec) << "\n";
    }
  }
  if (json) out << (archive.Count() ? "\n]\n" : "]\n");
}

void ListSounds(const TWaveCollection& archive, bool json, std::ostream& out) {
  if (json) out << "[";
  for (int i = 0; i < archive.Count(); ++i) {
    const TWaveCollectionItem& s = *archive.WaveAt(i);
    if (json) {
      out << (i ? ",\n " : "\n ") << "{\"index\": " << i << ", \"name\": " << JsonString(s.Name())
          << ", \"looped\": " << (s.Looped ? "true" : "false")
          << ", \"maxPlayingCount\": " << s.MaxPlayingCount << ", \"formatTag\": " << s.Wave.FormatTag()
          << ", \"channels\": " << s.Wave.Channels() << ", \"samplesPerSec\": " << s.Wave.SamplesPerSec()
          << ", \"bitsPerSample\": " << s.Wave.BitsPerSample() << ", \"dataBytes\": " << s.Wave.Data.size()
          << "}";
    } else {
      out << i << " " << s.Name() << " looped " << s.Looped << " maxPlayingCount " << s.MaxPlayingCount
          << " format " << s.Wave.FormatTag() << " channels " << s.Wave.Channels() << " rate "
          << s.Wave.SamplesPerSec() << " bits " << s.Wave.BitsPerSample() << " data " << s.Wave.Data.size()
          << "\n";
    }
  }
  if (json) out << (archive.Count() ? "\n]\n" : "]\n");
}

void Extract(const std::string& file, const std::string& dir, std::ostream& out) {
  std::error_code failure;
  fs::create_directories(dir, failure);
  if (failure) throw EArchiveToolError(dir, "%s", failure.message().c_str());
  if (KindOf(file) == TArchiveKind::Image) {
    TPictureCollection archive;
    archive.LoadArchive(file);
    for (int i = 0; i < archive.Count(); ++i) {
      const TPictureCollectionItem& p = *archive.PictureAt(i);
      std::string path = (fs::path(dir) / OutputName(i, p.Name(), ".png")).string();
      if (p.Picture.Empty()) {
        out << "skipped " << i << " " << p.Name() << ": no bitmap\n";
        continue;
      }
      std::string reason;
      if (!plat::WritePng(path, p.Picture.Width, p.Picture.Height, p.Picture.Pixels.data(), reason))
        throw EArchiveToolError(path, "%s", reason.c_str());
      out << path << "\n";
    }
  } else {
    TWaveCollection archive;
    archive.LoadWaveArchive(file);
    for (int i = 0; i < archive.Count(); ++i) {
      const TWaveCollectionItem& s = *archive.WaveAt(i);
      std::string path = (fs::path(dir) / OutputName(i, s.Name(), ".wav")).string();
      WriteOutput(path, WriteWave(s.Wave));
      out << path << "\n";
    }
  }
}

void Pack(const std::string& manifestPath, const std::string& output) {
  TArchiveKind kind = KindOf(output);
  std::vector<uint8_t> bytes;
  std::string reason;
  if (!plat::ReadFileBytes(manifestPath, bytes, reason))
    throw EArchiveToolError(manifestPath, "%s", reason.c_str());
  std::vector<TManifestEntry> entries =
      ParseManifest(std::string(bytes.begin(), bytes.end()), manifestPath, kind == TArchiveKind::Image);
  if (kind == TArchiveKind::Image) {
    std::vector<TPackedPicture> pictures;
    for (TManifestEntry& entry : entries) {
      plat::TPngImage png;
      if (!plat::ReadPng(entry.Source, png, reason))
        throw EArchiveToolError(entry.Source, "%s", reason.c_str());
      entry.Picture.Bitmap.Width = png.Width;
      entry.Picture.Bitmap.Height = png.Height;
      entry.Picture.Bitmap.Pixels = std::move(png.Pixels);
      pictures.push_back(std::move(entry.Picture));
    }
    WriteOutput(output, WriteImageArchive(pictures));
  } else {
    std::vector<TPackedSound> sounds;
    for (TManifestEntry& entry : entries) {
      std::vector<uint8_t> wav;
      if (!plat::ReadFileBytes(entry.Source, wav, reason) || !ReadWavFile(wav, entry.Sound.Wave, reason))
        throw EArchiveToolError(entry.Source, "%s", reason.c_str());
      sounds.push_back(std::move(entry.Sound));
    }
    WriteOutput(output, WriteWaveArchive(sounds));
  }
}

constexpr const char* kUsage =
    "usage: pellorin-archive list FILE [--json] | extract FILE DIR | pack MANIFEST OUT\n";

}  // namespace

EArchiveToolError::EArchiveToolError(const std::string& file, const char* format, ...)
    : std::runtime_error(""), File(file) {
  va_list args;
  va_start(args, format);
  static_cast<std::runtime_error&>(*this) = std::runtime_error(FormatTextV(format, args));
  va_end(args);
}

std::vector<TManifestEntry> ParseManifest(const std::string& text, const std::string& manifestPath,
                                          bool pictures) {
  fs::path base = fs::path(manifestPath).parent_path();
  std::vector<TManifestEntry> entries;
  std::istringstream lines(text);
  std::string line;
  int number = 0;
  while (std::getline(lines, line)) {
    ++number;
    std::string where = manifestPath + ":" + std::to_string(number);
    std::vector<std::string> fields;
    std::istringstream words(line.substr(0, line.find('#')));
    for (std::string word; words >> word;) fields.push_back(word);
    if (fields.empty()) continue;
    size_t wanted = pictures ? 9 : 4;
    if (fields.size() != wanted)
      throw EArchiveToolError(where, "expected %zu fields (%s), found %zu", wanted,
                              pictures ? "name, source, pattern width and height, skip width and height, "
                                         "system memory, transparent, transparent colour"
                                       : "name, source, looped, max playing count",
                              fields.size());
    TManifestEntry entry;
    entry.Name = fields[0];
    entry.Source = (base / fields[1]).string();
    entry.Line = number;
    auto integer = [&](size_t i, const char* what) {
      int32_t value = 0;
      if (!ParseInt(fields[i], INT32_MIN, INT32_MAX, value))
        throw EArchiveToolError(where, "%s is not a number: %s", what, fields[i].c_str());
      return value;
    };
    auto flag = [&](size_t i, const char* what) {
      if (fields[i] != "0" && fields[i] != "1")
        throw EArchiveToolError(where, "%s must be 0 or 1: %s", what, fields[i].c_str());
      return fields[i] == "1";
    };
    if (pictures) {
      TPackedPicture& p = entry.Picture;
      p.Name = entry.Name;
      p.PatternWidth = integer(2, "pattern width");
      p.PatternHeight = integer(3, "pattern height");
      p.SkipWidth = integer(4, "skip width");
      p.SkipHeight = integer(5, "skip height");
      p.SystemMemory = flag(6, "system memory");
      p.Transparent = flag(7, "transparent");
      if (!ParseInt(fields[8], INT32_MIN, UINT32_MAX, p.TransparentColor) &&
          !ColorIdentToValue(fields[8], p.TransparentColor))
        throw EArchiveToolError(where, "transparent colour is neither a number nor a colour name: %s",
                                fields[8].c_str());
    } else {
      TPackedSound& s = entry.Sound;
      s.Name = entry.Name;
      s.Looped = flag(2, "looped");
      s.MaxPlayingCount = integer(3, "max playing count");
    }
    entries.push_back(std::move(entry));
  }
  return entries;
}

int RunArchiveTool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  try {
    if (args.size() >= 2 && args[0] == "list" &&
        (args.size() == 2 || (args.size() == 3 && args[2] == "--json"))) {
      bool json = args.size() == 3;
      if (KindOf(args[1]) == TArchiveKind::Image) {
        TPictureCollection archive;
        archive.LoadArchive(args[1]);
        ListPictures(archive, json, out);
      } else {
        TWaveCollection archive;
        archive.LoadWaveArchive(args[1]);
        ListSounds(archive, json, out);
      }
    } else if (args.size() == 3 && args[0] == "extract") {
      Extract(args[1], args[2], out);
    } else if (args.size() == 3 && args[0] == "pack") {
      Pack(args[1], args[2]);
    } else {
      err << kUsage;
      return 2;
    }
  } catch (const EArchiveError& error) {
    err << (error.File.empty() ? "pellorin-archive" : error.File) << ": " << error.what() << "\n";
    return 1;
  } catch (const EArchiveToolError& error) {
    err << error.File << ": " << error.what() << "\n";
    return 1;
  }
  return 0;
}
