#include "common/text.h"

#include <cstdio>

std::pair<char32_t, size_t> Utf8CodePointAt(std::string_view text, size_t at) {
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(at);
  if (lead < 0x80) return {lead, 1};
  size_t length = lead >= 0xC2 && lead <= 0xDF   ? 2
                  : lead >= 0xE0 && lead <= 0xEF ? 3
                  : lead >= 0xF0 && lead <= 0xF4 ? 4
                                                 : 0;
  if (length == 0 || at + length > text.size()) return {kUtf8Replacement, 1};
  char32_t code = lead & (0xFF >> (length + 1));
  for (size_t i = 1; i < length; ++i) {
    if ((byte(at + i) & 0xC0) != 0x80) return {kUtf8Replacement, 1};
    code = code << 6 | (byte(at + i) & 0x3F);
  }
  const char32_t least = length == 2 ? 0x80 : length == 3 ? 0x800 : 0x10000;
  if (code < least || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return {kUtf8Replacement, 1};
  return {code, length};
}

std::string EscapeJson(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  const auto escape = [&out](char32_t unit) {
    char escaped[16];
    std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(unit & 0xFFFF));
    out += escaped;
  };
  for (size_t at = 0; at < text.size();) {
    auto [code, length] = Utf8CodePointAt(text, at);
    at += length;
    if (code == '"' || code == '\\') {
      out.push_back('\\');
      out.push_back(static_cast<char>(code));
    } else if (code < 0x20 || code >= 0x7F) {
      if (code >= 0x10000) {
        escape(0xD800 + ((code - 0x10000) >> 10));
        escape(0xDC00 + ((code - 0x10000) & 0x3FF));
      } else {
        escape(code);
      }
    } else {
      out.push_back(static_cast<char>(code));
    }
  }
  return out;
}
