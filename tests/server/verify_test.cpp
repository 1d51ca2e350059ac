// The check of uploaded replays, end to end: the real pellorin-server with the real game as its
// verifier (and small scripts standing in for verifiers that misbehave), spoken to the way the game
// speaks to it: the result, then its replay with the ticket of the answer.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <thread>

#include "protocol/replay_format.h"
#include "protocol/replies.h"
#include "protocol/score_record.h"
#include "protocol/verifier_report.h"
#include "server/score_store.h"
#include "tests/server/server_process.h"

namespace {

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string Golden(const std::string& name) {
  return ReadFile(std::string(PELLORIN_GOLDEN_DIR) + "/" + name + ".replay");
}

constexpr int kRulesScore = 5194;  // the end of plays-every-rule.replay
constexpr int kLosesScore = 310;   // the end of loses-every-life.replay
// The seeds the golden games start from.
constexpr uint32_t kRulesSeed = 2026;  // plays-every-rule
constexpr uint32_t kLosesSeed = 4242;  // loses-every-life
constexpr uint32_t kExitSeed = 777;    // exit-question
// A replay that decodes, for the checks that a script stands in for the game: its seed is kExitSeed.
std::string AnyReplay() { return Golden("exit-question"); }

std::string TablePath(const std::string& extra = "") {
  return std::string(kScriptPath) + "?prg=Pellorin&show&type=0&format=json" + extra;
}

class VerifyTest : public ::testing::Test {
 protected:
  std::string Db() const { return Folder.Path() + "/scores.db"; }

  std::unique_ptr<TServerProcess> Start(const std::string& verifier, std::vector<std::string> args = {}) {
    std::vector<std::string> all = {"--db", Db(), "--key", "P", "--max-per-minute", "0"};
    for (const std::string& arg : GameVerifierArgs(verifier)) all.push_back(arg);
    all.insert(all.end(), args.begin(), args.end());
    auto server = std::make_unique<TServerProcess>(Folder.Path(), all);
    EXPECT_TRUE(server->Started()) << server->ErrorOutput();
    return server;
  }

  // A script standing in for the game as verifier.
  std::string Script(const std::string& name, const std::string& text) {
    const std::string path = Folder.Path() + "/" + name;
    std::ofstream(path) << text;
    chmod(path.c_str(), 0755);
    return path;
  }

  // A challenge with seed put into the server's table, issued ago seconds before now, as the server
  // would have handed it out; its id. (A test cannot make the server hand out a given seed.)
  std::string Plant(uint32_t seed, int64_t ago = 0) {
    char id[33];
    std::snprintf(id, sizeof id, "%024x%08x", 0xc4a11e, ++Planted);
    sqlite3* db = nullptr;
    EXPECT_EQ(sqlite3_open(Db().c_str(), &db), SQLITE_OK);
    sqlite3_busy_timeout(db, 5000);
    const std::string sql = "INSERT INTO challenges (id, seed, address, issued) VALUES ('" + std::string(id) +
                            "', " + std::to_string(seed) + ", 'planted', " +
                            std::to_string(static_cast<int64_t>(std::time(nullptr)) - ago) + ")";
    EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
    sqlite3_close(db);
    return id;
  }

  // The result of a game started from a challenge with seed, and the ticket of its answer ("" when it
  // had none).
  std::string SubmitResult(TGameClient& game, const std::string& name, int score, uint32_t seed) {
    TReply reply = game.Submit(name, "", score, 'P', std::string(kChallengeParameter) + Plant(seed));
    EXPECT_EQ(reply.Status, 200) << reply.Body;
    EXPECT_EQ(reply.Body.rfind("OK|", 0), 0u) << reply.Body;
    return ReplayTicketFromReply(reply.Body);
  }

  TReply Upload(TGameClient& game, const std::string& ticket, const std::string& replay) {
    return game.Post(std::string(kReplayPath) + "?ticket=" + ticket, replay);
  }

