// pellorin-soak: plays games back to back on the headless platform, as fast as the machine allows, with
// a pilot that presses random inputs from a seed, for a span of game time. The real main window runs
// over the game's data; the files it writes (config.dat, replays/) go to a scratch folder. At the end one
// line reports the games, the ticks and their rate, and the memory. It fails on an error the program
// reports, on a state it should never reach, and on memory that grows from game to game; a crash or a
// sanitizer report ends it by itself.
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/main_form.h"
#include "game/game_state.h"
#include "platform/files.h"
#include "platform/headless_platform.h"
#include "tools/soak/soak_pilot.h"

#ifndef PELLORIN_RUN_DIR
#error "the build sets PELLORIN_RUN_DIR to the build's copy of the game"
#endif

namespace fs = std::filesystem;

namespace {

constexpr int kTickMs = 16;
// The memory after the last game may be this much above the memory after the first before the run fails.
constexpr double kAllowedGrowth = 0.05;
// Ticks at the menu after a game before its memory is read: the menu field is built and drawn by then.
constexpr int kSettleTicks = 3;
// A phase other than play that lasts this many ticks means the pilot cannot get out of it.
constexpr int kStuckTicks = 4000;

// AddressSanitizer keeps freed memory in quarantine (256 MB by default), so the resident size grows for
// a long while in a sound program; under it leaks are the sanitizer's own report's business.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kCheckGrowth = false;
#elif defined(__has_feature)
constexpr bool kCheckGrowth = !__has_feature(address_sanitizer);
#else
constexpr bool kCheckGrowth = true;
#endif

struct TSoakOptions {
  double Minutes = 1;
  uint32_t Seed = 1;
  std::string Data = PELLORIN_RUN_DIR;  // holds data/ and sound/
  std::string Folder;  // the user's folder; empty: a scratch folder, removed after a clean run
  bool Verbose = false;
};

void PrintUsage(FILE* to) {
  std::fprintf(
      to,
      "Usage: pellorin-soak [--minutes N] [--seed N] [--data DIR] [--folder DIR] [--verbose]\n"
      "Plays games back to back headless with a random pilot for N minutes of game time (default 1;\n"
      "a tick is %d ms). --data: the folder that holds data/ and sound/ (default the build's run/).\n"
      "--folder: where config.dat and replays/ are written (default a scratch folder, removed after\n"
      "a clean run). --verbose: a line per game. Exit status 0 clean, 1 a fault, 2 a bad command line.\n",
      kTickMs);
}

bool ParseOptions(int argc, char** argv, TSoakOptions& options) {
  for (int i = 1; i < argc; ++i) {
    const std::string word = argv[i];
    if (word == "--help") {
      PrintUsage(stdout);
      std::exit(0);
    }
    if (word == "--verbose") {
      options.Verbose = true;
      continue;
    }
    const bool takesValue = word == "--minutes" || word == "--seed" || word == "--data" || word == "--folder";
    if (!takesValue || i + 1 >= argc) {
      std::fprintf(stderr, "pellorin-soak: %s '%s'\n", takesValue ? "missing value for" : "unknown option",
                   word.c_str());
      return false;
    }
    const std::string value = argv[++i];
    char* end = nullptr;
    if (word == "--minutes") {
      options.Minutes = std::strtod(value.c_str(), &end);
      if (*end != '\0' || !(options.Minutes > 0) || options.Minutes > 24 * 60) {
        std::fprintf(stderr, "pellorin-soak: --minutes wants a number above 0 and up to a day: '%s'\n",
                     value.c_str());
        return false;
      }
    } else if (word == "--seed") {
      const unsigned long long seed = std::strtoull(value.c_str(), &end, 10);
      if (value.empty() || *end != '\0' || seed > UINT32_MAX) {
        std::fprintf(stderr, "pellorin-soak: --seed wants a whole number below 2^32: '%s'\n", value.c_str());
        return false;
      }
      options.Seed = static_cast<uint32_t>(seed);
    } else if (word == "--data") {
      options.Data = value;
    } else {
      options.Folder = value;
    }
  }
  return true;
}

// A "kB" line of /proc/self/status (VmRSS, VmHWM), or 0 when it cannot be read.
long StatusKb(const char* field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  const std::string key = std::string(field) + ":";
  while (std::getline(status, line))
    if (line.rfind(key, 0) == 0) return std::strtol(line.c_str() + key.size(), nullptr, 10);
  return 0;
}

// The resident memory as the game leaves it at the menu (it hands the heap's free memory back when a
// game ends).
long HeldMemoryKb() { return StatusKb("VmRSS"); }

// The audio device's part: pulls the samples of the game time that has passed, as a device would, so
// that the mixer runs and lets go of what it was handed.
class TAudioPuller {
 public:
  explicit TAudioPuller(plat::THeadlessPlatform& headless) : Headless(headless) {}
  void Pull(uint32_t elapsedMs) {
    if (!Headless.Audio) return;
    const plat::TAudioFormat format = Headless.Audio->Format();
    Owed += static_cast<uint64_t>(elapsedMs) * static_cast<uint64_t>(format.Rate);
    int frames = static_cast<int>(Owed / 1000);
    Owed %= 1000;
    while (frames > 0) {
      const int chunk = std::min(frames, 4096);
      Samples.resize(static_cast<size_t>(chunk) * static_cast<size_t>(format.Channels));
      Headless.Audio->Pull(Samples.data(), chunk);
      frames -= chunk;
    }
  }

