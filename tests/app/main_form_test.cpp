#include "app/main_form.h"

#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <optional>
#include <thread>
#include <vector>

#include "app/kept_replays.h"
#include "app/replay_host.h"
#include "app/window_placement.h"
#include "game/game_state.h"
#include "game/replay.h"
#include "game/replay_file.h"
#include "menu/menu_state.h"
#include "music/music.h"
#include "protocol/replies.h"
#include "settings/settings.h"
#include "tests/support/game_test.h"
#include "tests/support/scripted_http_server.h"

namespace {

using plat::TEvent;
using plat::TEventKind;

class Spine : public TGameTest {
 protected:
  void SetUp() override {
    TGameTest::SetUp();
    InstallGameData();
  }
  // Passes of the message loop; with nothing waiting each pass is one tick of the enabled timer.
  void RunPasses(TmainForm& form, int passes) {
    for (int i = 0; i < passes && !form.Closed(); ++i) form.ProcessMessages();
  }
};

TEST_F(Spine, FirstStartWritesDefaultsOpensTheWindowAndRunsTheMenuTimer) {
  TmainForm form;
  EXPECT_TRUE(Headless.WindowOpen());
  EXPECT_EQ(Headless.Caption, "Pellorin");
  EXPECT_FALSE(Headless.FullScreen());
  EXPECT_EQ(ReadFile("config.dat").size(), 158u);
  EXPECT_EQ(Game.GamePhase, gpMenu);
  EXPECT_EQ(Game.PhaseBeforePause, gpMenu);
  EXPECT_TRUE(form.DXTimer1.Enabled());
  EXPECT_FALSE(form.DXTimer2.Enabled());
  EXPECT_EQ(form.DXInput1.Keyboard.Assigns[isButton1 * 3], plat::VK_CONTROL);
  EXPECT_EQ(form.DXInput1.Keyboard.Assigns[isButton2 * 3], plat::VK_SHIFT);
  RunPasses(form, 5);
  EXPECT_GE(Headless.PresentCount, 4u);
  ASSERT_FALSE(Headless.LastFrame.empty());
  EXPECT_NE(Headless.LastFrame[400 * 300], 0u);  // the menu background
  EXPECT_TRUE(Headless.MessageBoxes.empty());
}

TEST_F(Spine, StoredFullScreenOpensFullScreen) {
  LoadSettings();
  Settings.WindowMode = 0;
  SaveSettingsScrambled();
  TmainForm form;
  EXPECT_TRUE(Headless.FullScreen());
}

TEST_F(Spine, MaximiseSwitchesToFullScreenAndSaves) {
  TmainForm form;
  Headless.PushEvent({.Kind = TEventKind::Maximize});
  RunPasses(form, 1);
  EXPECT_TRUE(Headless.FullScreen());
  EXPECT_EQ(ReadFile("config.dat")[0], '\x01');  // window mode 0, stored XOR 1
}

TEST_F(Spine, TheDisplayIsUpAfterStartUpAndEachModeSwitchRebuildsIt) {
  TmainForm form;
  EXPECT_TRUE(form.DXDraw.Initialized());
  EXPECT_FALSE(form.DXDraw.FlipDriver());
  std::vector<int> codes;
  form.DXDraw.RegisterNotifyEvent(&codes,
                                  [&codes](TDXDraw&, TDXDrawNotifyType type) { codes.push_back(type); });
  Headless.PushEvent({.Kind = TEventKind::Maximize});
  RunPasses(form, 3);
  EXPECT_EQ(codes, (std::vector<int>{5, 4, 1, 7, 2, 3, 6}));
  EXPECT_TRUE(Headless.FullScreen());
  EXPECT_TRUE(form.DXDraw.FlipDriver());
  uint64_t presented = Headless.PresentCount;
  RunPasses(form, 2);
  EXPECT_GT(Headless.PresentCount, presented);
  codes.clear();
  Settings.WindowMode = 1;
  form.ChangeMode();
  EXPECT_EQ(codes, (std::vector<int>{5, 4, 1, 7, 2, 3, 6}));
  EXPECT_FALSE(Headless.FullScreen());
  EXPECT_EQ(Headless.FullScreenSwitches, 2);
  form.DXDraw.UnRegisterNotifyEvent(&codes);
}

TEST_F(Spine, FramesAreSkippedWhileTheDisplayCannotDraw) {
  TmainForm form;
  RunPasses(form, 2);
  uint64_t presented = Headless.PresentCount;
  form.DXDraw.FinalizeDisplay();
  RunPasses(form, 3);
  EXPECT_EQ(Headless.PresentCount, presented);
  // A lost presentation is restored by the next frame, which is then drawn.
  form.DXDraw.InitializeDisplay();
  Headless.LosePresentation();
  RunPasses(form, 1);
  EXPECT_EQ(Headless.PresentCount, presented + 1);
}

TEST_F(Spine, CloseWithoutConfirmationAsksInsteadOfClosing) {
  TmainForm form;
  Headless.PushEvent({.Kind = TEventKind::Close});
  RunPasses(form, 2);
  EXPECT_FALSE(form.Closed());
  EXPECT_EQ(MenuScreen, msQuitQuery);
  EXPECT_EQ(SelectedItem, 1);
  EXPECT_EQ(ReturnScreen, msMain);
  EXPECT_EQ(Game.GamePhase, gpMenu);
  QuitConfirmed = true;
  form.Close();
  EXPECT_TRUE(form.Closed());
}

TEST_F(Spine, CloseDuringAGameAsksAndYesEndsTheGame) {
  TmainForm form;
  Game.GamePhase = gpPlaying;
  form.Close();
  EXPECT_FALSE(form.Closed());
  EXPECT_EQ(Game.GamePhase, gpExitQuery);
  EXPECT_EQ(Game.PhaseBeforeExitQuery, gpPlaying);
  EXPECT_GE(Headless.CursorCount, 0);
  QuitConfirmed = true;
  form.Close();
  EXPECT_FALSE(form.Closed());
  EXPECT_EQ(Game.GamePhase, gpGameOver);
  EXPECT_EQ(Game.PhaseTimer, 1500);
  EXPECT_FALSE(QuitConfirmed);
  form.Close();  // while "Game over" shows, a close request does nothing
  EXPECT_EQ(Game.GamePhase, gpGameOver);
  EXPECT_EQ(MenuScreen, msQuitQuery);
}

TEST_F(Spine, SwitchingAwayPausesTheGameAndBackDoesNotResume) {
  TmainForm form;
  form.StartGame();
  ASSERT_EQ(Game.GamePhase, gpLevelIntro);
  Headless.PushEvent({.Kind = TEventKind::Deactivate});
  RunPasses(form, 1);
  EXPECT_EQ(Game.GamePhase, gpPause);
  EXPECT_EQ(Game.PhaseBeforePause, gpLevelIntro);
  EXPECT_GE(Headless.CursorCount, 0);
  uint64_t presented = Headless.PresentCount;
  RunPasses(form, 3);
  EXPECT_GT(Headless.PresentCount, presented);  // the game timer keeps drawing while inactive
  Headless.PushEvent({.Kind = TEventKind::Activate});
  RunPasses(form, 1);
  EXPECT_EQ(Game.GamePhase, gpPause);
}

TEST_F(Spine, MenuMusicStopsWhenSwitchedAwayAndStartsAgainOnReturn) {
  TmainForm form;
  Headless.PushEvent({.Kind = TEventKind::Deactivate});
  RunPasses(form, 1);
  EXPECT_EQ(PlayingSong(), 0u);
  Headless.PushEvent({.Kind = TEventKind::Activate});
  RunPasses(form, 1);
  uint32_t song = PlayingSong();
  EXPECT_NE(song, 0u);
  EXPECT_EQ(song, CurrentSong);
  Headless.PushEvent({.Kind = TEventKind::Deactivate});
  Headless.PushEvent({.Kind = TEventKind::Activate});
  RunPasses(form, 1);
  EXPECT_NE(PlayingSong(), song);  // reloaded from its file, so it starts from the beginning
  EXPECT_TRUE(Headless.MessageBoxes.empty());
}

TEST_F(Spine, AMissingSongIsReportedOnceAndTurnsTheMusicOff) {
  TmainForm form;
  std::filesystem::remove("sound");
  std::filesystem::create_directory("sound");
  Headless.PushEvent({.Kind = TEventKind::Deactivate});
  Headless.PushEvent({.Kind = TEventKind::Activate});
  Headless.PushEvent({.Kind = TEventKind::Deactivate});
  Headless.PushEvent({.Kind = TEventKind::Activate});
  RunPasses(form, 1);
  EXPECT_EQ(Headless.MessageBoxes, std::vector<std::string>{"Can't load music."});
  EXPECT_EQ(Settings.MusicOn, 0);
}

TEST_F(Spine, PlayUrlOpensItsAddress) {
  WriteFile("play.url", "[InternetShortcut]\r\nURL=http://example.test/play\r\n");
  OpenPlayUrl();
  ASSERT_EQ(Headless.OpenedDocuments.size(), 1u);
  EXPECT_EQ(Headless.OpenedDocuments[0], "http://example.test/play");
}

TEST_F(Spine, ASaveThatFailsIsShownAndTheProgramGoesOn) {
  TmainForm form;
  ::rename("config.dat", "config.keep");
  std::filesystem::create_directory("config.dat");  // a directory where the file should be
  Headless.PushEvent({.Kind = TEventKind::Maximize});
  RunPasses(form, 2);
  ASSERT_EQ(Headless.MessageBoxes.size(), 1u);
  EXPECT_EQ(Headless.MessageBoxes[0], "Is a directory");
  EXPECT_FALSE(form.Closed());
  EXPECT_EQ(Settings.WindowMode, 0);  // plain in memory
}

TEST(WindowPlacementText, ReadsWhatItWritesAndNothingElse) {
  const plat::TWindowPlacement plain{224, 168, 1000, 900, false};
  const plat::TWindowPlacement maximized{-20, 5, 1600, 1200, true};
  EXPECT_EQ(WindowPlacementText(plain), "1000x900+224+168\n");
  EXPECT_EQ(WindowPlacementText(maximized), "1600x1200-20+5\nmaximized\n");
  for (const plat::TWindowPlacement& placement : {plain, maximized}) {
    plat::TWindowPlacement read;
    ASSERT_TRUE(ParseWindowPlacement(WindowPlacementText(placement), read));
    EXPECT_EQ(read, placement);
  }
  const char* damaged[] = {"",
                           "1000x900",
                           "1000x900+224",
                           "1000x900 224 168\n",
                           "1000 x900+224+168\n",
                           "1000x900+224+168 maximized\n",
                           "1000x900+224+168\nfull screen\n",
                           "1000x900+224+168\n\n",
                           "-1000x900+224+168\n",
                           "0x900+224+168\n",
                           "1000x900++224+168\n",
                           "99999999999x900+224+168\n",
                           "1000x900+224+168\r\n"};
  for (const char* text : damaged) {
    plat::TWindowPlacement read = plain;
    EXPECT_FALSE(ParseWindowPlacement(text, read)) << text;
    EXPECT_EQ(read, plain) << text;
  }
}

// The size and place the player left are where the next start opens; a damaged window.txt is passed
// over, and a placement that did not change is not written again.
TEST_F(Spine, TheWindowOpensWhereItWasLeft) {
  WriteFile(kWindowPlacementFile, "1000x900+224+168\n");
  {
    TmainForm form;
    EXPECT_EQ(Headless.WindowPlacement(), (plat::TWindowPlacement{224, 168, 1000, 900, false}));
    Headless.PlaceWindow({300, 100, 1200, 960, true});  // the player moves, sizes and maximises it
  }
  EXPECT_EQ(ReadFile(kWindowPlacementFile), "1200x960+300+100\nmaximized\n");

  struct stat before {};
  ASSERT_EQ(::stat(kWindowPlacementFile, &before), 0);
  { TmainForm form; }
  struct stat after {};
  ASSERT_EQ(::stat(kWindowPlacementFile, &after), 0);
  EXPECT_EQ(after.st_ino, before.st_ino);  // not rewritten

  WriteFile(kWindowPlacementFile, "1200x960+300+100 and then some\n");
  { TmainForm form; }
  // The first start's placement on the headless 1920 x 1080 desktop: 800 x 600, centred.
  EXPECT_EQ(ReadFile(kWindowPlacementFile), "800x600+560+240\n");
}

// A game the world server is to verify starts as after a fresh start, from the seed the server handed
// out when the menu showed; the next one, with no challenge to take, goes on from what the game before
// left, as games always did.
TEST_F(Spine, AGameStartsFromTheChallengeTheMenuFetched) {
  const TChallenge challenge{.Id = "c0ffee", .Seed = 4242, .Lifetime = 600};
  TScriptedHttpServer server({TScriptedHttpServer::Reply("200 OK", BuildChallengeReply(challenge))});
  WriteFile("server.url", server.Origin() + "\n");
  TmainForm form;
  for (int waited = 0; waited < 5000 && server.Requests().empty(); waited += 5)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  std::this_thread::sleep_for(std::chrono::milliseconds(100));  // the answer read
  ASSERT_EQ(server.Requests().size(), 1u);

  // Plays a game that a previous one left bonus times and countdowns to, ended through the exit
  // question; the start its recording kept (last.replay, written when the game hands back to the menu).
  auto playAGame = [&]() -> std::optional<TReplayStart> {
    std::filesystem::remove(ReplayFolder() + "/last.replay");
    Game.WeaponTime = 9000;
    Game.EnemySpawnCountdown = 33;
    form.StartGame();
    form.Close();
    QuitConfirmed = true;
    form.Close();
    for (int pass = 0; pass < 400 && Game.GamePhase != gpMenu; ++pass) RunPasses(form, 1);
    if (Game.GamePhase != gpMenu) return std::nullopt;
    return LoadReplay(ReplayFolder() + "/last.replay").Start;
  };
  const std::optional<TReplayStart> first = playAGame();
  ASSERT_TRUE(first.has_value());
  EXPECT_EQ(first->Seed, 4242u);
  for (const int32_t carried :
       {int32_t{first->EnemySpawnCountdown}, int32_t{first->BonusSpawnCountdown}, first->WeaponTime,
        first->ShieldTime, first->BombTime, first->LastBonusTime, first->HeroDownCountdown})
    EXPECT_EQ(carried, 0);
  const std::optional<TReplayStart> second = playAGame();  // the server has no second challenge
  ASSERT_TRUE(second.has_value());
  EXPECT_EQ(second->WeaponTime, 9000);
  EXPECT_EQ(second->EnemySpawnCountdown, 33);
  EXPECT_GE(server.Requests().size(), 2u);  // a new challenge was asked for after the first game
}

// Plays a game from the start until the phase, then ends it through the exit question; the kept
// recording (last.replay) is written when it hands back to the menu. during: called each pass in play.
TReplay PlayAndKeep(TmainForm& form, const std::function<void(int pass)>& during, int passes) {
  std::filesystem::remove(ReplayFolder() + "/last.replay");
  form.StartGame();
  for (int pass = 0; pass < passes; ++pass) {
    during(pass);
    form.ProcessMessages();
  }
  form.Close();
  QuitConfirmed = true;
  form.Close();
  for (int pass = 0; pass < 400 && Game.GamePhase != gpMenu; ++pass) form.ProcessMessages();
  return LoadReplay(ReplayFolder() + "/last.replay");
}

void PushKey(plat::THeadlessPlatform& headless, uint16_t key) {
  headless.PushEvent({.Kind = TEventKind::KeyDown, .Key = key});
  headless.PushEvent({.Kind = TEventKind::KeyUp, .Key = key});
}

// A pause whose picture stands still is drawn and presented once, then only shown again every 15 ticks,
// while each of its ticks is still recorded with that frame: the game plays back equal, frame hashes
// and all. An event draws the next tick in full.
TEST_F(Spine, AStillPauseIsDrawnOnceYetRecordedEveryTick) {
  uint64_t presentedInPause = 0, presentedAfterAnEvent = 0;
  std::vector<uint32_t> pausedFrame;
  bool frameStayed = true;
  TReplay replay;
  {
    TmainForm form;
    replay = PlayAndKeep(
        form,
        [&](int pass) {
          if (pass == 150) PushKey(Headless, 'P');
          if (pass == 152) {
            EXPECT_EQ(Game.GamePhase, gpPause);
            presentedInPause = Headless.PresentCount;
            pausedFrame = Headless.LastFrame;
          }
          if (pass > 152 && pass < 452) frameStayed &= Headless.LastFrame == pausedFrame;
          if (pass == 452) {
            presentedInPause = Headless.PresentCount - presentedInPause;
            presentedAfterAnEvent = Headless.PresentCount;
            Headless.PushEvent({.Kind = TEventKind::MouseMove, .X = 10, .Y = 10});
          }
          if (pass == 454) presentedAfterAnEvent = Headless.PresentCount - presentedAfterAnEvent;
          if (pass == 460) PushKey(Headless, 'P');
        },
        600);
  }
  EXPECT_EQ(presentedInPause, 300u / 15);
  EXPECT_TRUE(frameStayed);
  EXPECT_EQ(presentedAfterAnEvent, 1u);  // the tick of the event drew; the one after is still again
  ResetGameState();
  const TReplayOutcome outcome = VerifyReplay(replay, TReplayCheck::EveryFrame);
  EXPECT_TRUE(outcome.Ended);
  EXPECT_EQ(outcome.End, replay.End);
  EXPECT_EQ(outcome.FrameHash, replay.FrameHash);
  EXPECT_EQ(outcome.FirstDifferenceTick, -1);
  EXPECT_GT(replay.End.Tick, 600u);
}

// A replay watched: "Replay" at the bottom left and "Pause" while P holds it, on the presented picture
// only (the game's frames hash as recorded); at the end the last frame stays until a key; the window
// opens where play left it.
TEST_F(Spine, AWatchedReplayIsCaptionedHeldAtItsEndAndOpensWherePlayLeftTheWindow) {
  TReplay replay;
  {
    TmainForm form;
    replay = PlayAndKeep(
        form, [](int) {}, 200);
    Headless.PlaceWindow({300, 100, 1200, 960, false});
  }
  ResetGameState();
  auto count = [this](int left, int top, int right, int bottom, uint32_t pixel) {
    int n = 0;
    for (int y = top; y < bottom; ++y)
      for (int x = left; x < right; ++x)
        n += (Headless.LastFrame[static_cast<size_t>(y * plat::kFrameWidth + x)] & 0xFFFFFF) == pixel;
    return n;
  };
  const int kWhite = 0xFFFFFF, kRed = 0xFF0000;
  TReplayWatch watch(replay, false);
  EXPECT_EQ(Headless.Caption, "Pellorin replay");
  EXPECT_EQ(Headless.WindowPlacement(), (plat::TWindowPlacement{300, 100, 1200, 960, false}));
  for (int pass = 0; pass < 120; ++pass) ASSERT_TRUE(watch.Pass());
  EXPECT_GT(count(8, 572, 70, 596, kWhite), 20);  // "Replay"
  EXPECT_LT(count(320, 330, 440, 370, kRed), 20);
  PushKey(Headless, 'P');
  ASSERT_TRUE(watch.Pass());
  EXPECT_TRUE(watch.Paused());
  const uint64_t presented = Headless.PresentCount;
  EXPECT_GT(count(320, 330, 440, 370, kRed), 100);  // "Pause"
  for (int pass = 0; pass < 20; ++pass) ASSERT_TRUE(watch.Pass());
  EXPECT_EQ(Headless.PresentCount, presented);  // no tick plays
  PushKey(Headless, 'P');
  int passes = 0;
  while (!watch.Holding() && passes++ < 2000) ASSERT_TRUE(watch.Pass());
  ASSERT_TRUE(watch.Holding());
  EXPECT_EQ(watch.Outcome().End, replay.End);  // every frame hashed as recorded
  EXPECT_EQ(watch.Outcome().FrameHash, replay.FrameHash);
  const std::vector<uint32_t> held = Headless.LastFrame;
  EXPECT_GT(count(8, 572, 400, 596, kWhite), count(8, 572, 70, 596, kWhite) + 100);  // the end's line
  for (int pass = 0; pass < 20; ++pass) ASSERT_TRUE(watch.Pass());
  EXPECT_EQ(Headless.LastFrame, held);
  EXPECT_EQ(Game.Score, replay.End.Score);
  PushKey(Headless, ' ');
  EXPECT_FALSE(watch.Pass());
}

}  // namespace