  // Waits (up to a minute) until entry's replay has its verdict; the state and the reason.
  std::pair<TReplayStatus, std::string> Verdict(int64_t entry) {
    const auto store = OpenScoreStore(Db(), false);
    TReplayStatus state = TReplayStatus::rsAwaiting;
    std::string reason;
    for (int i = 0; i < 600; ++i) {
      EXPECT_TRUE(store->ReplayStateOf(entry, state, reason));
      if (state == TReplayStatus::rsVerified || state == TReplayStatus::rsRefused) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return {state, reason};
  }

  // A verifier script that stands for the game: it reports an equal game ending with score.
  static std::string GoodReport(int score) {
    TVerifierReport report;
    report.File = "f";
    report.Played = report.Recorded = {1, score, 1, 0, 0, 0};
    report.Equal = true;
    return "echo '" + WriteVerifierReport(report) + "'\n";
  }

  TTempFolder Folder;
  unsigned Planted = 0;
};

// Whether pid is a process that still runs (a zombie left to a parent that does not reap is not).
bool Runs(int pid) {
  const std::string stat = ReadFile("/proc/" + std::to_string(pid) + "/stat");
  const size_t close = stat.rfind(')');
  return close != std::string::npos && close + 2 < stat.size() && stat[close + 2] != 'Z';
}

bool Eventually(const std::function<bool()>& condition, std::chrono::milliseconds within) {
  for (const auto until = std::chrono::steady_clock::now() + within; !condition();) {
    if (std::chrono::steady_clock::now() > until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return true;
}

TEST_F(VerifyTest, APlayedGameIsVerifiedAndItsReplayDownloadsAsSent) {
  auto server = Start(PELLORIN_GAME_PROGRAM);
  TGameClient game(server->Port());
  const std::string ticket = SubmitResult(game, "Ann", kRulesScore, kRulesSeed);
  ASSERT_EQ(ticket.size(), 32u);
  const std::string replay = Golden("plays-every-rule");
  TReply upload = Upload(game, ticket, replay);
  EXPECT_EQ(upload.Status, 200) << upload.Body;
  EXPECT_EQ(upload.Body, "OK");
  EXPECT_EQ(Verdict(1).first, TReplayStatus::rsVerified) << Verdict(1).second;

  TReply json = game.Get(TablePath());
  EXPECT_NE(json.Body.find("\"score\":5194,\"date\":"), std::string::npos) << json.Body;
  EXPECT_NE(json.Body.find("\"verified\":true,\"replay\":\"/cgi/replay?id=1\",\"status\":\"verified\"}"),
            std::string::npos)
      << json.Body;
  TReply download = game.Get("/cgi/replay?id=1");
  EXPECT_EQ(download.Status, 200);
  EXPECT_TRUE(download.Body == replay) << "the download differs from the upload";
  TReply page = game.Get(std::string(kScriptPath) + "?prg=Pellorin&show&type=0");
  EXPECT_NE(page.Body.find("&#10003; <a href=\"/cgi/replay?id=1\">replay</a>"), std::string::npos)
      << page.Body;
  EXPECT_NE(page.Body.find("pellorin --replay FILE"), std::string::npos);

  // One replay per ticket; a ticket never handed out is refused.
  EXPECT_EQ(Upload(game, ticket, Golden("loses-every-life")).Status, 409);
  EXPECT_EQ(Upload(game, std::string(32, 'a'), replay).Status, 403);
  EXPECT_TRUE(game.Get("/cgi/replay?id=1").Body == replay);
}

TEST_F(VerifyTest, ReplaysThatDoNotProveTheirResultAreRefusedWithTheReason) {
  auto server = Start(PELLORIN_GAME_PROGRAM);
  TGameClient game(server->Port());
  std::string damaged = Golden("plays-every-rule");
  damaged[60] = static_cast<char>(damaged[60] ^ 0x55);
  struct TCase {
    const char* Name;
    int Score;
    uint32_t Seed;       // of the entry's challenge: the replay's own, so that the check decides
    std::string Replay;  // empty: none is sent
    const char* Reason;
  };
  const std::vector<TCase> cases = {
      {"Other", kRulesScore, kLosesSeed, Golden("loses-every-life"),
       "the replay ends with the score 310, the entry has 5194"},
      {"Forged", 9999, kRulesSeed, Golden("plays-every-rule"),
       "the replay ends with the score 5194, the entry has 9999"},
      // Refused by the server itself, before any check.
      {"Damaged", kRulesScore, kRulesSeed, damaged,
       "The replay uploaded for entry 3 is damaged: its checksum does not match."},
      {"Not one", kRulesScore, kRulesSeed, "replay", "The file uploaded for entry 4 is not a replay."},
      {"None", kLosesScore, kLosesSeed, "", ""},
  };
  for (const TCase& c : cases) {
    const std::string ticket = SubmitResult(game, c.Name, c.Score, c.Seed);
    if (!c.Replay.empty()) {
      EXPECT_EQ(Upload(game, ticket, c.Replay).Status, 200) << c.Name;
    }
  }
  const auto store = OpenScoreStore(Db(), false);
  for (size_t i = 0; i < cases.size(); ++i) {
    const int64_t entry = static_cast<int64_t>(i) + 1;
    if (cases[i].Replay.empty()) {
      TReplayStatus state;
      std::string reason;
      ASSERT_TRUE(store->ReplayStateOf(entry, state, reason));
      EXPECT_EQ(state, TReplayStatus::rsAwaiting) << cases[i].Name;
      continue;
    }
    auto [state, reason] = Verdict(entry);
    EXPECT_EQ(state, TReplayStatus::rsRefused) << cases[i].Name;
    EXPECT_NE(reason.find(cases[i].Reason), std::string::npos) << cases[i].Name << ": " << reason;
  }
  const std::string json = game.Get(TablePath()).Body;
  EXPECT_EQ(json.find("\"verified\":true"), std::string::npos) << json;
  EXPECT_EQ(json.find("\"replay\""), std::string::npos) << json;
  EXPECT_EQ(game.Get(TablePath("&verified=1")).Body, "{\"entries\":[]}\n");
  EXPECT_EQ(game.Get("/cgi/replay?id=1").Status, 404);  // a refused replay is not handed out
}

// A verdict needs the very score: a replay that plays to more than its entry says is refused, as one
// that plays to less is.
TEST_F(VerifyTest, OnlyTheExactScoreIsVerified) {
  auto server = Start(PELLORIN_GAME_PROGRAM);
  TGameClient game(server->Port());
  struct TCase {
    int Score;
    TReplayStatus State;
    const char* Reason;
  };
  const std::vector<TCase> cases = {
      {kRulesScore - 1, TReplayStatus::rsRefused, "the replay ends with the score 5194, the entry has 5193"},
      {kRulesScore + 1, TReplayStatus::rsRefused, "the replay ends with the score 5194, the entry has 5195"},
      {kRulesScore, TReplayStatus::rsVerified, ""},
  };
  const std::string replay = Golden("plays-every-rule");
  for (const TCase& c : cases) {
    EXPECT_EQ(Upload(game, SubmitResult(game, "Ann", c.Score, kRulesSeed), replay).Status, 200) << c.Score;
  }
  for (size_t i = 0; i < cases.size(); ++i) {
    auto [state, reason] = Verdict(static_cast<int64_t>(i) + 1);
    EXPECT_EQ(state, cases[i].State) << cases[i].Score << ": " << reason;
    EXPECT_EQ(reason, cases[i].Reason) << cases[i].Score;
  }
}

// --verify-memory 0 sets no limit on the check's address space: the check runs and verifies.
TEST_F(VerifyTest, WithoutAMemoryLimitAPlayedGameIsVerified) {
  auto server = Start(PELLORIN_GAME_PROGRAM, {"--verify-memory", "0"});
  TGameClient game(server->Port());
  EXPECT_EQ(
      Upload(game, SubmitResult(game, "Ann", kLosesScore, kLosesSeed), Golden("loses-every-life")).Status,
      200);
  auto [state, reason] = Verdict(1);
  EXPECT_EQ(state, TReplayStatus::rsVerified) << reason;
}

// The scores of a table of the first version, as a server before replays made it.
const std::string kFirstVersionScores =
    "CREATE TABLE scores (id INTEGER PRIMARY KEY, name TEXT NOT NULL CHECK (length(name) <= 10),"
    " country TEXT NOT NULL CHECK (length(country) <= 10),"
    " score INTEGER NOT NULL CHECK (score BETWEEN 0 AND 65535), submitted INTEGER NOT NULL);"
    "CREATE INDEX scores_best ON scores (score DESC, id);";

TEST_F(VerifyTest, OldTablesAndPlainResultsStayUnmarkedBesideVerifiedOnes) {
  {
    // A table of the first version, as a server before replays left it.
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(Db().c_str(), &db), SQLITE_OK);
    const std::string firstVersion =
        kFirstVersionScores +
        "INSERT INTO scores (name, country, score, submitted) VALUES ('Old', '', 60000, 0);"
        "PRAGMA user_version=1;";
    EXPECT_EQ(sqlite3_exec(db, firstVersion.c_str(), nullptr, nullptr, nullptr), SQLITE_OK)
        << sqlite3_errmsg(db);
    sqlite3_close(db);
  }
  auto server = Start(PELLORIN_GAME_PROGRAM);
  TGameClient game(server->Port());
  const std::string ticket = SubmitResult(game, "New", kRulesScore, kRulesSeed);
  EXPECT_EQ(Upload(game, ticket, Golden("plays-every-rule")).Status, 200);
  EXPECT_EQ(Verdict(2).first, TReplayStatus::rsVerified);
  const std::string all = game.Get(TablePath()).Body;
  EXPECT_NE(
      all.find("\"name\":\"Old\",\"country\":\"\",\"score\":60000,\"date\":\"1970-01-01\",\"verified\":false,"
               "\"status\":\"unchecked\"}"),
      std::string::npos)
      << all;
  const std::string verified = game.Get(TablePath("&verified=1")).Body;
  EXPECT_EQ(verified.find("Old"), std::string::npos) << verified;
  EXPECT_NE(verified.find("{\"place\":1,\"name\":\"New\""), std::string::npos) << verified;
}

// A table of the second version, left by a server that stopped with a replay queued: taken over as it
// is, and the replay checked after the start.
TEST_F(VerifyTest, AReplayQueuedInASecondVersionTableIsCheckedAfterTheStart) {
  {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(Db().c_str(), &db), SQLITE_OK);
    const std::string secondVersion =
        kFirstVersionScores +
        "CREATE TABLE replays (entry INTEGER PRIMARY KEY REFERENCES scores (id), ticket TEXT NOT NULL UNIQUE,"
        " expires INTEGER NOT NULL, data BLOB, state INTEGER NOT NULL DEFAULT 0, reason TEXT, checked "
        "INTEGER);"
        "CREATE INDEX replays_state ON replays (state, entry);"
        "INSERT INTO scores (name, country, score, submitted) VALUES ('Queued', '', 5194, 0);"
        "PRAGMA user_version=2;";
    EXPECT_EQ(sqlite3_exec(db, secondVersion.c_str(), nullptr, nullptr, nullptr), SQLITE_OK)
        << sqlite3_errmsg(db);
    const std::string replay = Golden("plays-every-rule");
    sqlite3_stmt* insert = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(
                  db, "INSERT INTO replays (entry, ticket, expires, data, state) VALUES (1, 't', 0, ?, 1)",
                  -1, &insert, nullptr),
              SQLITE_OK);
    sqlite3_bind_blob(insert, 1, replay.data(), static_cast<int>(replay.size()), SQLITE_TRANSIENT);
    EXPECT_EQ(sqlite3_step(insert), SQLITE_DONE);
    sqlite3_finalize(insert);
    sqlite3_close(db);
  }
  auto server = Start(PELLORIN_GAME_PROGRAM);
  EXPECT_EQ(Verdict(1).first, TReplayStatus::rsVerified) << Verdict(1).second;
}

TEST_F(VerifyTest, UploadsAreHeldToTheirSizeAndForm) {
  auto server = Start(PELLORIN_GAME_PROGRAM, {"--max-replay-bytes", "2048"});
  TGameClient game(server->Port());
  const std::string ticket = SubmitResult(game, "Big", kRulesScore, kLosesSeed);
  EXPECT_EQ(Upload(game, ticket, Golden("plays-every-rule")).Status, 413);  // 9296 bytes
  EXPECT_EQ(Upload(game, "nothex", "x").Status, 400);
  EXPECT_EQ(Upload(game, ticket, "").Status, 400);
  // Refused uploads leave the ticket good: a replay within the limit is still taken.
  EXPECT_EQ(Upload(game, ticket, Golden("loses-every-life")).Status, 200);
  EXPECT_EQ(
      RawRequest(server->Port(), "POST /cgi/replay?ticket=" + ticket +
                                     " HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\n\r\n0\r\n\r\n")
          .substr(0, 12),
      "HTTP/1.1 411");
  // Without a Content-Length (and so without a body), too: the length is what is missing, not the replay.
  const std::string unmeasured =
      RawRequest(server->Port(), "POST /cgi/replay?ticket=" + ticket + " HTTP/1.1\r\nHost: x\r\n\r\n");
  EXPECT_EQ(unmeasured.substr(0, 12), "HTTP/1.1 411") << unmeasured;
  EXPECT_NE(unmeasured.find("Error: a POST needs a Content-Length"), std::string::npos) << unmeasured;
  EXPECT_EQ(game.Get(std::string(kScriptPath) + "?" + std::string(kHandshakeQuery)).Status, 200);
}

// The size limit at its edge: a replay of exactly --max-replay-bytes is taken, one byte more is not.
TEST_F(VerifyTest, AReplayOfExactlyTheSizeLimitIsTakenAndOneByteMoreIsNot) {
  auto server = Start(PELLORIN_GAME_PROGRAM, {"--max-replay-bytes", "4096"});
  TGameClient game(server->Port());
  const std::string ticket = SubmitResult(game, "Edge", kRulesScore, kRulesSeed);
  TReply over = Upload(game, ticket, std::string(4097, 'r'));
  EXPECT_EQ(over.Status, 413) << over.Body;
  TReply exact = Upload(game, ticket, std::string(4096, 'r'));
  EXPECT_EQ(exact.Status, 200) << exact.Body;
}

// With --verify-queue 3, three replays wait for their check (the one being checked among them) and the
// fourth upload gets a 503; once the checks are done, it is taken.
TEST_F(VerifyTest, TheCheckQueueHoldsItsBoundAndTakesMoreOnceChecked) {
  const std::string go = Folder.Path() + "/go";
  TVerifierReport report;
  report.File = "f";
  report.Played = report.Recorded = {1, 777, 1, 0, 0, 0};
  report.Equal = true;
  auto server = Start(Script("waits", "#!/bin/sh\nwhile [ ! -e " + go + " ]; do sleep 0.05; done\necho '" +
                                          WriteVerifierReport(report) + "'\n"),
                      {"--verify-queue", "3"});
  TGameClient game(server->Port());
  std::vector<std::string> tickets;
  for (int i = 0; i < 4; ++i) tickets.push_back(SubmitResult(game, "Q" + std::to_string(i), 777, kExitSeed));
  for (size_t i = 0; i < 3; ++i) EXPECT_EQ(Upload(game, tickets[i], AnyReplay()).Status, 200) << i;
  TReply full = Upload(game, tickets[3], AnyReplay());
  EXPECT_EQ(full.Status, 503) << full.Body;

  std::ofstream(go).put('\n');
  for (int64_t entry = 1; entry <= 3; ++entry) EXPECT_EQ(Verdict(entry).first, TReplayStatus::rsVerified);
  EXPECT_EQ(Upload(game, tickets[3], AnyReplay()).Status, 200);
  EXPECT_EQ(Verdict(4).first, TReplayStatus::rsVerified);
}

// Replays still arriving hold their whole length: past the bytes held at once, the next is refused before
// its body is read, and taken again once the first is done.
TEST_F(VerifyTest, UploadsArrivingAtOnceAreHeldToTheirBytesInAll) {
  auto server = Start(PELLORIN_GAME_PROGRAM, {"--max-replay-bytes-held", "10000"});
  const std::string ticket(32, 'a');
  const std::string head = "POST /cgi/replay?ticket=" + ticket + " HTTP/1.1\r\nHost: x\r\nContent-Length: ";
  TRawConnection slow(server->Port());
  ASSERT_TRUE(slow.Send(head + "8000\r\n\r\n" + std::string(100, 'x')));
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_EQ(RawRequest(server->Port(), head + "3000\r\n\r\n" + std::string(3000, 'y')).substr(0, 12),
            "HTTP/1.1 503");
  ASSERT_TRUE(slow.Send(std::string(7900, 'x')));
  slow.ReadUntilClosed(std::chrono::seconds(2));
  EXPECT_EQ(slow.Received.substr(0, 12), "HTTP/1.1 403") << slow.Received;  // read whole: an unknown ticket
  slow.ShutdownWrite();
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_EQ(RawRequest(server->Port(), head + "3000\r\n\r\n" + std::string(3000, 'y')).substr(0, 12),
            "HTTP/1.1 403");
}

// One address holds at most its share of those bytes: past it its next upload is refused before its
// body, while another address's is read whole; the share comes back as its uploads end.
TEST_F(VerifyTest, OneAddressHoldsAtMostItsShareOfTheBytesArriving) {
  auto server = Start(PELLORIN_GAME_PROGRAM, {"--max-replay-bytes", "8000", "--max-replay-bytes-held",
                                              "100000", "--max-replay-bytes-held-per-address", "10000"});
  const std::string head =
      "POST /cgi/replay?ticket=" + std::string(32, 'a') + " HTTP/1.1\r\nHost: x\r\nContent-Length: ";
  auto answer = [&](const std::string& source, int length) {
    TRawConnection c(server->Port(), source);
    c.Send(head + std::to_string(length) + "\r\n\r\n" + std::string(static_cast<size_t>(length), 'y'));
    Eventually([&] { return !c.Poll() || c.Received.size() >= 12; }, std::chrono::seconds(2));
    return c.Received.substr(0, 12);
  };
  TRawConnection slow(server->Port(), "127.0.0.2");
  ASSERT_TRUE(slow.Send(head + "8000\r\n\r\n" + std::string(100, 'x')));
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_EQ(answer("127.0.0.2", 2000), "HTTP/1.1 403");  // 10,000 bytes: within the share, read whole
  EXPECT_EQ(answer("127.0.0.2", 2001), "HTTP/1.1 503");
  EXPECT_EQ(answer("127.0.0.3", 8000), "HTTP/1.1 403");  // another address: read whole
  slow.ShutdownWrite();
  slow.ReadUntilClosed(std::chrono::seconds(2));
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_EQ(answer("127.0.0.2", 8000), "HTTP/1.1 403");
}

// Only a replay's body is read. A POST anywhere else is refused from its header at once, its body never
// awaited, so that slow bodies sent to other paths hold nothing of the bytes a replay may use.
TEST_F(VerifyTest, APostAnywhereButTheReplayPathIsRefusedBeforeItsBody) {
  auto server = Start(PELLORIN_GAME_PROGRAM, {"--max-replay-bytes-held", "10000"});
  std::vector<std::unique_ptr<TRawConnection>> slow;
  for (const char* path : {"/", "/cgi/version.pl?prg=Pellorin&version", "/elsewhere"}) {
    SCOPED_TRACE(path);
    slow.push_back(std::make_unique<TRawConnection>(server->Port()));
    ASSERT_TRUE(slow.back()->Send(std::string("POST ") + path +
                                  " HTTP/1.1\r\nHost: x\r\nContent-Length: 8000\r\n\r\n"));
    EXPECT_TRUE(slow.back()->ReadUntilClosed(std::chrono::seconds(2))) << "still open, awaiting the body";
    EXPECT_EQ(slow.back()->Received.substr(0, 12), "HTTP/1.1 405") << slow.back()->Received;
  }
  const std::string head = "POST /cgi/replay?ticket=" + std::string(32, 'a') +
                           " HTTP/1.1\r\nHost: x\r\nContent-Length: 3000\r\n\r\n" + std::string(3000, 'y');
  EXPECT_EQ(RawRequest(server->Port(), head).substr(0, 12), "HTTP/1.1 403");  // read whole: unknown ticket
}

TEST_F(VerifyTest, AVerifierThatRunsAwayIsKilledAtItsLimitWhileTheServerServes) {
  const std::string pidFile = Folder.Path() + "/verifier.pid";
  struct TCase {
    const char* Name;
    std::string Script;
    std::vector<std::string> Args;
    const char* Reason;
  };
  const std::vector<TCase> cases = {
      {"spins",
       "#!/bin/sh\necho $$ >" + pidFile + "\nwhile :; do :; done\n",
       {"--verify-cpu", "1"},
       "the check was killed: it used up its 1 s of CPU time"},
      {"eats",
       "#!/usr/bin/env python3\nimport os\nopen('" + pidFile +
           "','w').write(str(os.getpid()))\n"
           "x = bytearray(1 << 30)\nprint(len(x))\n",
       {"--verify-memory", "256"},
       "MemoryError"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    std::remove(Db().c_str());
    std::remove(pidFile.c_str());
    auto server = Start(Script(c.Name, c.Script), c.Args);
    TGameClient game(server->Port());
    const std::string ticket = SubmitResult(game, "Ann", kRulesScore, kRulesSeed);
    EXPECT_EQ(Upload(game, ticket, Golden("plays-every-rule")).Status, 200);
    // While the check runs, the server answers as ever.
    const auto asked = std::chrono::steady_clock::now();
    EXPECT_EQ(game.Get(TablePath()).Status, 200);
    EXPECT_LT(std::chrono::steady_clock::now() - asked, std::chrono::seconds(1));
    auto [state, reason] = Verdict(1);
    EXPECT_EQ(state, TReplayStatus::rsRefused);
    EXPECT_NE(reason.find(c.Reason), std::string::npos) << reason;
    const int pid = std::atoi(ReadFile(pidFile).c_str());
    ASSERT_GT(pid, 0);
    EXPECT_TRUE(kill(pid, 0) != 0 && errno == ESRCH) << "the verifier " << pid << " still runs";
    EXPECT_EQ(server->Stop(), 0);
  }
}

// The time limit counts the verifier's CPU time: one that waits (here it sleeps, as it would waiting for
// the CPU on a busy machine) well past --verify-timeout is judged on its report, one that burns the CPU
// past it is refused for time.
TEST_F(VerifyTest, TheTimeLimitCountsCpuTimeNotWaiting) {
  struct TCase {
    const char* Name;
    std::string Script;
    TReplayStatus State;
    const char* Reason;
  };
  const std::vector<TCase> cases = {
      {"sleeps", "#!/bin/sh\nsleep 3\n" + GoodReport(777), TReplayStatus::rsVerified, ""},
      {"burns", "#!/bin/sh\nwhile :; do :; done\n", TReplayStatus::rsRefused,
       "the check was killed: it used up its 1 s of CPU time"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    std::remove(Db().c_str());
    auto server = Start(Script(c.Name, c.Script), {"--verify-timeout", "1"});
    TGameClient game(server->Port());
    EXPECT_EQ(Upload(game, SubmitResult(game, "Ann", 777, kExitSeed), AnyReplay()).Status, 200);
    auto [state, reason] = Verdict(1);
    EXPECT_EQ(state, c.State) << reason;
    EXPECT_EQ(reason, c.Reason);
    EXPECT_EQ(server->Stop(), 0);
  }
}

// A check stopped by the server's own state says nothing of the replay: a verifier that cannot be
// started, or one still running when its lease is about to end. The replay stays queued, the worker
// pauses before it tries again rather than spinning, the log says why once, and once the verifier works
// the replay gets its verdict.
TEST_F(VerifyTest, ACheckStoppedByTheServersOwnStateIsTriedAgainAndNeverRefused) {
  const std::string ready = Folder.Path() + "/ready";
  const std::string tries = Folder.Path() + "/tries";
  const std::string pidFile = Folder.Path() + "/verifier.pid";
  struct TCase {
    const char* Name;
    const char* Fault;  // what the verifier does until ready exists
    std::vector<std::string> Args;
    const char* Logged;
  };
  const std::vector<TCase> cases = {
      {"cannot-start", "exec /nonexistent/pellorin", {}, "could not be started (exit status 127)"},
      {"hangs",
       "exec sleep 600",
       {"--verify-timeout", "1", "--verify-lease", "3"},
       "was stopped after 2 s of wall-clock time before it used up its CPU time"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    std::remove(Db().c_str());
    std::remove(ready.c_str());
    std::remove(tries.c_str());
    std::remove(pidFile.c_str());
    const std::string verifier =
        Script(c.Name, "#!/bin/sh\necho $$ >" + pidFile + "\necho >>" + tries + "\n[ -e " + ready + " ] || " +
                           c.Fault + "\n" + GoodReport(777));
    auto server = Start(verifier, c.Args);
    TGameClient game(server->Port());
    EXPECT_EQ(Upload(game, SubmitResult(game, "Ann", 777, kExitSeed), AnyReplay()).Status, 200);
    ASSERT_TRUE(Eventually([&] { return server->ErrorOutput().find(c.Logged) != std::string::npos; },
                           std::chrono::seconds(10)))
        << server->ErrorOutput();
    const int pid = std::atoi(ReadFile(pidFile).c_str());  // the first try's, which was put off
    EXPECT_TRUE(Eventually([&] { return !Runs(pid); }, std::chrono::seconds(2))) << pid << " still runs";
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));
    {
      const auto store = OpenScoreStore(Db(), false);
      TReplayStatus state;
      std::string reason;
      ASSERT_TRUE(store->ReplayStateOf(1, state, reason));
      EXPECT_EQ(state, TReplayStatus::rsQueued) << reason;
    }
    const std::string log = server->ErrorOutput();
    const std::string line =
        "pellorin-server: a check was put off and its replay left queued: the verifier " + verifier + " " +
        c.Logged;
    EXPECT_NE(log.find(line), std::string::npos) << log;
    size_t told = 0;
    for (size_t at = log.find("put off"); at != std::string::npos; at = log.find("put off", at + 1)) ++told;
    EXPECT_EQ(told, 1u) << log;
    const std::string tried = ReadFile(tries);
    EXPECT_LE(std::count(tried.begin(), tried.end(), '\n'), 4) << "the worker did not pause";

    std::ofstream(ready).put('\n');
    auto [state, reason] = Verdict(1);
    EXPECT_EQ(state, TReplayStatus::rsVerified) << reason;
    EXPECT_EQ(server->Stop(), 0);
  }
}

// A verifier dies with the server that started it, and its folder, with the replay in it, is gone by the
// server's next start.
TEST_F(VerifyTest, AVerifierDiesWithItsServerAndLeavesNoFolder) {
  const std::string tmp = Folder.Path() + "/tmp";
  ASSERT_EQ(mkdir(tmp.c_str(), 0700), 0);
  const char* const oldTmp = std::getenv("TMPDIR");
  const std::string restore = oldTmp != nullptr ? oldTmp : "";
  setenv("TMPDIR", tmp.c_str(), 1);  // the servers started below inherit it
  const auto folders = [&tmp] {
    std::vector<std::string> found;
    for (const auto& entry : std::filesystem::directory_iterator(tmp))
      found.push_back(entry.path().filename().string());
    return found;
  };
  const std::string pidFile = Folder.Path() + "/verifier.pid";
  const std::string verifier = Script("slow", "#!/bin/sh\necho $$ >" + pidFile + "\nexec sleep 600\n");
  // Another process's folder, alive: left alone.
  const std::string live = tmp + "/pellorin-verify-" + std::to_string(getpid()) + "-live";
  ASSERT_EQ(mkdir(live.c_str(), 0700), 0);

  auto server = Start(verifier);
  TGameClient game(server->Port());
  EXPECT_EQ(Upload(game, SubmitResult(game, "Ann", 777, kExitSeed), AnyReplay()).Status, 200);
  ASSERT_TRUE(Eventually([&] { return std::atoi(ReadFile(pidFile).c_str()) > 0; }, std::chrono::seconds(10)));
  const int pid = std::atoi(ReadFile(pidFile).c_str());
  EXPECT_EQ(folders().size(), 2u);
  server->Kill();
  EXPECT_TRUE(Eventually([&] { return !Runs(pid); }, std::chrono::seconds(2)))
      << "the verifier " << pid << " outlived its server";

  server = Start(verifier);  // the replay stays leased by the dead server, so no check starts again
  EXPECT_TRUE(Eventually([&] { return folders().size() == 1; }, std::chrono::seconds(2)));
  EXPECT_EQ(folders(), std::vector<std::string>{"pellorin-verify-" + std::to_string(getpid()) + "-live"});
  EXPECT_EQ(server->Stop(), 0);
  if (oldTmp != nullptr) {
    setenv("TMPDIR", restore.c_str(), 1);
  } else {
    unsetenv("TMPDIR");
  }
}

}  // namespace

namespace {

// The check runs without network: a verifier that tries to reach a port listening on loopback finds
// nothing there. (As root, as CI runs; elsewhere where user namespaces are allowed.)
TEST_F(VerifyTest, TheVerifierHasNoNetwork) {
  const int listener = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(listen(listener, 4), 0);
  socklen_t length = sizeof address;
  getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
  const std::string port = std::to_string(ntohs(address.sin_port));
  auto server =
      Start(Script("reaches-out", "#!/bin/bash\nif exec 3<>/dev/tcp/127.0.0.1/" + port +
                                      "; then echo reached >&2; else echo isolated >&2; fi\nexit 3\n"));
  TGameClient game(server->Port());
  EXPECT_EQ(
      Upload(game, SubmitResult(game, "Ann", kRulesScore, kRulesSeed), Golden("plays-every-rule")).Status,
      200);
  auto [state, reason] = Verdict(1);
  EXPECT_EQ(state, TReplayStatus::rsRefused);
  EXPECT_NE(reason.find("(exit status 3): isolated"), std::string::npos) << reason;
  close(listener);
}

// The server's threads block SIGTERM and SIGINT for its signal thread; a check must not inherit that, or a
// plain kill would not end a stray one.
TEST_F(VerifyTest, TheVerifierStartsWithNoSignalBlocked) {
  // Python, as a shell clears its mask as it starts.
  auto server = Start(Script("signals",
                             "#!/usr/bin/env python3\nimport sys\n"
                             "sys.stderr.write([l for l in open('/proc/self/status') if "
                             "l.startswith('SigBlk:')][0])\nsys.exit(3)\n"));
  TGameClient game(server->Port());
  EXPECT_EQ(
      Upload(game, SubmitResult(game, "Ann", kRulesScore, kRulesSeed), Golden("plays-every-rule")).Status,
      200);
  auto [state, reason] = Verdict(1);
  EXPECT_EQ(state, TReplayStatus::rsRefused);
  EXPECT_NE(reason.find("(exit status 3): SigBlk:?0000000000000000"), std::string::npos) << reason;
}

}  // namespace

namespace {

// The replay of a verified entry, downloaded by anyone, sent again for another entry: refused at once,
// as it starts from the victim's seed, not from the one the server gave the thief's entry. The same for
// the same game in other bytes (a pause and a resume given on one tick during play).
TEST_F(VerifyTest, AStolenReplayDoesNotVerifyAnotherEntry) {
  auto server = Start(PELLORIN_GAME_PROGRAM);
  TGameClient victim(server->Port()), thief(server->Port(), "127.0.0.2");
  EXPECT_EQ(
      Upload(victim, SubmitResult(victim, "Victim", kRulesScore, kRulesSeed), Golden("plays-every-rule"))
          .Status,
      200);
  ASSERT_EQ(Verdict(1).first, TReplayStatus::rsVerified) << Verdict(1).second;
  const std::string stolen = thief.Get("/cgi/replay?id=1").Body;
  ASSERT_TRUE(stolen == Golden("plays-every-rule"));

  TReplay game = DecodeReplay(reinterpret_cast<const uint8_t*>(stolen.data()), stolen.size(), "stolen");
  size_t at = game.Runs.size() / 2;
  while (game.Runs[at].Repeat < 2 || !game.Runs[at].Tick.Commands.empty()) ++at;
  TReplayRun paused = game.Runs[at];
  paused.Repeat = 1;
  paused.Tick.Commands = {rcPause, rcResume};
  --game.Runs[at].Repeat;
  game.Runs.insert(game.Runs.begin() + static_cast<std::ptrdiff_t>(at) + 1, paused);
  const std::vector<uint8_t> bytes = EncodeReplay(game);
  const std::string reworded(bytes.begin(), bytes.end());
  ASSERT_NE(reworded, stolen);

  // The thief's own challenges, with seeds of the server's choosing.
  for (const std::string& replay : {stolen, reworded}) {
    const std::string ticket = SubmitResult(thief, "Thief", kRulesScore, 31337);
    TReply upload = Upload(thief, ticket, replay);
    EXPECT_EQ(upload.Status, 200) << upload.Body;
    EXPECT_EQ(upload.Body, "OK");
  }
  for (int64_t entry : {2, 3}) {
    auto [state, reason] = Verdict(entry);
    EXPECT_EQ(state, TReplayStatus::rsRefused) << entry;
    EXPECT_EQ(reason, kOtherSeedReason) << entry;
    EXPECT_EQ(thief.Get("/cgi/replay?id=" + std::to_string(entry)).Status, 404);
  }
  const std::string json = thief.Get(TablePath()).Body;
  EXPECT_NE(json.find("\"name\":\"Victim\",\"country\":\"\",\"score\":5194,"), std::string::npos) << json;
  size_t refused = 0;
  for (size_t i = json.find("\"status\":\"refused\""); i != std::string::npos;
       i = json.find("\"status\":\"refused\"", i + 1))
    ++refused;
  EXPECT_EQ(refused, 2u) << json;
  const std::string verified = thief.Get(TablePath("&verified=1")).Body;
  EXPECT_EQ(verified.find("Thief"), std::string::npos) << verified;
}

// A result is stored, and counts on the world table, whatever its challenge; only one that quotes a
// challenge this server issued, unused and unexpired, gets a ticket. The others are answered a plain
// "OK" (so the game sends no replay), and their entries say why they are not checked.
TEST_F(VerifyTest, OnlyAGoodChallengeEarnsATicket) {
  auto server = Start(PELLORIN_GAME_PROGRAM);
  TGameClient game(server->Port()), other(server->Port(), "127.0.0.3");
  const std::string used = Plant(kRulesSeed);
  const std::string others = Plant(kRulesSeed);
  ASSERT_EQ(game.Submit("User", "", 1, 'P', std::string(kChallengeParameter) + used).Body.rfind("OK|", 0),
            0u);
  ASSERT_EQ(other.Submit("Other", "", 2, 'P', std::string(kChallengeParameter) + others).Body.rfind("OK|", 0),
            0u);
  struct TCase {
    const char* Name;
    std::string After;  // after the result query
    const char* Reason;
  };
  const std::vector<TCase> cases = {
      {"None", "", kNoChallengeReason},
      {"Unknown", std::string(kChallengeParameter) + std::string(32, 'e'), kBadChallengeReason},
      {"Malformed", std::string(kChallengeParameter) + "x'--", kBadChallengeReason},
      {"Used", std::string(kChallengeParameter) + used, kBadChallengeReason},
      {"Others", std::string(kChallengeParameter) + others, kBadChallengeReason},
      {"Expired", std::string(kChallengeParameter) + Plant(kRulesSeed, 86400), kBadChallengeReason},
      // The lifetime's other side: a challenge a minute short of a day old is still good.
      {"Good", std::string(kChallengeParameter) + Plant(kRulesSeed, 86400 - 60), nullptr},
  };
  for (const TCase& c : cases) {
    TReply reply = game.Submit(c.Name, "", 100, 'P', c.After);
    EXPECT_EQ(reply.Status, 200) << c.Name << ": " << reply.Body;
    if (c.Reason != nullptr) {
      EXPECT_EQ(reply.Body, "OK") << c.Name;
    } else {
      EXPECT_EQ(ReplayTicketFromReply(reply.Body).size(), 32u) << c.Name << ": " << reply.Body;
    }
  }
  const auto store = OpenScoreStore(Db(), false);
  EXPECT_EQ(store->Count(), static_cast<int64_t>(2 + cases.size()));
  for (size_t i = 0; i < cases.size(); ++i) {
    TReplayStatus state;
    std::string reason;
    ASSERT_TRUE(store->ReplayStateOf(static_cast<int64_t>(i) + 3, state, reason)) << cases[i].Name;
    EXPECT_EQ(state, cases[i].Reason ? TReplayStatus::rsUnchecked : TReplayStatus::rsAwaiting)
        << cases[i].Name;
    EXPECT_EQ(reason, cases[i].Reason ? cases[i].Reason : "") << cases[i].Name;
  }
  const std::string json = game.Get(TablePath()).Body;
  const size_t none = json.find("\"name\":\"None\"");
  ASSERT_NE(none, std::string::npos) << json;
  const std::string noneEntry = json.substr(none, json.find('}', none) - none);
  EXPECT_NE(noneEntry.find("\"score\":100,\"date\":\""), std::string::npos) << noneEntry;
  EXPECT_NE(noneEntry.find("\"verified\":false,\"status\":\"unchecked\""), std::string::npos) << noneEntry;
  EXPECT_NE(json.find("\"name\":\"Good\""), std::string::npos);
  EXPECT_NE(json.find("\"status\":\"checking\"}"), std::string::npos) << json;
  const std::string page = game.Get(std::string(kScriptPath) + "?prg=Pellorin&show&type=0").Body;
  EXPECT_NE(
      page.find("Results marked &#10003; are verified: this score was reached by this game, from a seed "
                "this server gave to this entry."),
      std::string::npos)
      << page;
  EXPECT_NE(page.find(">no challenge</small>"), std::string::npos) << page;
  EXPECT_NE(page.find(">checking</small>"), std::string::npos) << page;
}

// Two results quoting one challenge at once: exactly one gets the ticket.
TEST_F(VerifyTest, AChallengeQuotedTwiceAtOnceIsTakenOnce) {
  auto server = Start(PELLORIN_GAME_PROGRAM);
  for (int round = 0; round < 10; ++round) {
    const std::string after = std::string(kChallengeParameter) + Plant(kRulesSeed);
    TGameClient a(server->Port()), b(server->Port(), "127.0.0.4");
    const std::string tokenA = a.Handshake(), tokenB = b.Handshake();
    TReply replies[2];
    std::thread first([&] {
      replies[0] = a.Get(std::string(kScriptPath) + "?" + BuildResultQuery("A", "", 1, 'P', tokenA) + after);
    });
    replies[1] = b.Get(std::string(kScriptPath) + "?" + BuildResultQuery("B", "", 1, 'P', tokenB) + after);
    first.join();
    EXPECT_EQ(ReplayTicketFromReply(replies[0].Body).empty() + ReplayTicketFromReply(replies[1].Body).empty(),
              1)
        << replies[0].Body << " " << replies[1].Body;
  }
}

TEST_F(VerifyTest, AChallengeIsHandedOutKeptAndBounded) {
  auto server = Start(PELLORIN_GAME_PROGRAM, {"--max-per-minute", "4", "--max-challenges-per-address", "2",
                                              "--max-challenges", "3", "--challenge-lifetime", "5000"});
  const std::string ask = std::string(kScriptPath) + "?" + std::string(kChallengeQuery);
  auto fetch = [&](TGameClient& game) {
    TReply reply = game.Get(ask);
    EXPECT_EQ(reply.Status, 200) << reply.Body;
    auto challenge = ChallengeFromReply(reply.Body);
    EXPECT_TRUE(challenge.has_value()) << reply.Body;
    return challenge.value_or(TChallenge{});
  };
  // The challenges in the table's file, by id: seed and address.
  auto kept = [&] {
    std::map<std::string, std::pair<uint32_t, std::string>> rows;
    sqlite3* db = nullptr;
    EXPECT_EQ(sqlite3_open(Db().c_str(), &db), SQLITE_OK);
    sqlite3_stmt* s = nullptr;
    EXPECT_EQ(sqlite3_prepare_v2(db, "SELECT id, seed, address FROM challenges", -1, &s, nullptr), SQLITE_OK);
    while (sqlite3_step(s) == SQLITE_ROW)
      rows[reinterpret_cast<const char*>(sqlite3_column_text(s, 0))] = {
          static_cast<uint32_t>(sqlite3_column_int64(s, 1)),
          reinterpret_cast<const char*>(sqlite3_column_text(s, 2))};
    sqlite3_finalize(s);
    sqlite3_close(db);
    return rows;
  };
  TGameClient one(server->Port()), two(server->Port(), "127.0.0.2");
  const TChallenge a = fetch(one);
  EXPECT_EQ(a.Id.size(), 32u);
  EXPECT_EQ(a.Id.find_first_not_of("0123456789abcdef"), std::string::npos) << a.Id;
  EXPECT_EQ(a.Lifetime, 5000u);
  EXPECT_EQ(kept()[a.Id], std::make_pair(a.Seed, std::string("127.0.0.1")));
  const TChallenge b = fetch(one), c = fetch(one);  // past the address's two: its oldest, a, goes
  EXPECT_NE(a.Seed == b.Seed && b.Seed == c.Seed, true) << "the seeds are not random";
  auto rows = kept();
  EXPECT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows.count(a.Id), 0u);
  const TChallenge d = fetch(two), e = fetch(two);  // past the three in all: the oldest, b, goes
  rows = kept();
  EXPECT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows.count(b.Id), 0u);
  EXPECT_EQ(rows.count(c.Id) + rows.count(d.Id) + rows.count(e.Id), 3u);

