// pellorin-verify.js: the replay check of `pellorin --verify-replay` as a Node program, compiled from
// the same game. It prints the same JSON line and exits with the same status. Its data (data/, sound/
// and fonts/) lie beside the script.
#include <cstdio>
#include <cstring>
#include <string>

#include "app/replay_host.h"
#include "platform/files.h"

int main(int argc, char** argv) {
  std::string file;
  bool everyFrame = false;
  bool usage = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--every-frame") == 0)
      everyFrame = true;
    else if (argv[i][0] == '-' || !file.empty())
      usage = true;
    else
      file = argv[i];
  }
  if (usage || file.empty()) {
    std::fprintf(stderr, "Usage: pellorin-verify.js [--every-frame] FILE\n"
                         "Plays a Pellorin replay headless and checks its result (one JSON line).\n");
    return 2;
  }
  // argv[0] is the script's own path.
  std::string folder = argc > 0 ? argv[0] : "";
  const size_t slash = folder.rfind('/');
  folder = slash == std::string::npos ? "." : folder.substr(0, slash);
  plat::SetGameFolders({folder, folder});
  return VerifyReplayFile(file, everyFrame ? TReplayCheck::EveryFrame : TReplayCheck::LastFrame);
}
