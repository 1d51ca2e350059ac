// The container the image and wave archives share: a resource header, the "TPF0" signature and one
// object record in a tagged property stream, plus the name look-up through 256 hash buckets that both
// archives use. The readers treat the bytes as hostile: every length is checked against what is left
// before it is used, and every failure is an EArchiveError with the stream's own text. The writers
// produce the layout the readers expect; pellorin-archive uses them.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <string>
#include <vector>

// Every failure of the archives: a damaged file, an unknown name, an index out of range.
// what() is the text the player sees; File names the archive a load failed on.
class EArchiveError : public std::exception {
 public:
  explicit EArchiveError(const char* format, ...) __attribute__((format(printf, 2, 3)));
  const char* what() const noexcept override { return Message.c_str(); }

  std::string Message;
  std::string File;      // set by the loaders; empty for look-up errors
  bool InProperty = false;  // already carries the "Error reading" frame of a property
};

class TStreamReader;

// Runs read over the bytes of one archive; an error leaves with File set to fileName.
void ReadArchiveData(const uint8_t* data, size_t size, const std::string& fileName,
                     const std::function<void(TStreamReader&)>& read);

// The whole archive file at a game path ("data\\menu.dxg"), or "Cannot open file "%s". %s" with File set.
std::vector<uint8_t> ReadArchiveFile(const std::string& path);

// Value tags of the property stream.
enum TValueTag : uint8_t {
  vaNull = 0x00,  // end of a list
  vaList = 0x01,  // start of an item
  vaInt8 = 0x02,
  vaInt16 = 0x03,
  vaInt32 = 0x04,
  vaString = 0x06,  // 1-byte length
  vaIdent = 0x07,   // 1-byte length
  vaFalse = 0x08,
  vaTrue = 0x09,
  vaBinary = 0x0A,   // 32-bit length
  vaLString = 0x0C,  // 32-bit length
  vaCollection = 0x0E,
  vaWString = 0x12,     // 32-bit count of 16-bit characters
  vaUTF8String = 0x14,  // 32-bit byte length
};

// A bounds-checked cursor over a byte range it does not own. Reading past the end raises
// "Stream read error" and leaves the position where it was.
class TStreamReader {
 public:
  TStreamReader(const uint8_t* data, size_t size) : Data(data), Size(size) {}

  size_t Remaining() const { return Size - Pos; }
  size_t Position() const { return Pos; }
  uint8_t PeekU8() const;
  uint8_t ReadU8();
  uint16_t ReadU16();
  uint32_t ReadU32();
  int32_t ReadI32() { return static_cast<int32_t>(ReadU32()); }
  // The next count bytes, moved past; the pointer lives as long as the reader's data.
  const uint8_t* ReadBytes(size_t count);
  void Skip(size_t count) { ReadBytes(count); }
  // A 1-byte length, then the characters.
  std::string ReadShortString();

 private:
  const uint8_t* Data;
  size_t Size;
  size_t Pos = 0;
};

// Bytes 0-2 must be FF 0A 00 and the signature "TPF0" must follow the header, else
// "Invalid stream format". Leaves the reader at the root record.
void ReadResourceHeader(TStreamReader& reader);
// The root record's optional prefix, class name and object name; returns the class name.
std::string ReadRootStart(TStreamReader& reader);

// Maps an identifier to an integer; returns false for a name it does not know.
using TIdentToInt = bool (*)(const std::string& ident, int32_t& value);

// Tagged values. Any tag the kind of value does not accept is "Invalid property value".
// Integers: 0x02-0x04, or an identifier that identToInt knows (none when it is null).
int32_t ReadIntegerValue(TStreamReader& reader, TIdentToInt identToInt);
// Booleans: 0x08, 0x09, or the identifiers "False" and "True".
bool ReadBooleanValue(TStreamReader& reader);
// Strings: 0x06, 0x0C, 0x14 as bytes; 0x12 narrowed to 8-bit text ('?' above 255).
std::string ReadStringValue(TStreamReader& reader);
// Binary: 0x0A, 32-bit length, bytes. Returns a reader over exactly those bytes.
TStreamReader ReadBinaryValue(TStreamReader& reader);

// Collections: each item is an optional integer, 0x01, its properties, 0x00; a 0x00 ends the list.
bool AtEndOfList(const TStreamReader& reader);  // the next byte is 0x00 (or nothing is left)
void ReadListEnd(TStreamReader& reader);        // reads that 0x00
void ReadItemStart(TStreamReader& reader);

// Runs read() for one property of an object. An error inside it leaves as
// "Error reading OBJECT.PROPERTY: inner message", framed once at the innermost property.
template <typename F>
void ReadPropertyGuarded(const std::string& objectName, const std::string& propName, F read);
[[noreturn]] void RaisePropertyError(const std::string& objectName, const std::string& propName,
                                     const EArchiveError& inner);

// Case-insensitive (ASCII) equality of names.
bool SameText(const std::string& a, const std::string& b);

// Writers, producing what the readers above accept. BeginArchive writes the resource header with
// flags 0x1030 and the root record's start; FinishArchive ends the root and fills in the length.
std::vector<uint8_t> BeginArchive(const std::string& resourceName, const std::string& rootClass);
void FinishArchive(std::vector<uint8_t>& out);
void WriteShortString(std::vector<uint8_t>& out, const std::string& text);  // at most 255 characters
void WriteIntegerValue(std::vector<uint8_t>& out, int32_t value);          // the smallest tag that holds it
void WriteBooleanValue(std::vector<uint8_t>& out, bool value);
void WriteStringValue(std::vector<uint8_t>& out, const std::string& text);  // 0x06, or 0x0C when long
void WriteBinaryValue(std::vector<uint8_t>& out, const std::vector<uint8_t>& bytes);

// Name look-up through hash buckets. An item is linked at the head of its bucket when it is made and
// relinked at the head of the new bucket whenever its name changes, so among equal names the one named
// last is found first.
int NameBucket(const std::string& name);

class THashBuckets;

class THashCollectionItem {
 public:
  THashCollectionItem(THashBuckets& buckets, int index);  // linked with the empty name
  ~THashCollectionItem();                                 // unlinked
  THashCollectionItem(const THashCollectionItem&) = delete;
  THashCollectionItem& operator=(const THashCollectionItem&) = delete;

  const std::string& Name() const { return ItemName; }
  void SetName(const std::string& name);
  int Index() const { return ItemIndex; }  // position in the archive
  int Bucket() const { return BucketNumber; }

 private:
  friend class THashBuckets;
  THashBuckets* Owner;
  int ItemIndex;
  int BucketNumber = -1;  // -1 while unlinked
  THashCollectionItem* Prev = nullptr;
  THashCollectionItem* Next = nullptr;
  std::string ItemName;
};

class THashBuckets {
 public:
  // The first item of the name's chain whose name equals it ignoring case, or null.
  THashCollectionItem* Find(const std::string& name) const;

 private:
  friend class THashCollectionItem;
  void Link(THashCollectionItem& item);
  void Unlink(THashCollectionItem& item);
  std::array<THashCollectionItem*, 256> Heads{};
};

template <typename F>
void ReadPropertyGuarded(const std::string& objectName, const std::string& propName, F read) {
  try {
    read();
  } catch (const EArchiveError& error) {
    if (error.InProperty) throw;
    RaisePropertyError(objectName, propName, error);
  }
}
