// The wave archive (.dxw): the game's sound effects, each a name, its play options and the sound data
// taken from a RIFF WAVE image. The wave list owns one TWaveCollection, which owns its sounds; callers
// keep plain pointers from FindWave, valid until the next load. This is the file side only: playing
// the sounds belongs to the sound device.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/archive_stream.h"
#include "engine/sound.h"

// One sound's data: the format block (a copy of the "fmt " chunk, normally the wave-format structure)
// and the sample data. The accessors read the format block's fields, 0 when it is too short to hold them.
struct TWave {
  std::vector<uint8_t> Format;
  std::vector<uint8_t> Data;

  uint16_t FormatTag() const;
  uint16_t Channels() const;
  uint32_t SamplesPerSec() const;
  uint32_t AvgBytesPerSec() const;
  uint16_t BlockAlign() const;
  uint16_t BitsPerSample() const;
};

// Reads a RIFF WAVE image that fills the whole reader. Bytes 0-3 must be "RIFF" and 8-11 "WAVE", else
// "Wave is invalid". Chunks follow until an identifier of 0 or the end; sizes are taken exactly as
// stored (no padding byte after an odd size). A chunk larger than what is left is "Stream read error".
TWave ReadWave(TStreamReader& reader);
// The RIFF WAVE image ReadWave reads back: "fmt " then "data". Chunks are not padded to an even size,
// since ReadWave takes sizes exactly as stored.
std::vector<uint8_t> WriteWave(const TWave& wave);

class TWaveCollection;

class TWaveCollectionItem : public THashCollectionItem {
 public:
  TWaveCollectionItem(TWaveCollection& owner, int index);

  TWaveCollection& Collection() const { return *Owner; }

  bool Looped = false;
  int32_t MaxPlayingCount = 0;  // overlapping copies at most; never below 0; 0 = no limit
  int32_t Frequency = 0;        // samples per second; 0 = the recorded rate (not stored in the file)
  int32_t Pan = 0;              // 0 = centre (not stored in the file)
  int32_t Volume = 0;           // attenuation in 1/100 dB; 0 = full (not stored in the file)
  TWave Wave;

  // Plays the sound on the collection's device: nothing while unbound or when the device is silent.
  // wait: returns once the sound has finished (a looped sound does not wait).
  void PlayWave(bool wait);
  TSoundEffect Playback;  // the main buffer and the extra buffers

 private:
  TWaveCollection* Owner;
};

class TWaveCollection : public TSoundListener {
 public:
  TWaveCollection() = default;
  ~TWaveCollection() override;
  TWaveCollection(const TWaveCollection&) = delete;
  TWaveCollection& operator=(const TWaveCollection&) = delete;

  // Empties the archive and reads the file (a game path such as "sound\gamesound.dxw"). Failures as
  // for the image archive: "Cannot open file "%s". %s", or the stream's text with File set to path and
  // the archive holding the sounds read whole before the failure.
  void LoadWaveArchive(const std::string& path);
  void LoadWaveArchiveData(const uint8_t* data, size_t size, const std::string& fileName);

  // Case-insensitive; among equal names the sound read last. "Wave '%s' not found" when absent.
  TWaveCollectionItem* FindWave(const std::string& name) const;
  // "List index out of bounds (%d)" outside 0 .. Count() - 1.
  TWaveCollectionItem* WaveAt(int index) const;
  int Count() const { return static_cast<int>(Items.size()); }

  TWaveCollectionItem* Add();
  void Clear();

  // The device the sounds play on (null: none). While it runs, every sound is bound with a main buffer.
  void BindSound(TDXSound* sound);
  void SoundInitialized(TDXSound& sound) override;
  void SoundRestored(TDXSound& sound) override;
  void SoundFinalized(TDXSound& sound) override;

 private:
  friend class TWaveCollectionItem;
  void ReadArchive(TStreamReader& reader);
  void ReadSound(TStreamReader& reader, TWaveCollectionItem& item);

  void BindItems();

  TDXSound* Sound = nullptr;
  THashBuckets Buckets;  // declared before Items: items unlink themselves as they go
  std::vector<std::unique_ptr<TWaveCollectionItem>> Items;  // file order
};
