// One whole game tick (DXTimer2Timer: input, logic, collisions, drawing and the status line; the
// headless window only counts the presented frame, as TypicalFrame leaves presenting out) with n sprites
// of play on the field: a third enemies (aircraft of every kind and ground positions), a third the
// hero's projectiles, each running its collision test over the whole tree, and a third explosions. The
// game's own pictures, the real main window, a headless platform. Compare with TypicalFrame of the same
// run (see README.md).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "app/main_form.h"
#include "app/replay_host.h"
#include "bench/bench_pictures.h"
#include "engine/rtl.h"
#include "game/enemies.h"
#include "game/explosions_bonuses.h"
#include "game/game_state.h"
#include "game/ground_enemies.h"
#include "game/hero.h"
#include "game/replay.h"
#include "game/replay_file.h"
#include "game/weapons.h"
#include "platform/files.h"
#include "platform/headless_platform.h"

namespace {

namespace fs = std::filesystem;

// The program over the game's data in a folder of its own, started and playing level 1.
struct TBenchGame {
  TBenchGame() {
    fs::path dir = fs::temp_directory_path() / ("pellorin-bench-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    for (const char* folder : {"data", "sound"}) {
      std::error_code ignored;
      fs::create_directory_symlink(fs::path(PELLORIN_RUN_DIR) / folder, dir / folder, ignored);
    }
    plat::SetGameFolders({dir.string(), dir.string()});
    Platform.KeepFrames = false;
    Platform.AudioPresent = false;
    plat::SetPlatform(&Platform);
    Form = std::make_unique<TmainForm>();
    Form->StartGame();
    while (Game.GamePhase == gpLevelIntro) Tick();
  }
  void Tick() { Form->DXTimer2Timer(Form->DXTimer2, 1); }

  plat::THeadlessPlatform Platform;
  std::unique_ptr<TmainForm> Form;
};

TBenchGame& BenchGame() {
  static TBenchGame* game = new TBenchGame;  // lives to the end of the run
  plat::SetPlatform(&game->Platform);
  return *game;
}

// A sprite of play and where it stands, put back after every tick so the field stays the same.
struct TPlaced {
  TImageSprite* Sprite;
  int32_t X, Y, FrameIndex;
};

void GameFrame(benchmark::State& state) {
  TBenchGame& game = BenchGame();
  TSprite& root = game.Form->SpriteRoot();
  RandSeedSet(99);
  std::vector<TPlaced> placed;
  const int64_t n = state.range(0);
  // Enemies on the right, the hero's shots on the left where they hit nothing, explosions anywhere.
  for (int64_t i = 0; i < n; ++i) {
    const auto step = static_cast<int32_t>(i);
    int32_t x = 120 + step * 37 % 260, y = 60 + step * 53 % 420;
    TImageSprite* sprite = nullptr;
    switch (i % 3) {
      case 0:
        x = 440 + step * 41 % 220;
        if (i % 4 == 3) {
          sprite = new TGroundEnemySprite(static_cast<uint8_t>(7 + i % 3), &root);
          y = sprite->Y;
        } else {
          sprite = new TFlyingEnemySprite(static_cast<uint16_t>(1 + i % 6), &root);
          y = 60 + step * 29 % 300;
        }
        break;
      case 1:
        sprite = new THeroWeaponSprite(x, y, 1, 9, &root);  // a direction that does not move it
        break;
      default:
        x = 120 + step * 37 % 640;
        sprite = new TExplosionSprite(x, y, 0, i % 2 ? "gunexplosion" : "rocketexplosion", &root);
        break;
    }
    sprite->X = x;
    sprite->Y = y;
    placed.push_back({sprite, x, y, sprite->FrameIndex});
  }
  Game.Hero->X = 4;
  Game.Hero->Y = 480;
  for (auto _ : state) {
    Game.EnemySpawnCountdown = 1000;
    Game.BonusSpawnCountdown = 1000;
    game.Tick();
    for (const TPlaced& p : placed) {
      p.Sprite->X = p.X;
      p.Sprite->Y = p.Y;
      p.Sprite->FrameIndex = p.FrameIndex;
      // Enemies keep their fire: the field stays the same from tick to tick.
      if (auto* flyer = dynamic_cast<TFlyingEnemySprite*>(p.Sprite)) flyer->FireDelay = 100;
      if (auto* gun = dynamic_cast<TGroundEnemySprite*>(p.Sprite)) gun->FireDelay = 100;
    }
  }
  state.counters["sprites"] = static_cast<double>(root.Count());
  for (const TPlaced& p : placed) delete p.Sprite;
  plat::SetPlatform(&bench::Display().Platform);
}
BENCHMARK(GameFrame)->Arg(20)->Arg(100)->Arg(300);

}  // namespace

