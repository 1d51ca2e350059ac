// Sound effects: the sound device TDXSound, our mixer that stands in for the platform's sound buffers,
// and the playback side of one sound (TSoundEffect: its main buffer, its extra buffers and PlayWave).
// The main window owns the TDXSound; each sound of the wave archive owns one TSoundEffect bound to it.
// The game thread starts and stops voices; the audio output's thread mixes them. They meet only in the
// mixer's command queue (under a lock held for a vector swap) and in each voice's atomic end marker.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "common/error.h"
#include "platform/audio.h"

// A sound as recorded: the fields of the wave format block the mixer needs, and the raw data bytes.
struct TPcmFormat {
  uint16_t FormatTag = 1;  // 1 = integer PCM, the only tag played
  uint16_t Channels = 1;   // 1 or 2
  uint32_t SamplesPerSec = 22050;
  uint16_t BitsPerSample = 16;  // 8 (unsigned) or 16 (signed little-endian)
};

// Reads the fields above from a wave format block (a copy of a RIFF "fmt " chunk, little-endian: tag,
// channels, rate, average bytes per second, block alignment, bits). False when it is under 16 bytes.
bool PcmFormatFromFmtChunk(const uint8_t* block, size_t size, TPcmFormat& format);

// Raised when a sound's buffer cannot be made; the message is printf-style.
using ESoundError = EAreaError<struct TSoundArea>;

// Samples converted to the device's rate and channel count, shared by every voice of one sound.
struct TSampleData {
  std::vector<int16_t> Samples;  // Frames * Channels, interleaved
  int Frames = 0;
  int Channels = 2;
};

// Converts recorded PCM once to the output format (linear interpolation between rates, mono to both
// sides, stereo averaged to mono). Returns null for a format it cannot play (not PCM, not 8 or 16 bits,
// not 1 or 2 channels, rate 0) and for empty data. A trailing partial frame is dropped.
std::shared_ptr<const TSampleData> ConvertPcm(const TPcmFormat& format, const uint8_t* data, size_t size,
                                              plat::TAudioFormat output);

// A continuous source mixed with the effects (the music). Only the audio thread calls it once handed
// to the mixer.
class TSoundStream {
 public:
  virtual ~TSoundStream() = default;
  // Back to the beginning.
  virtual void Rewind() = 0;
  // Fills frames * channels samples (channels 1 or 2, at the mixer's rate).
  virtual void Render(int16_t* out, int frames, int channels) = 0;
};

// One platform "buffer": a voice over shared samples. Created by the mixer; owned by whoever plays it.
class TVoice {
 public:
  const TSampleData& Data() const { return *Samples; }
  const std::shared_ptr<const TSampleData>& SharedData() const { return Samples; }

 private:
  friend class TMixer;
  explicit TVoice(std::shared_ptr<const TSampleData> samples) : Samples(std::move(samples)) {}

  std::shared_ptr<const TSampleData> Samples;
  // Game thread only.
  uint32_t Requested = 0;   // serial of the last Play or Stop posted
  bool PlayPosted = false;  // the last command posted was Play
  bool LoopPosted = false;
  // Written by the audio thread: the serial of a play that ran to its end.
  std::atomic<uint32_t> Finished{0};
  // Audio thread only.
  int Position = 0;  // frames
  uint32_t PlayingSerial = 0;
  bool Active = false;
  bool Loop = false;
};

// The loudest sample the mixer puts out: -1 dBFS. The sum of the voices and the music goes through a
// limiter that keeps every sample at or under it; below it the mix passes unchanged.
constexpr int32_t kMixCeiling = 29204;

// Sums the playing voices and the stream, then limits the sum: a frame over the ceiling lowers the gain
// at once to just what brings it to the ceiling (both channels alike, so nothing shifts sideways); the
// gain holds for kLimiterHoldMs, then returns to 1 with a time constant of kLimiterReleaseMs. So a loud
// moment turns the whole mix down for a moment instead of clipping its peaks, and music and effects keep
// their loudness relative to each other.
class TMixer : public plat::TAudioSource {
 public:
  static constexpr int kLimiterHoldMs = 20;
  static constexpr int kLimiterReleaseMs = 150;

  explicit TMixer(plat::TAudioFormat format);
  plat::TAudioFormat Format() const { return Fmt; }

  // --- game thread ---
  std::shared_ptr<TVoice> CreateVoice(std::shared_ptr<const TSampleData> samples);
  // Starts the voice from its first frame (once, or looping), cutting off what it was playing.
  void Play(const std::shared_ptr<TVoice>& voice, bool loop);
  void Stop(const std::shared_ptr<TVoice>& voice);
  // Playing as far as the game can tell: a posted play counts as playing until the mixer reaches its end.
  bool Playing(const TVoice& voice) const;
  bool Looping(const TVoice& voice) const { return voice.PlayPosted && voice.LoopPosted; }
  // Replaces the stream (null: none); the new one starts from its beginning.
  void SetStream(std::shared_ptr<TSoundStream> stream);

  // --- audio thread ---
  void Render(int16_t* out, int frames) override;

