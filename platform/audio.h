// The one audio output: a device that pulls signed 16-bit interleaved samples from a source. Two
// implementations: the SDL device for players, whose own thread calls the source, and the headless
// twin, where the test pulls the samples itself on its own thread. An output that has no device (none
// present, or it failed to open) is silent and never calls its source.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

namespace plat {

// What the device plays: always signed 16-bit native-endian samples, interleaved by channel.
struct TAudioFormat {
  int Rate = 44100;  // frames per second
  int Channels = 2;  // 1 or 2
};

// Called on the device's thread (or the puller's). Must fill all frames * channels samples.
class TAudioSource {
 public:
  virtual ~TAudioSource() = default;
  virtual void Render(int16_t* out, int frames) = 0;
};

class TAudioOutput {
 public:
  virtual ~TAudioOutput() = default;
  // True when a device is open and playing; false means silence.
  virtual bool Running() const = 0;
  // Why there is no device, in a few words for the player; empty while running.
  virtual std::string Problem() const = 0;
  virtual TAudioFormat Format() const = 0;
  // Installs the source (null: silence). Returns only when the device thread no longer uses the old
  // one, so the caller may free it afterwards.
  virtual void SetSource(TAudioSource* source) = 0;
};

// Opens the default SDL audio device (44100 Hz stereo 16-bit asked, any rate accepted) and starts it.
// Never fails: without a device, or when it cannot be opened, the output is silent (Running false) and
// Problem says why. The sound libraries say nothing on standard error while the device is sought (ALSA
// would otherwise print its search for a card that is not there).
std::unique_ptr<TAudioOutput> OpenSdlAudio();

// The headless twin. With present false it behaves as a machine without a sound device.
class THeadlessAudio : public TAudioOutput {
 public:
  explicit THeadlessAudio(bool present = true, TAudioFormat format = {});
  bool Running() const override { return Present; }
  std::string Problem() const override { return Present ? "" : "no sound device"; }
  TAudioFormat Format() const override { return Fmt; }
  void SetSource(TAudioSource* source) override;
  // Renders frames into out (frames * channels samples) as the device thread would; silence when there
  // is no device or no source.
  void Pull(int16_t* out, int frames);

 private:
  bool Present;
  TAudioFormat Fmt;
  std::mutex Lock;
  TAudioSource* Source = nullptr;
};

}  // namespace plat