// The longest golden game (18,272 ticks, to level 7) checked as `pellorin --verify-replay` checks it: every
// tick played and painted onto a surface that discards drawing, the last frame drawn and hashed. Only the
// ticks are timed; the start (the headless window, loading the game's pictures, the game field) and the
// end are VerifyReplayStart's. Items are ticks. The peer copies one whole frame per tick, the least a
// tick that draws every pixel of the screen costs; VerifyReplayEveryFrame is the check that draws and
// hashes every frame (--every-frame).
static const TReplay& LongGoldenGame() {
  static const TReplay replay = LoadReplay(PELLORIN_GOLDEN_DIR "/takes-the-grounds-shots.replay");
  return replay;
}

// Runs body with the game's data in reach on a headless platform of its own, then puts back the field
// the other benchmarks play on.
static void OnCheckPlatform(const std::function<void()>& body) {
  BenchGame();  // the game's data in reach
  plat::THeadlessPlatform headless;
  headless.KeepFrames = false;
  headless.AudioPresent = false;
  plat::SetPlatform(&headless);
  body();
  // The field the other benchmarks play on was replaced by the replay's.
  BenchGame().Form->StartGame();
  while (Game.GamePhase == gpLevelIntro) BenchGame().Tick();
  plat::SetPlatform(&bench::Display().Platform);
}

static void CheckGoldenGame(benchmark::State& state, TReplayCheck check) {
  const TReplay& replay = LongGoldenGame();
  OnCheckPlatform([&] {
    for (auto _ : state) {
      state.PauseTiming();
      std::optional<TReplayVerification> verification(std::in_place, replay, check);
      state.ResumeTiming();
      const TReplayOutcome outcome = verification->Play();
      state.PauseTiming();
      verification.reset();
      if (outcome.FrameHash != replay.FrameHash || outcome.FirstDifferenceTick >= 0)
        state.SkipWithError("the replay diverged");
      state.ResumeTiming();
    }
  });
  state.SetItemsProcessed(state.iterations() * replay.TickCount());
}

void VerifyReplay(benchmark::State& state) { CheckGoldenGame(state, TReplayCheck::LastFrame); }
BENCHMARK(VerifyReplay)->Unit(benchmark::kMillisecond);

void VerifyReplayEveryFrame(benchmark::State& state) { CheckGoldenGame(state, TReplayCheck::EveryFrame); }
BENCHMARK(VerifyReplayEveryFrame)->Unit(benchmark::kMillisecond);

// The fixed cost of a check, whatever the game's length: the headless window, the game's pictures
// loaded, the game field built, and all of it taken down again.
void VerifyReplayStart(benchmark::State& state) {
  const TReplay& replay = LongGoldenGame();
  OnCheckPlatform([&] {
    for (auto _ : state) {
      TReplayVerification verification(replay, TReplayCheck::LastFrame);
      benchmark::DoNotOptimize(verification);
    }
  });
}
BENCHMARK(VerifyReplayStart)->Unit(benchmark::kMillisecond);

void VerifyReplay_Peer(benchmark::State& state) {
  std::vector<uint32_t> from(800 * 600, 0x336699), to(800 * 600);
  const uint32_t ticks = LongGoldenGame().TickCount();
  for (auto _ : state) {
    for (uint32_t tick = 0; tick < ticks; ++tick) {
      std::memcpy(to.data(), from.data(), to.size() * sizeof(uint32_t));
      benchmark::ClobberMemory();
    }
  }
  state.SetItemsProcessed(state.iterations() * ticks);
}
BENCHMARK(VerifyReplay_Peer)->Unit(benchmark::kMillisecond);