  // A challenge that went is no longer good; a kept one is.
  EXPECT_EQ(one.Submit("A", "", 1, 'P', std::string(kChallengeParameter) + a.Id).Body, "OK");
  EXPECT_EQ(one.Submit("C", "", 1, 'P', std::string(kChallengeParameter) + c.Id).Body.rfind("OK|", 0), 0u);

  // Four a minute from one address, counted apart from handshakes; HEAD hands out nothing.
  EXPECT_EQ(one.Get(ask).Status, 200);
  EXPECT_EQ(one.Get(ask).Status, 429);
  EXPECT_EQ(two.Get(ask).Status, 200);
  EXPECT_EQ(RawRequest(server->Port(), "HEAD " + ask + " HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n")
                .substr(0, 15),
            "HTTP/1.1 200 OK");
  EXPECT_EQ(one.Handshake().size(), 32u);
  EXPECT_EQ(server->Stop(), 0);

  // Kept in the file: good after a restart.
  server = Start(PELLORIN_GAME_PROGRAM);
  TGameClient again(server->Port(), "127.0.0.2");
  EXPECT_EQ(again.Submit("E", "", 1, 'P', std::string(kChallengeParameter) + e.Id).Body.rfind("OK|", 0), 0u);
}

// A server that checks no replays hands out no challenges: the game plays on as before, and its result
// with one is a plain result.
TEST_F(VerifyTest, AServerThatChecksNoReplaysHandsOutNoChallenge) {
  auto server = std::make_unique<TServerProcess>(
      Folder.Path(), std::vector<std::string>{"--db", Db(), "--key", "P", "--verify-workers", "0"});
  ASSERT_TRUE(server->Started());
  TGameClient game(server->Port());
  TReply reply = game.Get(std::string(kScriptPath) + "?" + std::string(kChallengeQuery));
  EXPECT_EQ(reply.Status, 404);
  EXPECT_EQ(reply.Body.rfind("Error: ", 0), 0u) << reply.Body;
  EXPECT_FALSE(ChallengeFromReply(reply.Body).has_value());
  EXPECT_EQ(game.Submit("Ann", "", 5, 'P', std::string(kChallengeParameter) + std::string(32, 'a')).Body,
            "OK");
}

}  // namespace
