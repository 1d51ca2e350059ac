// Little-endian fields in byte buffers, read and written one at a time. Callers check that the bytes are
// there before they load; the append helpers grow the buffer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

inline uint16_t LoadU16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t LoadU32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
inline int32_t LoadI32(const uint8_t* p) { return static_cast<int32_t>(LoadU32(p)); }

inline void AppendU8(std::vector<uint8_t>& out, uint8_t value) { out.push_back(value); }
inline void AppendU16(std::vector<uint8_t>& out, uint16_t value) {
  out.push_back(static_cast<uint8_t>(value));
  out.push_back(static_cast<uint8_t>(value >> 8));
}
inline void AppendU32(std::vector<uint8_t>& out, uint32_t value) {
  for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<uint8_t>(value >> shift));
}
inline void AppendI32(std::vector<uint8_t>& out, int32_t value) { AppendU32(out, static_cast<uint32_t>(value)); }
// Grows the buffer first and then copies: GCC 12 at -O3 misreads the inlined vector::insert of a short
// constant and reports a write past the end (-Wstringop-overflow) that cannot happen.
inline void AppendBytes(std::vector<uint8_t>& out, const void* data, size_t size) {
  if (size == 0) return;
  const size_t at = out.size();
  out.resize(at + size);
  std::memcpy(out.data() + at, data, size);
}
inline void AppendText(std::vector<uint8_t>& out, std::string_view text) {
  AppendBytes(out, text.data(), text.size());
}
// Overwrites four bytes at offset (which the caller appended earlier).
inline void StoreU32(std::vector<uint8_t>& out, size_t offset, uint32_t value) {
  for (int i = 0; i < 4; ++i) out[offset + static_cast<size_t>(i)] = static_cast<uint8_t>(value >> (8 * i));
}