 private:
  plat::THeadlessPlatform& Headless;
  uint64_t Owed = 0;  // frames x 1000 not pulled yet
  std::vector<int16_t> Samples;
};

struct TSoakResult {
  int Games = 0;
  int NameEntries = 0, SendQuestions = 0;
  uint64_t Ticks = 0;     // frames presented
  uint64_t PlayedMs = 0;  // game time, the last game's wrap-up included
  double Seconds = 0;     // wall-clock time
  long FirstKb = 0;       // resident memory after the first game, at the menu (HeldMemoryKb)
  long EndKb = 0;         // the same after the last game
  std::string Fault;
};

TSoakResult Soak(const TSoakOptions& options, plat::THeadlessPlatform& headless) {
  TSoakResult result;
  TSoakPilot pilot(headless, options.Seed);
  TAudioPuller audio(headless);
  const auto started = std::chrono::steady_clock::now();
  const uint64_t spanMs = static_cast<uint64_t>(options.Minutes * 60000.0);
  uint64_t& playedMs = result.PlayedMs;
  TmainForm form;
  int phaseTicks = 0;
  int menuTicks = 0;
  bool awaitingMeasure = false;  // a game has ended; its memory is read once the menu has settled
  uint8_t lastPhase = Game.GamePhase;
  while (result.Fault.empty()) {
    if (!headless.MessageBoxes.empty()) {
      result.Fault = "the program reported \"" + headless.MessageBoxes.front() + "\"";
      break;
    }
    const bool wrapUp = playedMs >= spanMs;
    if (wrapUp && Game.GamePhase == gpMenu && !awaitingMeasure) break;
    if (!awaitingMeasure) pilot.Act(wrapUp);  // the menu after a game stays as it is until it is measured
    if (!pilot.Fault().empty()) {
      result.Fault = pilot.Fault();
      break;
    }
    const uint32_t before = headless.Clock;
    form.ProcessMessages();
    if (form.Closed()) {
      result.Fault = "the window closed";
      break;
    }
    const uint32_t elapsed = headless.Clock - before;
    playedMs += elapsed;
    audio.Pull(elapsed);

    const uint8_t phase = Game.GamePhase;
    phaseTicks = phase == lastPhase ? phaseTicks + 1 : 0;
    if (phase != gpPlaying && phaseTicks > kStuckTicks) {
      result.Fault = "the game stayed in phase " + std::to_string(phase) + " for " +
                     std::to_string(kStuckTicks) + " ticks";
      break;
    }
    if (phase == gpMenu && lastPhase != gpMenu) {
      ++result.Games;
      awaitingMeasure = true;
      menuTicks = 0;
    }
    lastPhase = phase;
    if (phase != gpMenu || !awaitingMeasure || ++menuTicks < kSettleTicks) continue;
    awaitingMeasure = false;
    const long held = HeldMemoryKb();
    if (result.Games == 1) result.FirstKb = held;
    result.EndKb = held;
    if (options.Verbose) {
      std::printf("game %d: score %u, level %u, %llu ticks so far, resident %ld kB\n", result.Games,
                  static_cast<unsigned>(Game.Score), static_cast<unsigned>(Game.Level),
                  static_cast<unsigned long long>(headless.PresentCount), held);
      std::fflush(stdout);
    }
  }
  result.NameEntries = pilot.NameEntries;
  result.SendQuestions = pilot.SendQuestions;
  result.Ticks = headless.PresentCount;
  result.Seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  if (result.Games == 0) result.FirstKb = result.EndKb = HeldMemoryKb();
  return result;
}

}  // namespace

