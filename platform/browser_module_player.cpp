// Songs in the browser build. The page has no sound output yet (OpenAudio gives a silent one), so a
// module is taken as a song that plays silence: the game runs as with music on, and no song is
// reported unreadable for a reason that is the page's. A file that is not a tracker module is still
// refused, as libopenmpt refuses it.
#include "platform/module_player.h"

#include <algorithm>
#include <cstring>

namespace plat {
namespace {

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
  if (!LooksLikeModule(bytes)) {
    if (log) log->push_back("not a tracker module");
    return nullptr;
  }
  return std::make_unique<TSilentModule>();
}

}  // namespace plat
