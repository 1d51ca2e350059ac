// The parts of pellorin-server that keep time or read the command line, on their own.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <ctime>
#include <filesystem>
#include <set>
#include <thread>

#include "protocol/verifier_report.h"
#include "server/random.h"
#include "server/score_store.h"
#include "server/server_options.h"
#include "server/sqlite_wal_buffer.h"
#include "server/tokens.h"
#include "server/verifier_process.h"
#include "tests/server/server_process.h"

namespace {

using namespace std::chrono_literals;

TEST(ServerOptions, ReadsEachOptionAndRefusesBadValues) {
  TServerOptions options;
  std::string error;
  // clang-format off
  const std::vector<std::string> every = {
      "--listen", "[::1]:9000", "--db", "/tmp/x.db", "--key", "K", "--max-per-minute", "0",
      "--token-lifetime", "30", "--threads", "4", "--trust-proxy", "--full-sync", "--max-tokens", "1000",
      "--max-tokens-per-address", "5", "--max-tracked-addresses", "700", "--max-connections", "300",
      "--max-connections-per-address", "7", "--max-request-line", "1500", "--max-header-bytes", "6000",
      "--max-headers", "40", "--idle-timeout", "3", "--request-timeout", "9"};
  // clang-format on
  ASSERT_EQ(ParseServerOptions(every, options, error), TParseResult::prRun) << error;
  EXPECT_EQ(options.Host, "::1");
  EXPECT_EQ(options.Port, 9000);
  EXPECT_EQ(options.DatabasePath, "/tmp/x.db");
  EXPECT_EQ(options.Key, 'K');
  EXPECT_EQ(options.MaxPerMinute, 0);
  EXPECT_EQ(options.TokenLifetime, 30);
  EXPECT_EQ(options.Http.Threads, 4);
  EXPECT_TRUE(options.TrustProxy);
  EXPECT_TRUE(options.FullSync);
  EXPECT_EQ(options.MaxTokens, 1000);
  EXPECT_EQ(options.MaxTokensPerAddress, 5);
  EXPECT_EQ(options.MaxTrackedAddresses, 700);
  EXPECT_EQ(options.Http.MaxConnections, 300u);
  EXPECT_EQ(options.Http.MaxConnectionsPerAddress, 7u);  // given, so --trust-proxy leaves it
  EXPECT_EQ(options.Http.MaxRequestLine, 1500u);
  EXPECT_EQ(options.Http.MaxHeaderBytes, 6000u);
  EXPECT_EQ(options.Http.MaxHeaderCount, 40u);
  EXPECT_EQ(options.Http.IdleTimeout, 3u);
  EXPECT_EQ(options.Http.RequestTimeout, 9u);

  // Behind a proxy every connection comes from it: the per-address limit goes unless given.
  TServerOptions proxied;
  ASSERT_EQ(ParseServerOptions({"--trust-proxy"}, proxied, error), TParseResult::prRun);
  EXPECT_EQ(proxied.Http.MaxConnectionsPerAddress, 0u);
  EXPECT_GT(TServerOptions().Http.MaxConnectionsPerAddress, 0u);

  // The shares of one address, and the database's time-outs.
  TServerOptions shares;
  ASSERT_EQ(ParseServerOptions(
                {"--verify-queue-per-address", "3", "--max-replay-bytes-held-per-address", "70000",
                 "--max-replay-bytes", "60000", "--db-connect-timeout", "4", "--db-statement-timeout", "9"},
                shares, error),
            TParseResult::prRun)
      << error;
  EXPECT_EQ(shares.VerifyQueuePerAddress, 3);
  EXPECT_EQ(shares.Http.MaxBodyBytesHeldPerAddress, 70000u);
  EXPECT_EQ(shares.DbConnectTimeout, 4);
  EXPECT_EQ(shares.DbStatementTimeout, 9);
  // Unless given, an address's share of the bytes is four of the largest replays.
  TServerOptions fourfold;
  ASSERT_EQ(ParseServerOptions({"--max-replay-bytes", "60000"}, fourfold, error), TParseResult::prRun);
  EXPECT_EQ(fourfold.Http.MaxBodyBytesHeldPerAddress, 240000u);

  const std::vector<std::vector<std::string>> bad = {
      {"--listen", "127.0.0.1"},
      {"--listen", "127.0.0.1:65536"},
      {"--listen", ":80"},
      {"--listen", "::1:80"},
      {"--listen", "host:8o"},
      {"--key", "p"},
      {"--key", "PP"},
      {"--key", "1"},
      {"--max-per-minute", "-1"},
      {"--token-lifetime", "0"},
      {"--threads", "0"},
      {"--max-tokens", "0"},
      {"--max-connections", "0"},
      {"--max-header-bytes", "100"},
      {"--max-request-line", "9000"},  // more than the header bytes it is part of
      {"--idle-timeout", "30"},        // longer than the request may take
      {"--request-timeout", "x"},
      {"--max-replay-bytes-held-per-address", "5000", "--max-replay-bytes", "5001"},  // no replay would fit
      {"--verify-queue-per-address", "0"},
      {"--db-statement-timeout", "0"},
      {"--db", ""},
      {"--db"},
      {"--port", "80"},
      {"extra"},
  };
  for (const auto& args : bad) {
    TServerOptions unchanged;
    EXPECT_EQ(ParseServerOptions(args, unchanged, error), TParseResult::prError) << args[0];
    EXPECT_FALSE(error.empty());
  }
  // What is wrong, named: an option not known (alone, last, or with a value after it) is not taken for
  // one that lacks its value, and a known one without its value says so.
  const std::vector<std::pair<std::vector<std::string>, std::string>> named = {
      {{"--bogus"}, "unknown option --bogus"},      {{"--db", "x", "--bogus"}, "unknown option --bogus"},
      {{"--bogus", "3"}, "unknown option --bogus"}, {{"-v"}, "unknown option -v"},
      {{"extra"}, "unknown argument extra"},        {{"--db"}, "--db needs a value"},
      {{"--threads"}, "--threads needs a value"},
  };
  for (const auto& [args, message] : named) {
    TServerOptions unchanged;
    EXPECT_EQ(ParseServerOptions(args, unchanged, error), TParseResult::prError) << args[0];
    EXPECT_EQ(error, message);
  }
  EXPECT_EQ(ParseServerOptions({"--db", "x", "--help"}, options, error), TParseResult::prHelp);
  EXPECT_EQ(ParseServerOptions({"--db", "x", "--version"}, options, error), TParseResult::prVersion);
  // --help shows every option with its default.
  const std::string usage = ServerUsage();
  for (const char* line :
       {"--max-connections N", "(default 2048)", "--max-tokens N", "(default 200000)",
        "--request-timeout SECS", "(default 20)", "--max-header-bytes BYTES", "(default 8192)"})
    EXPECT_NE(usage.find(line), std::string::npos) << line << "\n" << usage;
}

class TokenBook : public ::testing::Test {
 protected:
  const TServerClock::time_point t0{};
  const std::string s1 = RandomHex(16), s2 = RandomHex(16);
};

TEST_F(TokenBook, ATokenIsGoodOnceForItsSessionUntilItsLifetimeEnds) {
  TTokenBook book(600s, 100, 10);
  std::string token = book.Issue(s1, "a", t0);
  EXPECT_EQ(token.size(), 32u);
  EXPECT_NE(book.Issue(s1, "a", t0), token);
  EXPECT_EQ(book.Take(token, s2, t0 + 1s), TTokenBook::TTake::tkOtherSession);
  EXPECT_EQ(book.Take(token, s1, t0 + 599s), TTokenBook::TTake::tkTaken);
  EXPECT_EQ(book.Take(token, s1, t0 + 599s), TTokenBook::TTake::tkUnknown);
  EXPECT_EQ(book.Take("not a token", s1, t0), TTokenBook::TTake::tkUnknown);

  std::string late = book.Issue(s1, "a", t0);
  EXPECT_EQ(book.Take(late, s1, t0 + 600s), TTokenBook::TTake::tkExpired);
  EXPECT_EQ(book.Take(late, s1, t0 + 1s), TTokenBook::TTake::tkUnknown);

  book.Return(token, s1, "a", t0 + 2s);  // a result that could not be stored
  EXPECT_EQ(book.Take(token, s1, t0 + 3s), TTokenBook::TTake::tkTaken);
}

TEST_F(TokenBook, AnAddressPastItsShareLosesItsOwnOldestToken) {
  TTokenBook book(600s, 100, 3);
  std::vector<std::string> tokens;
  for (int i = 0; i < 5; ++i) tokens.push_back(book.Issue(s1, "a", t0 + std::chrono::seconds(i)));
  const std::string other = book.Issue(s2, "b", t0);
  EXPECT_EQ(book.HeldBy("a"), 3u);
  EXPECT_EQ(book.Take(tokens[0], s1, t0 + 10s), TTokenBook::TTake::tkUnknown);
  EXPECT_EQ(book.Take(tokens[1], s1, t0 + 10s), TTokenBook::TTake::tkUnknown);
  for (size_t i = 2; i < 5; ++i)
    EXPECT_EQ(book.Take(tokens[i], s1, t0 + 10s), TTokenBook::TTake::tkTaken) << i;
  EXPECT_EQ(book.Take(other, s2, t0 + 10s), TTokenBook::TTake::tkTaken);
  EXPECT_EQ(book.Size(), 0u);
  EXPECT_EQ(book.HeldBy("a"), 0u);
}

TEST_F(TokenBook, AFullBookDropsWhatExpiredThenTheOldestOfTheAddressHoldingMost) {
  TTokenBook book(600s, 5, 10);
  const std::string early = book.Issue(s1, "early", t0);  // the oldest token of all
  std::vector<std::string> crowd;
  for (int i = 0; i < 3; ++i) crowd.push_back(book.Issue(s2, "crowd", t0 + 1s));
  const std::string other = book.Issue(s2, "other", t0 + 2s);
  // Full: each newcomer goes in for the oldest token of the address holding most.
  const std::string second = book.Issue(s2, "second", t0 + 3s);
  EXPECT_EQ(book.Size(), 5u);
  EXPECT_EQ(book.HeldBy("crowd"), 2u);
  const std::string third = book.Issue(s2, "third", t0 + 4s);
  EXPECT_EQ(book.HeldBy("crowd"), 1u);
  EXPECT_EQ(book.HeldBy("early"), 1u);
  // All hold one each now: of equals, the address with the oldest token loses it.
  const std::string fourth = book.Issue(s2, "fourth", t0 + 5s);
  EXPECT_EQ(book.HeldBy("early"), 0u);
  EXPECT_EQ(book.Size(), 5u);
  EXPECT_EQ(book.Take(early, s1, t0 + 6s), TTokenBook::TTake::tkUnknown);
  EXPECT_EQ(book.Take(crowd[0], s2, t0 + 6s), TTokenBook::TTake::tkUnknown);
  EXPECT_EQ(book.Take(crowd[1], s2, t0 + 6s), TTokenBook::TTake::tkUnknown);
  for (const std::string& kept : {crowd[2], other, second, third, fourth})
    EXPECT_EQ(book.Take(kept, s2, t0 + 6s), TTokenBook::TTake::tkTaken);

  // Expired tokens go before any good one, whoever holds them.
  TTokenBook expiring(10s, 3, 10);
  const std::string stale = expiring.Issue(s1, "a", t0);
  const std::string keep1 = expiring.Issue(s1, "b", t0 + 5s);
  const std::string keep2 = expiring.Issue(s1, "b", t0 + 6s);
  expiring.Issue(s1, "c", t0 + 11s);
  EXPECT_EQ(expiring.HeldBy("a"), 0u);
  EXPECT_EQ(expiring.Take(keep1, s1, t0 + 12s), TTokenBook::TTake::tkTaken);
  EXPECT_EQ(expiring.Take(keep2, s1, t0 + 12s), TTokenBook::TTake::tkTaken);
  EXPECT_EQ(expiring.Size(), 1u);
}

TEST(RateLimiter, CountsEachAddressOverTheLastMinute) {
  const TServerClock::time_point t0{};
  TRateLimiter limit(3, 100);
  EXPECT_TRUE(limit.Allow("a", t0));
  EXPECT_TRUE(limit.Allow("a", t0 + 10s));
  EXPECT_TRUE(limit.Allow("a", t0 + 20s));
  EXPECT_FALSE(limit.Allow("a", t0 + 59s));
  EXPECT_TRUE(limit.Allow("b", t0 + 59s));
  EXPECT_TRUE(limit.Allow("a", t0 + 60s));  // the first has left the window; the refused one never counted
  EXPECT_FALSE(limit.Allow("a", t0 + 69s));
  EXPECT_TRUE(limit.Allow("a", t0 + 70s));

  TRateLimiter none(0, 100);
  for (int i = 0; i < 1000; ++i) EXPECT_TRUE(none.Allow("a", t0));
}

TEST(RateLimiter, RemembersAtMostItsAddressesAndForgetsTheLeastRecent) {
  const TServerClock::time_point t0{};
  TRateLimiter limit(1, 3);
  EXPECT_TRUE(limit.Allow("a", t0));
  EXPECT_TRUE(limit.Allow("b", t0 + 1s));
  EXPECT_TRUE(limit.Allow("c", t0 + 2s));
  EXPECT_FALSE(limit.Allow("a", t0 + 3s));  // a is now the most recent, b the least
  EXPECT_TRUE(limit.Allow("d", t0 + 4s));   // b is forgotten to make room
  EXPECT_EQ(limit.Size(), 3u);
  EXPECT_FALSE(limit.Allow("a", t0 + 5s));
  EXPECT_FALSE(limit.Allow("c", t0 + 5s));
  EXPECT_TRUE(limit.Allow("b", t0 + 6s));  // counted afresh
  // Within its minute the table stays at its size however many addresses come.
  for (int i = 0; i < 1000; ++i) EXPECT_TRUE(limit.Allow("x" + std::to_string(i), t0 + 7s));
  EXPECT_EQ(limit.Size(), 3u);
  // A minute after the last, the addresses go by themselves.
  EXPECT_TRUE(limit.Allow("late", t0 + 68s));
  EXPECT_EQ(limit.Size(), 1u);
}

// Threads that store at once share transactions (with a flush to the disk each, so that they do);
// every entry is stored once, and a failing transaction fails its own entries and leaves the table
// ready for the next.
// The verifier's answer as the game writes it verifies an entry of its score only; any other number,
// or one written otherwise than the game writes it, refuses with a reason.
TEST(VerifierOutput, OnlyAnEqualCheckEndingWithTheEntrysScoreVerifies) {
  const auto report = [](int64_t score, bool equal) {
    TVerifierReport r;
    r.File = "x.replay";
    r.Played = {9, score, 1, 0, 0x1234, std::nullopt};
    r.Recorded = {9, 412, 1, 0, 0x1234, 0x99};
    r.Equal = equal;
    r.FirstDifferenceTick = equal ? -1 : 600;
    return WriteVerifierReport(r) + "\n";
  };
  std::string leadingZero = report(412, true);
  leadingZero.replace(leadingZero.find("\"score\":412"), 11, "\"score\":0412");
  struct Case {
    int Status;
    std::string Output;
    const char* Reason;  // the start of the reason; null: verified
  };
  const Case cases[] = {
      {0, report(412, true), nullptr},
      {0, report(411, true), "the replay ends with the score 411, the entry has 412"},
      {0, leadingZero, "the verifier's answer could not be read"},
      {0, report(-412, true), "the replay ends with the score -412"},
      {1, report(412, false), "the replay does not play back as it was recorded (from tick 600)"},
      {1, report(412, true), "the replay does not play back as it was recorded"},
      {0, report(412, true).substr(0, 60), "the verifier's answer could not be read"},
      {2, "", "the verifier refused the file"},
      {0, "", "the verifier's answer could not be read"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Output);
    const TVerdict verdict = ReadVerifierOutput(c.Status, c.Output, "", 412, "");
    EXPECT_EQ(verdict.Verified, c.Reason == nullptr);
    if (c.Reason) {
      EXPECT_EQ(verdict.Reason.rfind(c.Reason, 0), 0u) << verdict.Reason;
    }
  }
  // A score of 0 written "-0" is not the game's.
  std::string minusZero = report(0, true);
  minusZero.replace(minusZero.find("\"score\":0"), 9, "\"score\":-0");
  EXPECT_FALSE(ReadVerifierOutput(0, minusZero, "", 0, "").Verified);
  EXPECT_TRUE(ReadVerifierOutput(0, report(0, true), "", 0, "").Verified);
}

TEST(ScoreStore, EntriesFromManyThreadsAreStoredOnceEachAndAFailureLeavesNoTrace) {
  TTempFolder folder;
  const std::string path = folder.Path() + "/scores.db";
  const auto store = OpenScoreStore(path, true);
  constexpr int kThreads = 8, kEach = 40;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&store, t] {
      for (int i = 0; i < kEach; ++i)
        store->Insert({"T" + std::to_string(t), "", static_cast<uint16_t>(t * 1000 + i), 0});
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(store->Count(), kThreads * kEach);
  std::vector<TStoredEntry> best = store->Best(kThreads * kEach);
  std::set<int> scores;
  for (const TStoredEntry& e : best) scores.insert(e.Score);
  EXPECT_EQ(scores.size(), static_cast<size_t>(kThreads * kEach));

  EXPECT_THROW(store->Insert({"Eleven char", "", 1, 0}), EStoreError);  // past the table's own check
  store->Insert({"After", "", 2, 0});
  EXPECT_EQ(store->Count(), kThreads * kEach + 1);
  EXPECT_EQ(OpenScoreStore(path, false)->Count(), kThreads * kEach + 1);
}

// The file as another connection (the system's VFS) reads it: one value of the first row of sql.
std::string ReadOne(const std::string& path, const std::string& sql) {
  sqlite3* db = nullptr;
  std::string value;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK) {
    sqlite3_stmt* s = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &s, nullptr) == SQLITE_OK && sqlite3_step(s) == SQLITE_ROW &&
        sqlite3_column_type(s, 0) != SQLITE_NULL)
      value.assign(static_cast<const char*>(sqlite3_column_blob(s, 0)),
                   static_cast<size_t>(sqlite3_column_bytes(s, 0)));
    sqlite3_finalize(s);
  }
  sqlite3_close(db);
  return value;
}

