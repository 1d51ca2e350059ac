// Songs in the browser build: libopenmpt built for the browser runs as a second WebAssembly instance
// that the page loads before the program starts (browser_audio.js holds the calls into it). Module
// bytes go into its heap, rendered samples come back into ours, with the desktop's settings: endless
// repeat, no dither. Where the page has no libopenmpt (pellorin-verify.js under Node, or the page could
// not load it) a module plays silence, so that no song is refused for a reason that is not the file's;
// a file that is not a tracker module is still refused, as libopenmpt refuses it.
#include <algorithm>
#include <cstring>

#include "platform/module_player.h"

extern "C" {
int pellorin_songs_present();
int pellorin_song_create(const uint8_t* bytes, int size, char* message, int messageSize);
void pellorin_song_destroy(int handle);
int pellorin_song_read(int handle, int16_t* out, int frames, int channels, int rate);
void pellorin_song_rewind(int handle);
double pellorin_song_duration(int handle);
int pellorin_song_channels(int handle);
}

namespace plat {
namespace {

class TOpenmptPlayer : public TModulePlayer {
 public:
  explicit TOpenmptPlayer(int handle) : Handle(handle) {}
  ~TOpenmptPlayer() override { pellorin_song_destroy(Handle); }
  TOpenmptPlayer(const TOpenmptPlayer&) = delete;
  TOpenmptPlayer& operator=(const TOpenmptPlayer&) = delete;

  void Rewind() override { pellorin_song_rewind(Handle); }

  void Render(int16_t* out, int frames, int channels, int rate) override {
    int left = frames;
    while (left > 0) {
      const int got = pellorin_song_read(Handle, out, left, channels, rate);
      if (got <= 0) break;  // cannot happen with endless repeat; silence the rest to be safe
      out += static_cast<ptrdiff_t>(got) * channels;
      left -= got;
    }
    std::fill(out, out + static_cast<ptrdiff_t>(left) * channels, int16_t{0});
  }

  double DurationSeconds() const override { return pellorin_song_duration(Handle); }
  int ChannelCount() const override { return pellorin_song_channels(Handle); }

 private:
  int Handle;  // the module's handle in browser_audio.js
};

class TSilentModule : public TModulePlayer {
 public:
  void Rewind() override {}
  void Render(int16_t* out, int frames, int channels, int) override {
    std::fill(out, out + static_cast<ptrdiff_t>(frames) * channels, int16_t{0});
  }
  double DurationSeconds() const override { return 0; }
  int ChannelCount() const override { return 2; }
};

// The signatures of the module formats the game's songs may be in: XM, MOD (the usual four-channel
// tag), IT and S3M.
bool LooksLikeModule(const std::vector<uint8_t>& bytes) {
  auto at = [&](size_t offset, const char* tag) {
    const size_t n = std::strlen(tag);
    return bytes.size() >= offset + n && std::memcmp(bytes.data() + offset, tag, n) == 0;
  };
  return at(0, "Extended Module: ") || at(1080, "M.K.") || at(0, "IMPM") || at(44, "SCRM");
}

}  // namespace

std::unique_ptr<TModulePlayer> LoadModule(const std::vector<uint8_t>& bytes, std::vector<std::string>* log) {
  if (bytes.empty() || bytes.size() > 0x7fffffffu) return nullptr;
  if (!pellorin_songs_present()) {
    if (!LooksLikeModule(bytes)) {
      if (log) log->push_back("not a tracker module");
      return nullptr;
    }
    return std::make_unique<TSilentModule>();
  }
  char message[256] = {};
  const int handle =
      pellorin_song_create(bytes.data(), static_cast<int>(bytes.size()), message, sizeof message);
  if (handle == 0) {
    if (log && message[0] != '\0') log->emplace_back(message);
    return nullptr;
  }
  return std::make_unique<TOpenmptPlayer>(handle);
}

}  // namespace plat
