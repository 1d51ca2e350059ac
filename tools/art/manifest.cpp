#include "tools/art/manifest.h"

#include <fstream>
#include <sstream>
#include <stdexcept>

namespace art {
namespace {

long ParseNumber(const std::string& text, const std::string& where) {
  size_t used = 0;
  long value = 0;
  try {
    value = std::stol(text, &used, 0);
  } catch (const std::exception&) {
    used = 0;
  }
  if (used != text.size() || value < 0) throw std::runtime_error(where + ": bad number \"" + text + "\"");
  return value;
}

}  // namespace

std::vector<TManifestEntry> ReadManifest(const std::string& path) {
  std::ifstream in(path);
  if (!in) throw std::runtime_error("Cannot open manifest \"" + path + "\"");
  std::vector<TManifestEntry> entries;
  std::string line;
  int number = 0;
  while (std::getline(in, line)) {
    ++number;
    const size_t hash = line.find('#');
    if (hash != std::string::npos) line.erase(hash);
    std::istringstream words(line);
    std::vector<std::string> fields;
    for (std::string w; words >> w;) fields.push_back(w);
    if (fields.empty()) continue;
    const std::string where = path + ":" + std::to_string(number);
    if (fields.size() != 9) throw std::runtime_error(where + ": expected 9 fields, found " + std::to_string(fields.size()));
    TManifestEntry e;
    e.Name = fields[0];
    e.Source = fields[1];
    e.PatternWidth = static_cast<int>(ParseNumber(fields[2], where));
    e.PatternHeight = static_cast<int>(ParseNumber(fields[3], where));
    e.SkipWidth = static_cast<int>(ParseNumber(fields[4], where));
    e.SkipHeight = static_cast<int>(ParseNumber(fields[5], where));
    const long sys = ParseNumber(fields[6], where);
    const long transparent = ParseNumber(fields[7], where);
    if (sys > 1 || transparent > 1) throw std::runtime_error(where + ": flags must be 0 or 1");
    e.SystemMemory = sys == 1;
    e.Transparent = transparent == 1;
    e.TransparentColor = static_cast<uint32_t>(ParseNumber(fields[8], where));
    e.Line = number;
    entries.push_back(e);
  }
  return entries;
}

uint32_t ColorValueToRgb(uint32_t colorValue) {
  return ((colorValue & 0xFFu) << 16) | (colorValue & 0xFF00u) | ((colorValue >> 16) & 0xFFu);
}

}  // namespace art
