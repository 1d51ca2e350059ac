#include "engine/archive_stream.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "common/binary_io.h"
#include "common/format.h"
#include "platform/files.h"

EArchiveError::EArchiveError(const char* format, ...) {
  va_list args;
  va_start(args, format);
  Message = FormatTextV(format, args);
  va_end(args);
}

void ReadArchiveData(const uint8_t* data, size_t size, const std::string& fileName,
                     const std::function<void(TStreamReader&)>& read) {
  TStreamReader reader(data, size);
  try {
    read(reader);
  } catch (EArchiveError& error) {
    error.File = fileName;
    throw;
  }
}

std::vector<uint8_t> ReadArchiveFile(const std::string& path) {
  std::vector<uint8_t> bytes;
  std::string reason;
  if (!plat::ReadFileBytes(plat::ResolvePath(path), bytes, reason)) {
    EArchiveError error("Cannot open file \"%s\". %s", path.c_str(), reason.c_str());
    error.File = path;
    throw error;
  }
  return bytes;
}

uint8_t TStreamReader::PeekU8() const {
  if (Pos >= Size) throw EArchiveError("Stream read error");
  return Data[Pos];
}

uint8_t TStreamReader::ReadU8() { return *ReadBytes(1); }
uint16_t TStreamReader::ReadU16() { return LoadU16(ReadBytes(2)); }
uint32_t TStreamReader::ReadU32() { return LoadU32(ReadBytes(4)); }

const uint8_t* TStreamReader::ReadBytes(size_t count) {
  if (count > Remaining()) throw EArchiveError("Stream read error");
  const uint8_t* start = Data + Pos;
  Pos += count;
  return start;
}

std::string TStreamReader::ReadShortString() {
  uint8_t length = ReadU8();
  const uint8_t* chars = ReadBytes(length);
  return std::string(reinterpret_cast<const char*>(chars), length);
}

void ReadResourceHeader(TStreamReader& reader) {
  // The resource name is looked for within the first 79 bytes; an unterminated one is cut there.
  constexpr size_t kHeaderProbe = 79;
  size_t available = reader.Remaining() < kHeaderProbe ? reader.Remaining() : kHeaderProbe;
  if (available < 3) throw EArchiveError("Invalid stream format");
  const uint8_t* head = reader.ReadBytes(3);
  if (head[0] != 0xFF || head[1] != 0x0A || head[2] != 0x00) throw EArchiveError("Invalid stream format");
  size_t nameLength = 0;
  while (3 + nameLength < available && head[3 + nameLength] != 0) ++nameLength;
  // Name, its terminator, flags (2) and length (4) are skipped unread.
  size_t skip = nameLength + 7;
  if (skip > reader.Remaining()) throw EArchiveError("Invalid stream format");
  reader.Skip(skip);
  if (reader.Remaining() < 4) throw EArchiveError("Invalid stream format");
  const uint8_t* signature = reader.ReadBytes(4);
  if (std::memcmp(signature, "TPF0", 4) != 0) throw EArchiveError("Invalid stream format");
}

std::string ReadRootStart(TStreamReader& reader) {
  uint8_t prefix = reader.PeekU8();
  if ((prefix & 0xF0) == 0xF0) {
    reader.ReadU8();
    if (prefix & 0x02) ReadIntegerValue(reader, nullptr);  // child position, unused
  }
  std::string className = reader.ReadShortString();
  reader.ReadShortString();  // object name
  return className;
}

int32_t ReadIntegerValue(TStreamReader& reader, TIdentToInt identToInt) {
  switch (reader.ReadU8()) {
    case vaInt8:
      return static_cast<int8_t>(reader.ReadU8());
    case vaInt16:
      return static_cast<int16_t>(reader.ReadU16());
    case vaInt32:
      return reader.ReadI32();
    case vaIdent: {
      std::string ident = reader.ReadShortString();
      int32_t value = 0;
      if (identToInt && identToInt(ident, value)) return value;
      break;
    }
    default:
      break;
  }
  throw EArchiveError("Invalid property value");
}

bool ReadBooleanValue(TStreamReader& reader) {
  switch (reader.ReadU8()) {
    case vaFalse:
      return false;
    case vaTrue:
      return true;
    case vaIdent: {
      std::string ident = reader.ReadShortString();
      if (SameText(ident, "False")) return false;
      if (SameText(ident, "True")) return true;
      break;
    }
    default:
      break;
  }
  throw EArchiveError("Invalid property value");
}

std::string ReadStringValue(TStreamReader& reader) {
  switch (reader.ReadU8()) {
    case vaString:
      return reader.ReadShortString();
    case vaLString:
    case vaUTF8String: {
      uint32_t length = reader.ReadU32();
      const uint8_t* chars = reader.ReadBytes(length);
      return std::string(reinterpret_cast<const char*>(chars), length);
    }
    case vaWString: {
      uint32_t count = reader.ReadU32();
      if (count > reader.Remaining() / 2) throw EArchiveError("Stream read error");
      const uint8_t* chars = reader.ReadBytes(size_t{count} * 2);
      std::string text(count, '?');
      for (size_t i = 0; i < count; ++i) {
        uint16_t c = LoadU16(chars + 2 * i);
        if (c < 256) text[i] = static_cast<char>(c);
      }
      return text;
    }
    default:
      break;
  }
  throw EArchiveError("Invalid property value");
}

