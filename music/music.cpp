#include "music/music.h"

#include <atomic>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "engine/sound.h"
#include "platform/files.h"
#include "platform/module_player.h"

namespace {

// A loaded song as the mixer sees it.
class TSong : public TSoundStream {
 public:
  explicit TSong(std::unique_ptr<plat::TModulePlayer> player) : Player(std::move(player)) {}
  void Rewind() override { Player->Rewind(); }
  void Render(int16_t* out, int frames, int channels) override {
    Player->Render(out, frames, channels, Rate.load(std::memory_order_relaxed));
  }

  std::atomic<int> Rate{44100};  // the mixer's rate; set by the game thread, read by the audio thread

 private:
  std::unique_ptr<plat::TModulePlayer> Player;
};

// --- music state ---
TDXSound* Output = nullptr;
std::map<uint32_t, std::shared_ptr<TSong>> Songs;
uint32_t LastHandle = 0;
uint32_t Current = 0;          // the song playing, 0 when none
std::vector<uint32_t> Played;  // songs that played and were stopped or replaced: released at the next load

void Retire(uint32_t handle) {
  if (handle != 0) Played.push_back(handle);
}

TMixer* CurrentMixer() { return Output != nullptr ? Output->GetMixer() : nullptr; }

}  // namespace

uint32_t CurrentSong = 0;

uint32_t SongLoadFromFile(const char* path) {
  if (path == nullptr) return 0;
  std::vector<uint8_t> bytes;
  std::string error;
  if (!plat::ReadFileBytes(plat::ResolvePath(path), bytes, error)) return 0;
  auto player = plat::LoadModule(bytes);
  if (!player) return 0;

  for (uint32_t old : Played) {
    if (old != Current) Songs.erase(old);
  }
  Played.clear();
  uint32_t handle = ++LastHandle;
  if (handle == 0) handle = ++LastHandle;  // 0 means failure; skip it when the counter wraps
  Songs[handle] = std::make_shared<TSong>(std::move(player));
  return handle;
}

int32_t SongPlay(uint32_t handle) {
  auto it = Songs.find(handle);
  if (it == Songs.end()) return 0;
  if (Current != handle) Retire(Current);
  Current = handle;
  if (TMixer* mixer = CurrentMixer()) {
    it->second->Rate.store(mixer->Format().Rate, std::memory_order_relaxed);
    mixer->SetStream(it->second);
  }
  return 1;
}

int32_t SongStop(uint32_t handle) {
  if (handle == 0 || handle != Current) return 0;
  Retire(Current);
  Current = 0;
  if (TMixer* mixer = CurrentMixer()) mixer->SetStream(nullptr);
  return 1;
}

void AttachMusicOutput(TDXSound* sound) {
  if (TMixer* mixer = CurrentMixer()) mixer->SetStream(nullptr);
  Output = sound;
  Retire(Current);
  Current = 0;
}

uint32_t PlayingSong() { return Current; }

void ResetMusicState() {
  CurrentSong = 0;
  AttachMusicOutput(nullptr);
  Songs.clear();
  Played.clear();
  LastHandle = 0;
}