 private:
  enum class TCommandKind : uint8_t { Play, Stop, Stream };
  struct TCommand {
    TCommandKind Kind = TCommandKind::Play;
    std::shared_ptr<TVoice> Voice;
    std::shared_ptr<TSoundStream> Stream;
    uint32_t Serial = 0;
    bool Loop = false;
  };
  void Post(TCommand command);
  void Apply(TCommand& command);
  // Writes the limited sum of count / channels frames to out.
  void Limit(const int32_t* sum, int16_t* out, size_t count);

  plat::TAudioFormat Fmt;

  std::mutex Lock;  // guards Pending and Retired, held only to append or swap
  std::vector<TCommand> Pending;
  // What the audio thread let go of, freed on the game thread so the audio thread never frees memory.
  std::vector<std::shared_ptr<TVoice>> RetiredVoices;
  std::vector<std::shared_ptr<TSoundStream>> RetiredStreams;

  // Audio thread only.
  std::vector<TCommand> Working;
  std::vector<std::shared_ptr<TVoice>> Active;
  std::vector<std::shared_ptr<TVoice>> Released;
  std::vector<std::shared_ptr<TSoundStream>> ReleasedStreams;
  std::shared_ptr<TSoundStream> Stream;
  std::vector<int32_t> Sum;
  std::vector<int16_t> StreamBuffer;
  float LimiterGain = 1.0f;  // 1: the sum passes unchanged
  int LimiterHold = 0;       // frames before the gain may rise again
  int HoldFrames = 0;
  float ReleaseStep = 0.0f;  // the share of the way back to 1 made per frame
};

class TDXSound;

// Told about the device's life: the wave list binds its sounds on initialise and rebuilds their main
// buffers on restore.
class TSoundListener {
 public:
  virtual ~TSoundListener() = default;
  virtual void SoundInitialized(TDXSound& sound) = 0;
  virtual void SoundRestored(TDXSound& sound) = 0;
  virtual void SoundFinalized(TDXSound& sound) = 0;
};

// The sound device component. Initialize takes the audio output (the SDL device for players, the
// headless twin in tests); an output without a device leaves the sound uninitialised, and every
// PlayWave then does nothing.
class TDXSound {
 public:
  TDXSound() = default;
  ~TDXSound();
  TDXSound(const TDXSound&) = delete;
  TDXSound& operator=(const TDXSound&) = delete;

  void Initialize(std::unique_ptr<plat::TAudioOutput> output);
  void Finalize();
  // Rebuilds every sound's main buffer; a restore started from inside a restore does nothing.
  void Restore();
  bool Initialized() const { return Mixer != nullptr; }
  // The mixer of the running device; null when not initialised.
  TMixer* GetMixer() { return Mixer.get(); }
  plat::TAudioOutput* Output() { return Out.get(); }

  void AddListener(TSoundListener* listener);
  void RemoveListener(TSoundListener* listener);

 private:
  std::unique_ptr<plat::TAudioOutput> Out;
  std::unique_ptr<TMixer> Mixer;
  std::vector<TSoundListener*> Listeners;
  bool Restoring = false;
};

// The playback side of one sound: the samples kept as recorded, the main buffer and the extra buffers.
class TSoundEffect {
 public:
  TSoundEffect() = default;
  ~TSoundEffect() { Unbind(); }
  TSoundEffect(const TSoundEffect&) = delete;
  TSoundEffect& operator=(const TSoundEffect&) = delete;

  // The sound's data; kept so the main buffer can be rebuilt after a restore. Drops existing buffers.
  void SetPcm(const TPcmFormat& format, std::vector<uint8_t> data);
  // The same from a wave's format block (the "fmt " chunk) and sample data; a block too short to read
  // leaves a format that cannot be made into a buffer.
  void SetWave(const std::vector<uint8_t>& formatBlock, std::vector<uint8_t> data);
  // Binds to the device and, when it is running, creates the main buffer. Sample data in a format the
  // mixer cannot play raises "Sound Buffer cannot be made" (the sound stays bound, without a buffer).
  void Bind(TDXSound& sound);
  // Frees the extra buffers and the main buffer.
  void Unbind();
  // Rebuilds the main buffer from the kept data.
  void Restore();
  bool Bound() const { return Sound != nullptr; }

  // Looped: restarts the main buffer looping. Otherwise plays an idle extra buffer, a new duplicate, or
  // (with MaxPlayingCount reached) the oldest one of the list. wait: returns when that play has ended.
  void PlayWave(bool wait);
  void Stop();

  bool Looped = false;
  int32_t GetMaxPlayingCount() const { return MaxCount; }
  // Negative values become 0 (no limit); a change frees the extra buffers.
  void SetMaxPlayingCount(int32_t count);

  // For tests and diagnostics.
  const std::vector<std::shared_ptr<TVoice>>& ExtraBuffers() const { return Extra; }
  const std::shared_ptr<TVoice>& MainBuffer() const { return Main; }
  bool Playing() const;

 private:
  void CreateMainBuffer();

  TPcmFormat Format;
  std::vector<uint8_t> Data;
  int32_t MaxCount = 0;  // 0: no limit
  TDXSound* Sound = nullptr;
  std::shared_ptr<TVoice> Main;
  std::vector<std::shared_ptr<TVoice>> Extra;  // oldest first
};
