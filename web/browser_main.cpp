// The game in a web page: the browser platform installed, the main window made, and its message loop
// handed to the page's animation frames. The page (index.html) has put the game's data under
// /pellorin and the player's kept files under /home/pellorin before this runs.
#include <emscripten.h>
#include <unistd.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "app/kept_replays.h"
#include "app/main_form.h"
#include "game/replay_file.h"
#include "platform/browser_platform.h"
#include "platform/files.h"
#include "platform/platform.h"

namespace {

// The dropped file's name as a file of the replay folder: letters, digits, '-', '_' and '.', at most 80
// of them, not hidden, ending in ".replay".
std::string KeptNameOf(const std::string& dropped) {
  std::string name;
  for (char c : dropped.substr(0, 80)) {
    const bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                       c == '-' || c == '_' || c == '.';
    name += plain ? c : '_';
  }
  while (!name.empty() && name.front() == '.') name.erase(0, 1);
  const std::string suffix = ".replay";
  if (name.size() < suffix.size() || name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0)
    name += suffix;
  return name;
}

}  // namespace

// A replay file dropped on the page, which the page wrote to staged (removed here): the game's own
// decoding checks it, and one it refuses is said in the message box as the desktop says it ("The replay
// NAME is damaged: ..."), with nothing else changed. A good one is kept in the replay folder under its
// own name (a free one: a file already there is never replaced). Returns 1 when kept, 0 when refused or
// not written (said in the message box).
extern "C" EMSCRIPTEN_KEEPALIVE int pellorin_drop_replay(const char* staged, const char* droppedName) {
  std::vector<uint8_t> bytes;
  std::string error;
  const bool read = plat::ReadFileBytes(staged, bytes, error);
  ::unlink(staged);
  try {
    if (!read) throw EReplayError("The replay %s cannot be read: %s", droppedName, error.c_str());
    DecodeReplay(bytes.data(), bytes.size(), droppedName);
  } catch (const EReplayError& refusal) {
    plat::Platform().MessageBox(refusal.what(), "Pellorin");
    return 0;
  }
  const std::string folder = ReplayFolder();
  const std::string name = KeptNameOf(droppedName);
  std::string path = folder + "/" + name;
  for (int n = 2; plat::FileExists(path); ++n) {
    std::vector<uint8_t> there;
    std::string ignored;
    if (plat::ReadFileBytes(path, there, ignored) && there == bytes) return 1;  // kept already
    path = folder + "/" + name.substr(0, name.size() - 7) + "-" + std::to_string(n) + ".replay";
  }
  if (!plat::MakeFolders(folder, error) ||
      !plat::WriteFileAtomically(path, bytes.data(), bytes.size(), error)) {
    plat::Platform().MessageBox("The replay " + path + " cannot be written: " + error, "Pellorin");
    return 0;
  }
  return 1;
}

int main() {
  plat::SetGameFolders({"/pellorin", "/home/pellorin"});
  // The page holds the game until it is closed: neither is ever freed.
  plat::TPlatform* platform = plat::CreateBrowserPlatform().release();
  plat::SetPlatform(platform);
  auto* form = new TmainForm;
  plat::RunFrameLoop([form] {
    form->ProcessMessages();
    return !form->Closed();
  });
  return 0;
}
