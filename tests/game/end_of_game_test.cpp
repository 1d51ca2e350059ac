// The end of a game as the player meets it: "Game over", the name entry, the local table and
// config.dat, the send question, the submission to a server on loopback and its failure notice.
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "app/kept_replays.h"
#include "game/game_state.h"
#include "game/hero.h"
#include "menu/menu_state.h"
#include "settings/settings.h"
#include "tests/server/server_process.h"
#include "tests/support/game_scenario.h"
#include "tests/support/scripted_http_server.h"

namespace {

constexpr uint32_t kRedPixel = 0xFF0000;

class EndOfGame : public TGameScenario {
 protected:
  // Plays into the name entry with the score.
  void EndWithScore(uint16_t score) {
    StartPlaying();
    Game.Lives = 1;
    Game.Score = score;
    Game.Hero->HealthPoints = 0;
    for (int i = 0; i < 400 && Game.GamePhase != gpNameEntry && Game.GamePhase != gpMenu; ++i) RunTicks(1);
  }
  void Type(const std::string& text) {
    for (char c : text) {
      Headless.PushEvent({.Kind = plat::TEventKind::KeyDown, .Key = static_cast<uint16_t>(c)});
      Headless.PushEvent({.Kind = plat::TEventKind::KeyPress, .Char = c});
      Headless.PushEvent({.Kind = plat::TEventKind::KeyUp, .Key = static_cast<uint16_t>(c)});
    }
    RunTicks(2);
  }
  // Ticks until the submission has an outcome.
  void AwaitReply() {
    for (int i = 0; i < 2000 && Game.GamePhase == gpSending; ++i) {
      RunTicks(1);
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  }
};

TEST_F(EndOfGame, ANameEnteredIsStoredAndSentAndTheMenuComesBack) {
  // The menu asks for a challenge first; this server hands out none, so the game sends a plain result.
  TScriptedHttpServer server({TScriptedHttpServer::Reply("404 Not Found", "Error: no challenges here"),
                              TScriptedHttpServer::Reply("200 OK", "OK|a|b|c|TK|"),
                              TScriptedHttpServer::Reply("200 OK", "OK")});
  WriteFile("server.url", server.Origin() + "\n");
  EndWithScore(950);
  ASSERT_EQ(Game.GamePhase, gpNameEntry);
  Type("Ace");  // typing goes straight into the name
  EXPECT_EQ(NewEntry.EntryName.Text(), "Ace");
  Press(plat::VK_RETURN);  // Enter in the edited name acts as "OK"
  ASSERT_EQ(Game.GamePhase, gpSendQuery);
  EXPECT_EQ(MenuScreen, msSendQuery);
  EXPECT_EQ(Settings.HighScores[1].EntryName.Text(), "Ace");
  EXPECT_EQ(Settings.HighScores[1].EntryScore, 950);
  EXPECT_NE(ReadFile("config.dat").find('\xBE'), std::string::npos);  // written, scrambled
  const std::string saved = ReadFile("config.dat");
  Press(plat::VK_RETURN);  // "Yes"
  AwaitReply();
  EXPECT_EQ(Game.GamePhase, gpMenu);
  EXPECT_EQ(MenuScreen, msMain);
  EXPECT_EQ(SelectedItem, 1);
  const std::vector<std::string> requests = server.Requests();
  ASSERT_GE(requests.size(), 3u);  // and then the challenge for the next game
  EXPECT_EQ(requests[0].rfind("GET /cgi/version.pl?challenge&", 0), 0u);
  EXPECT_EQ(requests[1].rfind("GET /cgi/version.pl?version&", 0), 0u);
  EXPECT_EQ(requests[2].rfind("GET /cgi/version.pl?hs&", 0), 0u);
  EXPECT_EQ(requests[2].find("&challenge="), std::string::npos);
  EXPECT_EQ(ReadFile("config.dat"), saved);  // sending changes nothing locally
}

// While a silent server is waited for, the field stays drawn with "Please wait..." and a close request
// is refused; the time-out fails the send: "Can't connect to server!" for 1500 ms, then the question
// again on "Yes".
TEST_F(EndOfGame, AFailedSendShowsTheNoticeThenAsksAgain) {
  // No challenge for the menu; silent to the handshake.
  TScriptedHttpServer server({TScriptedHttpServer::Reply("404 Not Found", "Error: no challenges here"),
                              TScriptedHttpServer::kNoAnswer});
  WriteFile("server.url", server.Origin() + "\n");
  EndWithScore(950);
  Form->IdHTTP1.TimeoutMs = 400;
  Press(plat::VK_RETURN);
  ASSERT_EQ(Game.GamePhase, gpSendQuery);
  Press(plat::VK_RETURN);
  ASSERT_EQ(Game.GamePhase, gpSending);
  const uint64_t presented = Headless.PresentCount;
  RunTicks(3);
  EXPECT_EQ(Headless.PresentCount, presented + 3);
  EXPECT_GT(CountPixels(320, 240, 440, 262, kRedPixel), 30);  // "Please wait..."
  Headless.PushEvent({.Kind = plat::TEventKind::Close});
  RunTicks(1);
  EXPECT_EQ(MenuScreen, msSendQuery);
  AwaitReply();
  ASSERT_EQ(Game.GamePhase, gpSendFailed);
  RunTicks(1);
  EXPECT_GT(CountPixels(250, 240, 470, 262, kRedPixel), 50);
  const int ticksLeft = (Game.PhaseTimer + 15) / 16;
  RunTicks(ticksLeft - 1);
  EXPECT_EQ(Game.GamePhase, gpSendFailed);
  RunTicks(1);
  EXPECT_EQ(Game.GamePhase, gpSendQuery);
  EXPECT_EQ(SelectedItem, 1);
  Press(plat::VK_RIGHT);
  Press(plat::VK_RETURN);  // "No"
  EXPECT_EQ(Game.GamePhase, gpMenu);
}

// The whole loop: the game's own submission to the real pellorin-server, whose world table then shows it.
TEST_F(EndOfGame, TheWorldTableOfARealServerShowsTheResultSent) {
  TTempFolder folder;
  TServerProcess server(folder.Path(), {});
  ASSERT_TRUE(server.Started());
  WriteFile("server.url", "http://127.0.0.1:" + std::to_string(server.Port()) + "\n");
  EndWithScore(4321);
  ASSERT_EQ(Game.GamePhase, gpNameEntry);
  Settings.Country.Assign("Norway");
  Type("Ace Pilot");
  Press(plat::VK_RETURN);
  Press(plat::VK_RETURN);
  AwaitReply();
  EXPECT_EQ(Game.GamePhase, gpMenu) << server.ErrorOutput();
  TGameClient browser(server.Port());
  const std::string table = browser.Get("/cgi/version.pl?prg=Pellorin&show&type=0&format=json").Body;
  EXPECT_NE(table.find("\"name\":\"Ace Pilot\""), std::string::npos) << table;
  EXPECT_NE(table.find("4321"), std::string::npos) << table;
  EXPECT_NE(table.find("Norway"), std::string::npos) << table;
}

// A game played to a placing score and sent to a real server that checks replays: the game uploads its
// replay with the result's ticket, the server plays it back and marks the entry, and hands out the very
// replay the game kept.
TEST_F(EndOfGame, AGamePlayedAndSentIsVerifiedByARealServer) {
  TTempFolder folder;
  TServerProcess server(folder.Path(), GameVerifierArgs(PELLORIN_GAME_PROGRAM));
  ASSERT_TRUE(server.Started());
  WriteFile("server.url", "http://127.0.0.1:" + std::to_string(server.Port()) + "\n");
  StartPlaying();
  for (int tick = 0; tick < 20000 && Game.Score <= 100 && GameKeysPhase(Game.GamePhase); ++tick) {
    Hold(plat::SCAN_SPACE, tick % 40 < 30);
    Hold(plat::SCAN_UP, tick % 100 < 20);
    Hold(plat::SCAN_DOWN, tick % 100 >= 50 && tick % 100 < 70);
    RunTicks(1);
  }
  ASSERT_TRUE(GameKeysPhase(Game.GamePhase)) << Game.Score;
  Hold(plat::SCAN_SPACE, false);
  Press(plat::VK_ESCAPE);
  Press(plat::VK_RETURN);  // "Yes": the game ends
  for (int i = 0; i < 400 && Game.GamePhase != gpNameEntry; ++i) RunTicks(1);
  ASSERT_EQ(Game.GamePhase, gpNameEntry);
  const uint16_t score = Game.Score;
  Type("Ace");
  Press(plat::VK_RETURN);
  Press(plat::VK_RETURN);  // "Yes": send
  AwaitReply();
  ASSERT_EQ(Game.GamePhase, gpMenu) << server.ErrorOutput();

  TGameClient browser(server.Port());
  const std::string verified = "\"name\":\"Ace\",\"country\":\"\",\"score\":" + std::to_string(score);
  std::string table;
  for (int i = 0; i < 300; ++i) {
    table = browser.Get("/cgi/version.pl?prg=Pellorin&show&type=0&format=json&verified=1").Body;
    if (table.find(verified) != std::string::npos) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  ASSERT_NE(table.find(verified), std::string::npos) << table << server.ErrorOutput();
  EXPECT_NE(table.find("\"verified\":true,\"replay\":\"/cgi/replay?id=1\""), std::string::npos) << table;
  const std::string kept = ReadFile(ReplayFolder() + "/last.replay");
  ASSERT_FALSE(kept.empty());
  EXPECT_TRUE(browser.Get("/cgi/replay?id=1").Body == kept) << "the download is not the game's replay";
}

TEST_F(EndOfGame, CancelStoresNothing) {
  EndWithScore(950);
  ASSERT_EQ(Game.GamePhase, gpNameEntry);
  Type("Bob");
  Press(plat::VK_UP);  // onto "Cancel"
  ASSERT_EQ(SelectedItem, 4);
  Press(plat::VK_RETURN);
  EXPECT_EQ(Game.GamePhase, gpMenu);
  EXPECT_EQ(Settings.HighScores[1].EntryScore, 900);
  EXPECT_EQ(Settings.HighScores[1].EntryName.Text(), "Anonymous");
}

TEST_F(EndOfGame, YesOnTheExitQuestionWithAGoodScoreStillLeadsToTheNameEntry) {
  StartPlaying();
  Game.Score = 2000;
  Press(plat::VK_ESCAPE);
  Press(plat::VK_RETURN);
  ASSERT_EQ(Game.GamePhase, gpGameOver);
  RunTicks(100);
  EXPECT_EQ(Game.GamePhase, gpNameEntry);
  EXPECT_EQ(Game.ScoreRank, 1);
  // Close requests wait while "Game over" shows and while the result is on its way; here one opens the
  // quit question over the entry.
}

// A close request over the name entry or the send question puts the quit question in the screen's place,
// so the keys answer the question that is shown: typing goes nowhere, "No" gives the screen back as it
// was, and "Yes" ends the program with the entry that OK stored.
TEST_F(EndOfGame, ACloseRequestOverTheEndScreensAsksInTheirPlace) {
  EndWithScore(950);
  ASSERT_EQ(Game.GamePhase, gpNameEntry);
  Type("Ace");
  auto nameShown = [&] { return CountPixels(360, 260, 440, 280, kRedPixel) > 10; };  // the name, selected
  auto yesShown = [&] { return CountPixels(355, 282, 390, 298, kRedPixel) > 10; };   // "Yes", selected
  EXPECT_TRUE(nameShown());
  EXPECT_FALSE(yesShown());

  Headless.PushEvent({.Kind = plat::TEventKind::Close});
  RunTicks(2);
  EXPECT_EQ(Game.GamePhase, gpNameEntry);
  ASSERT_EQ(MenuScreen, msQuitQuery);
  EXPECT_FALSE(nameShown());
  EXPECT_TRUE(yesShown());
  Type("x");
  EXPECT_EQ(NewEntry.EntryName.Text(), "Ace");
  Press(plat::VK_ESCAPE);  // "No"
  EXPECT_EQ(MenuScreen, msNameEntry);
  EXPECT_EQ(SelectedItem, 1);
  EXPECT_TRUE(Game.ClosingWindow->Visible);
  RunTicks(1);
  EXPECT_TRUE(nameShown());
  EXPECT_FALSE(yesShown());

  Press(plat::VK_RETURN);  // the name is still being edited: Enter acts as "OK"
  ASSERT_EQ(Game.GamePhase, gpSendQuery);
  Headless.PushEvent({.Kind = plat::TEventKind::Close});
  RunTicks(2);
  ASSERT_EQ(MenuScreen, msQuitQuery);
  EXPECT_EQ(CountPixels(355, 322, 390, 338, kRedPixel), 0);  // the send question's "Yes" is not drawn
  EXPECT_TRUE(yesShown());
  EXPECT_FALSE(Form->Closed());
  Press(plat::VK_RETURN);  // "Yes"
  EXPECT_TRUE(Form->Closed());
  EXPECT_EQ(Settings.HighScores[1].EntryName.Text(), "Ace");
}

}  // namespace