// A transaction far larger than one write of the system's, and than SQLite's page cache (a replay of 4
// MB: some pages go to the WAL before the commit and are written again), is in the file whole once it
// is stored: for a connection of its own while the store stays open, and in a copy of the files taken
// then, as a process killed at that moment would leave them.
TEST(ScoreStore, ALargeTransactionIsInTheFileWholeOnceStored) {
  TTempFolder folder;
  const std::string path = folder.Path() + "/scores.db";
  const auto store = OpenScoreStore(path, false);
  const int64_t now = static_cast<int64_t>(std::time(nullptr));
  const std::string challenge = RandomHex(16);
  store->IssueChallenge(challenge, 7, "10.0.0.1", now, {});
  TEntryProof proof;
  proof.Ticket = RandomHex(16);
  proof.TicketExpires = now + 600;
  proof.Quoted = true;
  proof.Challenge = challenge;
  proof.ChallengeLifetime = 86400;
  const int64_t entry = store->Insert({"Big", "", 1, now}, proof);
  ASSERT_TRUE(proof.Taken);
  std::string replay(4 << 20, '\0');
  for (size_t i = 0; i < replay.size(); ++i) replay[i] = static_cast<char>(i * 7919 % 251);
  int64_t stored = 0;
  std::string reason;
  // Not a replay at all: stored refused, with its bytes, in one transaction.
  EXPECT_EQ(store->StoreReplay(proof.Ticket, replay, now, stored, reason), TUploadResult::urRefused);
  EXPECT_EQ(stored, entry);
  const std::string query = "SELECT data FROM replays WHERE entry = " + std::to_string(entry);
  EXPECT_EQ(ReadOne(path, query), replay);
  const std::string copy = folder.Path() + "/killed.db";
  std::filesystem::copy_file(path, copy);
  std::filesystem::copy_file(path + "-wal", copy + "-wal");
  EXPECT_EQ(ReadOne(copy, query), replay);
  store->Insert({"After", "", 2, now});
  EXPECT_EQ(ReadOne(path, "SELECT name FROM scores ORDER BY id DESC LIMIT 1"), "After");
}

