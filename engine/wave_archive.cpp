#include "engine/wave_archive.h"

#include <exception>

#include <cstring>

#include "common/binary_io.h"
#include "platform/files.h"

namespace {

constexpr const char* kRootClass = "TWaveCollectionComponent";
constexpr const char* kItemClass = "TWaveCollectionItem";

uint16_t FormatU16(const std::vector<uint8_t>& format, size_t offset) {
  return format.size() >= offset + 2 ? LoadU16(format.data() + offset) : 0;
}
uint32_t FormatU32(const std::vector<uint8_t>& format, size_t offset) {
  return format.size() >= offset + 4 ? LoadU32(format.data() + offset) : 0;
}

void AppendChunk(std::vector<uint8_t>& out, const char* id, const std::vector<uint8_t>& bytes) {
  AppendBytes(out, id, 4);
  AppendU32(out, static_cast<uint32_t>(bytes.size()));
  AppendBytes(out, bytes.data(), bytes.size());
}

}  // namespace

uint16_t TWave::FormatTag() const { return FormatU16(Format, 0); }
uint16_t TWave::Channels() const { return FormatU16(Format, 2); }
uint32_t TWave::SamplesPerSec() const { return FormatU32(Format, 4); }
uint32_t TWave::AvgBytesPerSec() const { return FormatU32(Format, 8); }
uint16_t TWave::BlockAlign() const { return FormatU16(Format, 12); }
uint16_t TWave::BitsPerSample() const { return FormatU16(Format, 14); }

TWave ReadWave(TStreamReader& reader) {
  if (reader.Remaining() < 12) throw EArchiveError("Wave is invalid");
  const uint8_t* head = reader.ReadBytes(12);
  if (std::memcmp(head, "RIFF", 4) != 0 || std::memcmp(head + 8, "WAVE", 4) != 0)
    throw EArchiveError("Wave is invalid");
  TWave wave;
  while (reader.Remaining() >= 4) {
    const uint8_t* id = reader.ReadBytes(4);
    if (LoadU32(id) == 0) break;
    uint32_t size = reader.ReadU32();
    const uint8_t* bytes = reader.ReadBytes(size);
    if (std::memcmp(id, "fmt ", 4) == 0)
      wave.Format.assign(bytes, bytes + size);
    else if (std::memcmp(id, "data", 4) == 0)
      wave.Data.assign(bytes, bytes + size);
  }
  return wave;
}

std::vector<uint8_t> WriteWave(const TWave& wave) {
  std::vector<uint8_t> out;
  AppendText(out, "RIFF");
  AppendU32(out, 0);
  AppendText(out, "WAVE");
  AppendChunk(out, "fmt ", wave.Format);
  AppendChunk(out, "data", wave.Data);
  StoreU32(out, 4, static_cast<uint32_t>(out.size() - 8));
  return out;
}

TWaveCollectionItem::TWaveCollectionItem(TWaveCollection& owner, int index)
    : THashCollectionItem(owner.Buckets, index), Owner(&owner) {}

void TWaveCollection::LoadWaveArchive(const std::string& path) {
  std::vector<uint8_t> bytes = ReadArchiveFile(path);
  LoadWaveArchiveData(bytes.data(), bytes.size(), path);
}

void TWaveCollection::LoadWaveArchiveData(const uint8_t* data, size_t size, const std::string& fileName) {
  Clear();
  ReadArchiveData(data, size, fileName, [this](TStreamReader& reader) { ReadArchive(reader); });
  BindItems();
}

void TWaveCollectionItem::PlayWave(bool wait) {
  Playback.Looped = Looped;
  Playback.SetMaxPlayingCount(MaxPlayingCount);  // a change frees the extra buffers
  Playback.PlayWave(wait);
}

TWaveCollection::~TWaveCollection() { BindSound(nullptr); }

void TWaveCollection::BindSound(TDXSound* sound) {
  if (Sound != nullptr) {
    Sound->RemoveListener(this);
    for (auto& item : Items) item->Playback.Unbind();
  }
  Sound = sound;
  if (Sound != nullptr) {
    Sound->AddListener(this);
    BindItems();
  }
}

// A sound that cannot be made into a buffer does not keep the ones after it silent: every sound is
// bound, then the first failure is raised.
void TWaveCollection::BindItems() {
  if (Sound == nullptr || !Sound->Initialized()) return;
  std::exception_ptr first;
  for (auto& item : Items) {
    try {
      item->Playback.SetWave(item->Wave.Format, item->Wave.Data);
      item->Playback.Bind(*Sound);
    } catch (...) {
      if (!first) first = std::current_exception();
    }
  }
  if (first) std::rethrow_exception(first);
}

void TWaveCollection::SoundInitialized(TDXSound&) { BindItems(); }

void TWaveCollection::SoundRestored(TDXSound&) {
  for (auto& item : Items) item->Playback.Restore();
}

void TWaveCollection::SoundFinalized(TDXSound&) {
  for (auto& item : Items) item->Playback.Unbind();
}

TWaveCollectionItem* TWaveCollection::FindWave(const std::string& name) const {
  if (THashCollectionItem* item = Buckets.Find(name)) return static_cast<TWaveCollectionItem*>(item);
  throw EArchiveError("Wave '%s' not found", name.c_str());
}

TWaveCollectionItem* TWaveCollection::WaveAt(int index) const {
  if (index < 0 || index >= Count()) throw EArchiveError("List index out of bounds (%d)", index);
  return Items[static_cast<size_t>(index)].get();
}

TWaveCollectionItem* TWaveCollection::Add() {
  Items.push_back(std::make_unique<TWaveCollectionItem>(*this, Count()));
  return Items.back().get();
}

void TWaveCollection::Clear() { Items.clear(); }

void TWaveCollection::ReadArchive(TStreamReader& reader) {
  ReadResourceHeader(reader);
  ReadRootStart(reader);
  while (!AtEndOfList(reader)) {
    std::string property = reader.ReadShortString();
    ReadPropertyGuarded(kRootClass, property, [&] {
      if (!SameText(property, "List")) throw EArchiveError("Property %s does not exist", property.c_str());
      if (reader.ReadU8() != vaCollection) throw EArchiveError("Invalid property value");
      if (!AtEndOfList(reader)) Clear();
      while (!AtEndOfList(reader)) {
        ReadItemStart(reader);
        TWaveCollectionItem* item = Add();
        try {
          ReadSound(reader, *item);
        } catch (...) {
          Items.pop_back();  // only sounds read whole stay
          throw;
        }
      }
      ReadListEnd(reader);
    });
  }
  ReadListEnd(reader);  // end of the root's properties
  reader.ReadU8();      // its (empty) list of children
}

void TWaveCollection::ReadSound(TStreamReader& reader, TWaveCollectionItem& item) {
  while (!AtEndOfList(reader)) {
    std::string property = reader.ReadShortString();
    ReadPropertyGuarded(kItemClass, property, [&] {
      if (SameText(property, "Name")) {
        item.SetName(ReadStringValue(reader));
      } else if (SameText(property, "Looped")) {
        item.Looped = ReadBooleanValue(reader);
      } else if (SameText(property, "MaxPlayingCount")) {
        int32_t count = ReadIntegerValue(reader, nullptr);
        item.MaxPlayingCount = count < 0 ? 0 : count;
      } else if (SameText(property, "Wave.WAVE")) {
        TStreamReader blob = ReadBinaryValue(reader);
        item.Wave = ReadWave(blob);
      } else {
        throw EArchiveError("Property %s does not exist", property.c_str());
      }
    });
  }
  ReadListEnd(reader);
}
