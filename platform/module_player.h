// Tracker modules (XM, MOD, IT, S3M) rendered to PCM by libopenmpt. A module repeats from its restart
// position when it reaches its end. Not thread-safe: one thread at a time uses a module.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace plat {

class TModulePlayer {
 public:
  virtual ~TModulePlayer() = default;
  virtual void Rewind() = 0;
  // Fills frames * channels samples (channels 1 or 2) at rate; the module repeats forever.
  virtual void Render(int16_t* out, int frames, int channels, int rate) = 0;
  // Length of one pass through the song, in seconds.
  virtual double DurationSeconds() const = 0;
  virtual int ChannelCount() const = 0;
};

// Parses a module from memory. Returns null when libopenmpt cannot read it; warnings and errors
// libopenmpt reports while loading are appended to log (one line each), when given.
std::unique_ptr<TModulePlayer> LoadModule(const std::vector<uint8_t>& bytes,
                                          std::vector<std::string>* log = nullptr);

}  // namespace plat
