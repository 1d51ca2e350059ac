// Program entry: the command line, the folders of the game's files, the SDL platform, the main window
// and its message loop, then play.url.
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "app/kept_replays.h"
#include "app/main_form.h"
#include "app/replay_host.h"
#include "online/web_links.h"
#include "platform/files.h"
#include "platform/sdl_platform.h"
#include "settings/settings.h"

#ifndef PELLORIN_VERSION
#error "the build sets PELLORIN_VERSION to the project's version"
#endif
#ifndef PELLORIN_DATA_FROM_PROGRAM
#error "the build sets PELLORIN_DATA_FROM_PROGRAM and PELLORIN_INSTALLED_DATA to the installed data folder"
#endif

namespace {

enum class TReplayOption { None, Record, Watch, Verify };

// What the command line asks of this run.
struct TRunOptions {
  bool Help = false;
  bool Version = false;
  int WindowMode = -1;  // for this run only: 1 window, 0 full screen, -1 as config.dat says
  TReplayOption Replay = TReplayOption::None;
  std::string ReplayFile;      // empty after --replay alone: the best kept game
  int ReplayOptionsGiven = 0;  // more than one is a mistake
  bool EveryFrame = false;     // --verify-replay draws and compares every frame
  bool SetServer = false;      // --server: write ServerUrl to server.url and exit
  std::string ServerUrl;
};

// One option of the command line. An option with an Argument takes it as "--name VALUE" or
// "--name=VALUE"; an Argument in brackets may be left out, and then the next word is taken only when
// it is not an option. Apply receives it (nullptr when there is none).
struct TOption {
  const char* Name;
  const char* Argument;
  const char* Help;
  void (*Apply)(TRunOptions& options, const char* value);
};

void SetReplayOption(TRunOptions& options, TReplayOption option, const char* file) {
  options.Replay = option;
  options.ReplayFile = file ? file : "";
  ++options.ReplayOptionsGiven;
}

constexpr TOption kOptions[] = {
    {"--fullscreen", nullptr, "play full screen this time (the options keep their setting)",
     [](TRunOptions& o, const char*) { o.WindowMode = 0; }},
    {"--window", nullptr, "play in a window this time (the options keep their setting)",
     [](TRunOptions& o, const char*) { o.WindowMode = 1; }},
    {"--help", nullptr, "show this help and exit", [](TRunOptions& o, const char*) { o.Help = true; }},
    {"--version", nullptr, "show the version and exit",
     [](TRunOptions& o, const char*) { o.Version = true; }},
    {"--replay", "[FILE]", "watch a kept game again (the best one without FILE)",
     [](TRunOptions& o, const char* file) { SetReplayOption(o, TReplayOption::Watch, file); }},
    {"--record", "FILE", "play as usual and also write each game's replay to FILE",
     [](TRunOptions& o, const char* file) { SetReplayOption(o, TReplayOption::Record, file); }},
    {"--verify-replay", "FILE", "play a replay headless and check its result (one JSON line)",
     [](TRunOptions& o, const char* file) { SetReplayOption(o, TReplayOption::Verify, file); }},
    {"--every-frame", nullptr, "with --verify-replay: draw every frame and compare the frames' hashes too",
     [](TRunOptions& o, const char*) { o.EveryFrame = true; }},
    {"--server", "URL", "send world high scores to the server at URL from now on (writes server.url)",
     [](TRunOptions& o, const char* url) {
       o.SetServer = true;
       o.ServerUrl = url;
     }},
};

void PrintUsage(FILE* to) {
  std::fprintf(to, "Usage: pellorin [OPTION]...\nA side-scrolling aircraft shooter.\n\n");
  for (const TOption& option : kOptions) {
    std::string name = option.Name;
    if (option.Argument) name += std::string(" ") + option.Argument;
    std::fprintf(to, "  %-20s %s\n", name.c_str(), option.Help);
  }
  std::fprintf(
      to,
      "\nSettings and high scores are kept in config.dat, beside the game's data when that folder\n"
      "is writable, else in $XDG_DATA_HOME/pellorin (~/.local/share/pellorin). The world high-score\n"
      "server's address is the one line of server.url in the same folder (--server URL writes\n"
      "it), here %s.\n",
      plat::UserFilePath("server.url").c_str());
}

// --server: server.url written, or why not. 0, 2 for an address that is not one, 1 when it cannot be
// written.
int SetServerAddress(const std::string& url) {
  std::string path, error;
  switch (SaveServerAddress(url, path, error)) {
    case TSaveServerResult::ssSaved:
      std::printf("pellorin: world high scores go to %s from now on (written to %s)\n",
                  ServerAddress().c_str(), path.c_str());
      return 0;
    case TSaveServerResult::ssBadAddress:
      std::fprintf(stderr,
                   "pellorin: '%s' is not a server address: http:// or https://, a host and an optional "
                   "port, such as http://scores.example.org:8080; %s is left as it was\n",
                   url.c_str(), path.c_str());
      return 2;
    case TSaveServerResult::ssWriteFailed:
      break;
  }
  std::fprintf(stderr, "pellorin: cannot write %s: %s\n", path.c_str(), error.c_str());
  return 1;
}

// Reads argv into options. On a mistake: says what it was and the usage on standard error, false.
bool ParseCommandLine(int argc, char** argv, TRunOptions& options) {
  for (int i = 1; i < argc; ++i) {
    std::string word = argv[i];
    std::string name = word.substr(0, word.find('='));
    const TOption* found = nullptr;
    for (const TOption& option : kOptions)
      if (name == option.Name) found = &option;
    const char* problem = nullptr;
    const char* value = nullptr;
    if (!found) {
      problem = "unknown option";
    } else if (found->Argument) {
      const bool optional = found->Argument[0] == '[';
      if (name.size() < word.size())
        value = argv[i] + name.size() + 1;
      else if (i + 1 < argc && !(optional && argv[i + 1][0] == '-'))
        value = argv[++i];
      if (!optional && (value == nullptr || *value == '\0')) problem = "missing argument for";
    } else if (name.size() < word.size()) {
      problem = "no argument allowed for";
    }
    if (problem) {
      std::fprintf(stderr, "pellorin: %s '%s'\n", problem, found ? found->Name : word.c_str());
      PrintUsage(stderr);
      return false;
    }
    found->Apply(options, value);
  }
  const char* problem = nullptr;
  if (options.ReplayOptionsGiven > 1)
    problem = "only one of --record, --replay and --verify-replay at a time";
  else if (options.Replay == TReplayOption::Verify && options.WindowMode >= 0)
    problem = "--verify-replay opens no window: --window and --fullscreen do not go with it";
  else if (options.EveryFrame && options.Replay != TReplayOption::Verify)
    problem = "--every-frame goes with --verify-replay only";
  else if (options.SetServer && (options.Replay != TReplayOption::None || options.WindowMode >= 0))
    problem = "--server writes server.url and exits: it goes with no other option";
  if (problem) {
    std::fprintf(stderr, "pellorin: %s\n", problem);
    PrintUsage(stderr);
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  const plat::TInstallLayout layout{
      "pellorin", {"data", "sound"}, PELLORIN_DATA_FROM_PROGRAM, PELLORIN_INSTALLED_DATA};
  plat::SetGameFolders(plat::FindGameFolders(plat::ProgramDir(), layout));
  TRunOptions options;
  if (!ParseCommandLine(argc, argv, options)) return 2;
  if (options.Help) {
    PrintUsage(stdout);
    return 0;
  }
  if (options.Version) {
    std::printf("Pellorin %s\n", PELLORIN_VERSION);
    return 0;
  }
  if (options.SetServer) return SetServerAddress(options.ServerUrl);
  if (options.Replay == TReplayOption::Verify)
    return VerifyReplayFile(options.ReplayFile,
                            options.EveryFrame ? TReplayCheck::EveryFrame : TReplayCheck::LastFrame);
  if (options.Replay == TReplayOption::Watch) return WatchReplay(options.ReplayFile, options.WindowMode);
  if (options.Replay == TReplayOption::Record) RecordGamesTo(options.ReplayFile);
  SetWindowModeForRun(options.WindowMode);
  std::string error;
  std::unique_ptr<plat::TPlatform> platform = plat::CreateSdlPlatform(error);
  if (!platform) {
    std::fprintf(stderr, "pellorin: no display to open a window on: %s\n", error.c_str());
    return 1;
  }
  plat::SetPlatform(platform.get());
  {
    TmainForm mainForm;
    mainForm.Run();
  }
  // Ended by the session or a signal rather than by the player: no browser opens on the way out.
  if (plat::TerminationSignal() == 0) OpenPlayUrl();
  plat::SetPlatform(nullptr);
  platform.reset();
  plat::EndLikeTheSignal();
  return 0;
}