TStreamReader ReadBinaryValue(TStreamReader& reader) {
  if (reader.ReadU8() != vaBinary) throw EArchiveError("Invalid property value");
  uint32_t length = reader.ReadU32();
  const uint8_t* bytes = reader.ReadBytes(length);
  return TStreamReader(bytes, length);
}

bool AtEndOfList(const TStreamReader& reader) { return reader.PeekU8() == vaNull; }

void ReadListEnd(TStreamReader& reader) {
  if (reader.ReadU8() != vaNull) throw EArchiveError("Invalid property value");
}

void ReadItemStart(TStreamReader& reader) {
  uint8_t tag = reader.PeekU8();
  if (tag == vaInt8 || tag == vaInt16 || tag == vaInt32) ReadIntegerValue(reader, nullptr);
  if (reader.ReadU8() != vaList) throw EArchiveError("Invalid property value");
}

void RaisePropertyError(const std::string& objectName, const std::string& propName,
                        const EArchiveError& inner) {
  EArchiveError error("Error reading %s%s%s: %s", objectName.c_str(), ".", propName.c_str(), inner.what());
  error.InProperty = true;
  throw error;
}

static char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameText(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  return true;
}

std::vector<uint8_t> BeginArchive(const std::string& resourceName, const std::string& rootClass) {
  std::vector<uint8_t> out;
  AppendU8(out, 0xFF);
  AppendU16(out, 0x000A);
  AppendText(out, resourceName.substr(0, 63));
  AppendU8(out, 0);
  AppendU16(out, 0x1030);
  AppendU32(out, 0);  // the length, filled in by FinishArchive
  AppendText(out, "TPF0");
  WriteShortString(out, rootClass);
  WriteShortString(out, "");
  return out;
}

void FinishArchive(std::vector<uint8_t>& out) {
  AppendU8(out, vaNull);  // end of the root's properties
  AppendU8(out, vaNull);  // no child objects
  size_t nameEnd = 3;
  while (out[nameEnd] != 0) ++nameEnd;
  size_t lengthAt = nameEnd + 3;
  StoreU32(out, lengthAt, static_cast<uint32_t>(out.size() - (lengthAt + 4)));
}

void WriteShortString(std::vector<uint8_t>& out, const std::string& text) {
  size_t length = text.size() < 255 ? text.size() : 255;
  AppendU8(out, static_cast<uint8_t>(length));
  AppendBytes(out, text.data(), length);
}

void WriteIntegerValue(std::vector<uint8_t>& out, int32_t value) {
  if (value >= -128 && value <= 127) {
    AppendU8(out, vaInt8);
    AppendU8(out, static_cast<uint8_t>(value));
  } else if (value >= -32768 && value <= 32767) {
    AppendU8(out, vaInt16);
    AppendU16(out, static_cast<uint16_t>(value));
  } else {
    AppendU8(out, vaInt32);
    AppendI32(out, value);
  }
}

void WriteBooleanValue(std::vector<uint8_t>& out, bool value) { AppendU8(out, value ? vaTrue : vaFalse); }

void WriteStringValue(std::vector<uint8_t>& out, const std::string& text) {
  if (text.size() <= 255) {
    AppendU8(out, vaString);
    WriteShortString(out, text);
  } else {
    AppendU8(out, vaLString);
    AppendU32(out, static_cast<uint32_t>(text.size()));
    AppendText(out, text);
  }
}

void WriteBinaryValue(std::vector<uint8_t>& out, const std::vector<uint8_t>& bytes) {
  AppendU8(out, vaBinary);
  AppendU32(out, static_cast<uint32_t>(bytes.size()));
  AppendBytes(out, bytes.data(), bytes.size());
}

int NameBucket(const std::string& name) {
  size_t length = name.size();
  size_t hash = length * 16;
  if (length >= 2) {
    hash += static_cast<uint8_t>(LowerAscii(name[0]));
    hash += static_cast<uint8_t>(LowerAscii(name[length - 2]));
  }
  return static_cast<int>(hash % 256);
}

THashCollectionItem::THashCollectionItem(THashBuckets& buckets, int index) : Owner(&buckets), ItemIndex(index) {
  Owner->Link(*this);
}

THashCollectionItem::~THashCollectionItem() { Owner->Unlink(*this); }

void THashCollectionItem::SetName(const std::string& name) {
  Owner->Unlink(*this);
  ItemName = name;
  Owner->Link(*this);
}

THashCollectionItem* THashBuckets::Find(const std::string& name) const {
  for (THashCollectionItem* item = Heads[static_cast<size_t>(NameBucket(name))]; item; item = item->Next)
    if (SameText(item->ItemName, name)) return item;
  return nullptr;
}

void THashBuckets::Link(THashCollectionItem& item) {
  int bucket = NameBucket(item.ItemName);
  THashCollectionItem*& head = Heads[static_cast<size_t>(bucket)];
  item.BucketNumber = bucket;
  item.Prev = nullptr;
  item.Next = head;
  if (head) head->Prev = &item;
  head = &item;
}

void THashBuckets::Unlink(THashCollectionItem& item) {
  if (item.BucketNumber < 0) return;
  if (item.Prev)
    item.Prev->Next = item.Next;
  else
    Heads[static_cast<size_t>(item.BucketNumber)] = item.Next;
  if (item.Next) item.Next->Prev = item.Prev;
  item.Prev = item.Next = nullptr;
  item.BucketNumber = -1;
}