// Through the store's VFS, a transaction larger than its connection's page cache that changes again
// pages already sent to the WAL (which SQLite then rewrites in place, with new checksums after them)
// is in a copy of the files taken right after its COMMIT, as a killed process leaves them.
TEST(WalBuffer, ATransactionRewritingItsOwnFramesIsWholeInTheFilesAtItsCommit) {
  TTempFolder folder;
  const std::string path = folder.Path() + "/rewrite.db";
  sqlite3* db = nullptr;
  ASSERT_EQ(
      sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, WalBufferVfsName()),
      SQLITE_OK);
  const char* sql =
      "PRAGMA page_size=1024; PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL; PRAGMA cache_size=8;"
      "CREATE TABLE t (id INTEGER PRIMARY KEY, v TEXT); CREATE INDEX t_v ON t (v);"
      "BEGIN;"
      "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 2000)"
      "  INSERT INTO t SELECT i, printf('%0100d', i) FROM n;"
      "UPDATE t SET v = printf('x%099d', id) WHERE id <= 1000;"
      "COMMIT;";
  ASSERT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
  const std::string copy = folder.Path() + "/killed.db";
  std::filesystem::copy_file(path, copy);
  std::filesystem::copy_file(path + "-wal", copy + "-wal");
  EXPECT_EQ(ReadOne(copy, "SELECT count(*) FROM t WHERE v LIKE 'x%'"), "1000");
  EXPECT_EQ(ReadOne(copy, "SELECT count(*) FROM t"), "2000");
  sqlite3_close(db);
}

