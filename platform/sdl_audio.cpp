// The SDL audio device behind OpenSdlAudio.
#include "platform/audio.h"

#include <SDL.h>
#include <dlfcn.h>

#include <algorithm>

namespace plat {

namespace {

// libasound reports every step of a failed search for a sound card on standard error through its error
// handler ("ALSA lib confmisc.c:855:(parse_card) cannot find card '0'" and seven lines more), which
// SDL does not replace. While it lives, this holds the library (when it is installed) and gives it a
// handler that says nothing; afterwards ALSA reports as usual again.
class TQuietAlsa {
 public:
  TQuietAlsa() {
    Library = ::dlopen("libasound.so.2", RTLD_NOW | RTLD_LOCAL);
    if (!Library) return;
    SetHandler = reinterpret_cast<TSetHandler>(::dlsym(Library, "snd_lib_error_set_handler"));
    if (SetHandler) SetHandler(&Silent);
  }
  ~TQuietAlsa() {
    if (SetHandler) SetHandler(nullptr);  // the library's own handler again
    if (Library) ::dlclose(Library);
  }
  TQuietAlsa(const TQuietAlsa&) = delete;
  TQuietAlsa& operator=(const TQuietAlsa&) = delete;

 private:
  using THandler = void (*)(const char* file, int line, const char* function, int error, const char* format, ...);
  using TSetHandler = int (*)(THandler handler);
  static void Silent(const char*, int, const char*, int, const char*, ...) {}

  void* Library = nullptr;
  TSetHandler SetHandler = nullptr;
};

class TSdlAudio : public TAudioOutput {
 public:
  TSdlAudio() {
    TQuietAlsa quiet;
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
      Why = SDL_GetError();
      return;
    }
    SubsystemUp = true;
    SDL_AudioSpec want{};
    want.freq = 44100;
    want.format = AUDIO_S16SYS;
    want.channels = 2;
    want.samples = 1024;  // 23 ms at 44.1 kHz: short enough for shots, long enough not to starve
    want.callback = &TSdlAudio::Callback;
    want.userdata = this;
    SDL_AudioSpec have{};
    // Any rate is accepted; the format and channel count are converted by SDL if the device differs.
    Device = SDL_OpenAudioDevice(nullptr, 0, &want, &have, SDL_AUDIO_ALLOW_FREQUENCY_CHANGE);
    if (Device == 0) {
      Why = SDL_GetError();
      return;
    }
    Fmt.Rate = have.freq;
    Fmt.Channels = have.channels;
    SDL_PauseAudioDevice(Device, 0);
  }

  ~TSdlAudio() override {
    if (Device != 0) SDL_CloseAudioDevice(Device);
    if (SubsystemUp) SDL_QuitSubSystem(SDL_INIT_AUDIO);
  }

  bool Running() const override { return Device != 0; }
  std::string Problem() const override { return Why; }
  TAudioFormat Format() const override { return Fmt; }

  void SetSource(TAudioSource* source) override {
    if (Device == 0) {
      Source = source;
      return;
    }
    // The callback runs under the device lock, so after unlocking the old source is no longer in use.
    SDL_LockAudioDevice(Device);
    Source = source;
    SDL_UnlockAudioDevice(Device);
  }

 private:
  static void SDLCALL Callback(void* user, Uint8* stream, int bytes) {
    auto* self = static_cast<TSdlAudio*>(user);
    int frames = bytes / (2 * self->Fmt.Channels);
    if (self->Source != nullptr) {
      self->Source->Render(reinterpret_cast<int16_t*>(stream), frames);
    } else {
      std::fill(stream, stream + bytes, Uint8{0});
    }
  }

  bool SubsystemUp = false;
  SDL_AudioDeviceID Device = 0;
  std::string Why;
  TAudioFormat Fmt;
  TAudioSource* Source = nullptr;  // read on the device thread under SDL's device lock
};

}  // namespace

std::unique_ptr<TAudioOutput> OpenSdlAudio() { return std::make_unique<TSdlAudio>(); }

}  // namespace plat
