#include "app/window_placement.h"

#include <charconv>
#include <cstdint>
#include <cstdio>
#include <system_error>
#include <vector>

#include "platform/files.h"

namespace {

// Reads a whole number at text[at] into value and moves at past it; a sign is required when signed.
bool ReadNumber(const std::string& text, size_t& at, bool needSign, int& value) {
  if (at >= text.size()) return false;
  const bool sign = text[at] == '+' || text[at] == '-';
  if (sign != needSign) return false;
  const char* first = text.data() + at + (text[at] == '+' ? 1 : 0);
  const char* last = text.data() + text.size();
  if (first == last || *first == '+' || (!needSign && *first == '-')) return false;
  const auto [end, problem] = std::from_chars(first, last, value);
  if (problem != std::errc()) return false;
  at = static_cast<size_t>(end - text.data());
  return true;
}

}  // namespace

bool ParseWindowPlacement(const std::string& text, plat::TWindowPlacement& placement) {
  plat::TWindowPlacement read;
  size_t at = 0;
  if (!ReadNumber(text, at, false, read.Width) || at >= text.size() || text[at++] != 'x' ||
      !ReadNumber(text, at, false, read.Height) || !ReadNumber(text, at, true, read.X) ||
      !ReadNumber(text, at, true, read.Y) || read.Width <= 0 || read.Height <= 0)
    return false;
  const std::string rest = text.substr(at);
  if (rest == "\n" || rest.empty()) {
    read.Maximized = false;
  } else if (rest == "\nmaximized\n" || rest == "\nmaximized") {
    read.Maximized = true;
  } else {
    return false;
  }
  placement = read;
  return true;
}

std::string WindowPlacementText(const plat::TWindowPlacement& placement) {
  char line[64];
  std::snprintf(line, sizeof line, "%dx%d%+d%+d\n", placement.Width, placement.Height, placement.X, placement.Y);
  return std::string(line) + (placement.Maximized ? "maximized\n" : "");
}

bool LoadWindowPlacement(plat::TWindowPlacement& placement) {
  std::vector<uint8_t> bytes;
  std::string error;
  if (!plat::ReadFileBytes(plat::UserFilePath(kWindowPlacementFile), bytes, error) || bytes.size() > 256)
    return false;
  return ParseWindowPlacement(std::string(bytes.begin(), bytes.end()), placement);
}

bool SaveWindowPlacement(const plat::TWindowPlacement& placement, std::string& error) {
  const std::string text = WindowPlacementText(placement);
  return plat::MakeFolders(plat::GameFolders().User, error) &&
         plat::WriteFileAtomically(plat::UserFilePath(kWindowPlacementFile),
                                   reinterpret_cast<const uint8_t*>(text.data()), text.size(), error);
}
