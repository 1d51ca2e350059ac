#include "platform/module_player.h"

#include <libopenmpt/libopenmpt.h>

#include <algorithm>

namespace plat {

namespace {

struct TModuleDeleter {
  void operator()(openmpt_module* module) const { openmpt_module_destroy(module); }
};

void LogToVector(const char* message, void* user) {
  if (user != nullptr && message != nullptr)
    static_cast<std::vector<std::string>*>(user)->emplace_back(message);
}

class TOpenmptPlayer : public TModulePlayer {
 public:
  explicit TOpenmptPlayer(openmpt_module* module) : Module(module) {
    openmpt_module_set_repeat_count(Module.get(), -1);
    // No dither: the same song renders the same samples every time.
    openmpt_module_ctl_set_integer(Module.get(), "dither", 0);
  }

  void Rewind() override { openmpt_module_set_position_seconds(Module.get(), 0.0); }

  void Render(int16_t* out, int frames, int channels, int rate) override {
    auto left = static_cast<size_t>(frames);
    while (left > 0) {
      size_t got = channels == 1 ? openmpt_module_read_mono(Module.get(), rate, left, out)
                                 : openmpt_module_read_interleaved_stereo(Module.get(), rate, left, out);
      if (got == 0) break;  // cannot happen with endless repeat; silence the rest to be safe
      out += got * static_cast<size_t>(channels);
      left -= got;
    }
    std::fill(out, out + left * static_cast<size_t>(channels), int16_t{0});
  }

  double DurationSeconds() const override { return openmpt_module_get_duration_seconds(Module.get()); }
  int ChannelCount() const override { return openmpt_module_get_num_channels(Module.get()); }

 private:
  std::unique_ptr<openmpt_module, TModuleDeleter> Module;
};

}  // namespace

std::unique_ptr<TModulePlayer> LoadModule(const std::vector<uint8_t>& bytes, std::vector<std::string>* log) {
  if (bytes.empty()) return nullptr;
  int error = 0;
  const char* message = nullptr;
  openmpt_module* module =
      openmpt_module_create_from_memory2(bytes.data(), bytes.size(), &LogToVector, log,
                                         &openmpt_error_func_ignore, nullptr, &error, &message, nullptr);
  if (message != nullptr) {
    if (log != nullptr && module == nullptr) log->emplace_back(message);
    openmpt_free_string(message);
  }
  if (module == nullptr) return nullptr;
  return std::make_unique<TOpenmptPlayer>(module);
}

}  // namespace plat
