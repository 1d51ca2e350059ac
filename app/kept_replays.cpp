#include "app/kept_replays.h"

#include <algorithm>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <optional>
#include <utility>

#include "game/replay.h"
#include "game/replay_file.h"
#include "platform/files.h"
#include "platform/platform.h"
#include "settings/settings.h"

namespace fs = std::filesystem;
using plat::Platform;

namespace {

constexpr size_t kKeptReplays = 10;

std::string RecordPath;     // --record FILE; empty: none
bool EnteredTable = false;  // the current game's name entry was confirmed
// The finished game's recording once taken before the hand-back to the menu (to be sent with its
// result); KeepGameReplay keeps it then.
std::optional<TReplay> Finished;

struct TKept {
  std::string Path;
  unsigned Score;
  std::string Date;
};

// Kept games by their names; other files in the folder are left alone.
std::vector<TKept> ListKept() {
  std::vector<TKept> kept;
  std::error_code error;
  for (const fs::directory_entry& entry : fs::directory_iterator(ReplayFolder(), error)) {
    const std::string name = entry.path().filename().string();
    unsigned score = 0;
    char date[16] = {};
    int used = 0;
    if (name.size() == 28 && std::sscanf(name.c_str(), "%5u-%15[0-9-].replay%n", &score, date, &used) == 2 &&
        used == 28 && score <= 65535)
      kept.push_back({entry.path().string(), score, date});
  }
  std::sort(kept.begin(), kept.end(), [](const TKept& a, const TKept& b) {
    return a.Score != b.Score ? a.Score > b.Score : a.Date < b.Date;
  });
  return kept;
}

void Save(const std::string& path, const TReplay& replay) {
  try {
    SaveReplay(path, replay);
  } catch (const std::exception& error) {
    Platform().MessageBox(error.what(), "Pellorin");
  }
}

}  // namespace

std::string ReplayFolder() {
  const fs::path config(plat::UserFilePath(kSettingsFile));
  return (config.parent_path() / "replays").string();
}

std::vector<std::string> KeptReplays() {
  std::vector<std::string> paths;
  for (const TKept& kept : ListKept()) paths.push_back(kept.Path);
  return paths;
}

std::string KeptReplayName(uint16_t score, std::time_t when) {
  std::tm local{};
  localtime_r(&when, &local);
  char name[96];
  std::snprintf(name, sizeof name, "%05u-%04d%02d%02d-%02d%02d%02d.replay", score, local.tm_year + 1900,
                local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
  return name;
}

void NoteReplayEnteredTable() { EnteredTable = true; }

std::string FinishedGameReplayBytes(uint16_t score) {
  if (!Finished) Finished = TakeFinishedRecording();
  if (!Finished || Finished->End.Score != score) return {};
  const std::vector<uint8_t> bytes = EncodeReplay(*Finished);
  return std::string(bytes.begin(), bytes.end());
}

void KeepGameReplay(std::time_t now) {
  const bool entered = EnteredTable;
  EnteredTable = false;
  std::optional<TReplay> replay = Finished ? std::move(Finished) : TakeFinishedRecording();
  Finished.reset();
  if (!replay) return;
  if (!RecordPath.empty()) Save(RecordPath, *replay);
  const fs::path folder(ReplayFolder());
  std::error_code error;
  fs::create_directories(folder, error);
  if (error) {
    Platform().MessageBox("The folder " + folder.string() + " cannot be made: " + error.message(),
                          "Pellorin");
    return;
  }
  Save((folder / "last.replay").string(), *replay);
  if (!entered) return;
  Save((folder / KeptReplayName(replay->End.Score, now)).string(), *replay);
  const std::vector<TKept> kept = ListKept();
  for (size_t i = kKeptReplays; i < kept.size(); ++i) fs::remove(kept[i].Path, error);
}

void RecordGamesTo(const std::string& path) { RecordPath = path; }

void ResetReplayRunState() {
  RecordPath.clear();
  EnteredTable = false;
  Finished.reset();
}