int main(int argc, char** argv) {
  TSoakOptions options;
  if (!ParseOptions(argc, argv, options)) {
    PrintUsage(stderr);
    return 2;
  }
  for (const char* folder : {"data", "sound"})
    if (!fs::is_directory(fs::path(options.Data) / folder)) {
      std::fprintf(stderr, "pellorin-soak: no %s/ in %s: build the data files or name them with --data\n",
                   folder, options.Data.c_str());
      return 2;
    }

  const bool scratch = options.Folder.empty();
  std::string folder = options.Folder;
  if (scratch) {
    std::string pattern = (fs::temp_directory_path() / "pellorin-soak-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) {
      std::perror("pellorin-soak: a scratch folder");
      return 1;
    }
    folder = pattern;
  } else {
    fs::create_directories(folder);
  }
  // Nothing may reach the world high-score page: the pilot always says "No", and were a result sent
  // anyway it would go to a closed port on this machine.
  std::ofstream(fs::path(folder) / "server.url") << "http://127.0.0.1:9\n";

  plat::THeadlessPlatform headless;
  headless.Seed = options.Seed;
  headless.KeepFrames = false;
  plat::SetPlatform(&headless);
  plat::SetGameFolders({options.Data, folder});
  TSoakResult result;
  try {
    result = Soak(options, headless);
  } catch (const std::exception& error) {
    result.Fault = std::string("an exception: ") + error.what();
  }
  plat::SetPlatform(nullptr);

  const double growth = result.FirstKb > 0 ? static_cast<double>(result.EndKb - result.FirstKb) /
                                                 static_cast<double>(result.FirstKb)
                                           : 0;
  std::printf(
      "soak: %d games (%d to the name entry, %d to the send question), %llu ticks (%.1f min of game time) in "
      "%.1f s, %.0f ticks/s, peak memory %ld kB, "
      "resident after the first game %ld kB, at the end %ld kB (%+.1f%%%s)\n",
      result.Games, result.NameEntries, result.SendQuestions, static_cast<unsigned long long>(result.Ticks),
      static_cast<double>(result.PlayedMs) / 60000.0, result.Seconds,
      result.Seconds > 0 ? static_cast<double>(result.Ticks) / result.Seconds : 0.0, StatusKb("VmHWM"),
      result.FirstKb, result.EndKb, growth * 100, kCheckGrowth ? "" : ", not checked here");
  std::fflush(stdout);  // before a sanitizer's leak report ends the process at exit
  if (result.Fault.empty() && kCheckGrowth && growth > kAllowedGrowth)
    result.Fault = "the memory after the last game is more than 5% above the memory after the first";
  if (!result.Fault.empty()) {
    std::fprintf(stderr, "pellorin-soak: FAILED with seed %u: %s; the files are in %s\n", options.Seed,
                 result.Fault.c_str(), folder.c_str());
    return 1;
  }
  if (scratch) {
    std::error_code ignored;
    fs::remove_all(folder, ignored);
  }
  return 0;
}