// A file of the fourth version, with its wider indexes, a queued replay and a challenge handed out, is
// taken over: the indexes narrowed, the replay still queued for the workers, the challenge still good.
TEST(ScoreStore, AFourthVersionFileIsTakenOverWithItsQueueAndChallenges) {
  TTempFolder folder;
  const std::string path = folder.Path() + "/scores.db";
  const int64_t now = static_cast<int64_t>(std::time(nullptr));
  {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    const std::string sql =
        "PRAGMA journal_mode=WAL;"
        "CREATE TABLE scores (id INTEGER PRIMARY KEY, name TEXT NOT NULL CHECK (length(name) <= 10),"
        "  country TEXT NOT NULL CHECK (length(country) <= 10),"
        "  score INTEGER NOT NULL CHECK (score BETWEEN 0 AND 65535), submitted INTEGER NOT NULL);"
        "CREATE INDEX scores_best ON scores (score DESC, id);"
        "CREATE TABLE replays (entry INTEGER PRIMARY KEY REFERENCES scores (id), ticket TEXT NOT NULL UNIQUE,"
        "  expires INTEGER NOT NULL, data BLOB, state INTEGER NOT NULL DEFAULT 0, reason TEXT, checked "
        "INTEGER,"
        "  leased INTEGER, seed INTEGER, address TEXT, started INTEGER);"
        "CREATE INDEX replays_state ON replays (state, entry);"
        "CREATE INDEX replays_address ON replays (address, started);"
        "CREATE TABLE challenges (serial INTEGER PRIMARY KEY AUTOINCREMENT, id TEXT NOT NULL UNIQUE,"
        "  seed INTEGER NOT NULL, address TEXT NOT NULL, issued INTEGER NOT NULL);"
        "CREATE INDEX challenges_address ON challenges (address, serial);"
        "CREATE INDEX challenges_issued ON challenges (issued);"
        "INSERT INTO scores VALUES (1, 'Queued', '', 50, 0), (2, 'Waiting', '', 60, 0);"
        "INSERT INTO replays (entry, ticket, expires, data, state, address) VALUES"
        "  (1, 'aaaa', 0, x'00', 1, '10.0.0.9'), (2, 'bbbb', 0, NULL, 4, NULL);"
        "INSERT INTO challenges (id, seed, address, issued) VALUES ('cccc', 99, '10.0.0.1', " +
        std::to_string(now) + ");PRAGMA user_version=4;";
    ASSERT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
    sqlite3_close(db);
  }
  const auto store = OpenScoreStore(path, false);
  EXPECT_EQ(ReadOne(path, "PRAGMA user_version"), "5");
  EXPECT_EQ(ReadOne(path, "SELECT count(*) FROM sqlite_master WHERE name = 'challenges_issued'"), "0");
  EXPECT_NE(ReadOne(path, "SELECT sql FROM sqlite_master WHERE name = 'replays_state'").find("WHERE"),
            std::string::npos);
  EXPECT_EQ(store->Count(), 2);
  EXPECT_EQ(store->QueuedCount(), 1);
  EXPECT_EQ(store->QueuedCountFrom("10.0.0.9"), 1);
  TReplayUpload upload;
  ASSERT_TRUE(store->ClaimReplay(60, upload));
  EXPECT_EQ(upload.Entry, 1);
  TEntryProof proof;
  proof.Ticket = RandomHex(16);
  proof.TicketExpires = now + 600;
  proof.Quoted = true;
  proof.Challenge = "cccc";
  proof.ChallengeLifetime = 86400;
  store->Insert({"Late", "", 70, now}, proof);
  EXPECT_TRUE(proof.Taken);
}

}  // namespace
