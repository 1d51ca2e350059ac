// Hand-made archive bytes for the loader tests: what the writer never emits (other tags, identifiers,
// property orders, prefixes) spelled out byte by byte, little-endian.
#pragma once

#include <cstdint>
#include <string>

namespace archive_bytes {

inline std::string U16(uint16_t v) { return {static_cast<char>(v & 0xFF), static_cast<char>(v >> 8)}; }
inline std::string U32(uint32_t v) { return U16(static_cast<uint16_t>(v)) + U16(static_cast<uint16_t>(v >> 16)); }
inline std::string Short(const std::string& s) { return std::string(1, static_cast<char>(s.size())) + s; }
inline std::string Byte(int b) { return std::string(1, static_cast<char>(b)); }

inline std::string Int8(int v) { return Byte(0x02) + Byte(v); }
inline std::string Int16(int v) { return Byte(0x03) + U16(static_cast<uint16_t>(v)); }
inline std::string Int32(int32_t v) { return Byte(0x04) + U32(static_cast<uint32_t>(v)); }
inline std::string Ident(const std::string& s) { return Byte(0x07) + Short(s); }
inline std::string Str(const std::string& s) { return Byte(0x06) + Short(s); }
inline std::string Binary(const std::string& data) { return Byte(0x0A) + U32(static_cast<uint32_t>(data.size())) + data; }
inline std::string Prop(const std::string& name, const std::string& value) { return Short(name) + value; }

// Resource header with the given name, "TPF0", root record with no prefix and an empty object name, the
// root's properties, and the two closing zero bytes.
inline std::string Container(const std::string& resource, const std::string& rootClass, const std::string& props) {
  std::string body = "TPF0" + Short(rootClass) + Short("") + props + std::string(2, '\0');
  return "\xFF\x0A" + std::string(1, '\0') + resource + std::string(1, '\0') + U16(0x1030) +
         U32(static_cast<uint32_t>(body.size())) + body;
}

// An image archive: a zero colour table, then the given items (each already "\x01 ... \x00").
inline std::string ImageArchive(const std::string& items) {
  return Container("TPICTURECOLLECTIONCOMPONENT", "TPictureCollectionComponent",
                   Prop("List.ColorTable", Binary(std::string(1024, '\0'))) +
                       Prop("List", Byte(0x0E) + items + Byte(0)));
}

inline std::string Item(const std::string& props) { return Byte(0x01) + props + Byte(0); }

inline std::string Riff(const std::string& chunks) { return "RIFF" + U32(static_cast<uint32_t>(4 + chunks.size())) + "WAVE" + chunks; }
inline std::string Chunk(const std::string& id, const std::string& data) {
  return id + U32(static_cast<uint32_t>(data.size())) + data;
}

inline std::string WaveArchive(const std::string& items) {
  return Container("TWAVECOLLECTIONCOMPONENT", "TWaveCollectionComponent", Prop("List", Byte(0x0E) + items + Byte(0)));
}

}  // namespace archive_bytes
