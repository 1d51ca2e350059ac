// The parts of pellorin-server that keep time or read the command line, on their own.
#include <gtest/gtest.h>

#include "server/server_options.h"
#include "server/tokens.h"

namespace {

using namespace std::chrono_literals;

TEST(ServerOptions, ReadsEachOptionAndRefusesBadValues) {
  TServerOptions options;
  std::string error;
  ASSERT_EQ(
      ParseServerOptions({"--listen", "[::1]:9000", "--db", "/tmp/x.db", "--key", "K", "--max-per-minute",
                          "0", "--token-lifetime", "30", "--threads", "4", "--trust-proxy", "--full-sync"},
                         options, error),
      TParseResult::prRun)
      << error;
  EXPECT_EQ(options.Host, "::1");
  EXPECT_EQ(options.Port, 9000);
  EXPECT_EQ(options.DatabasePath, "/tmp/x.db");
  EXPECT_EQ(options.Key, 'K');
  EXPECT_EQ(options.MaxPerMinute, 0);
  EXPECT_EQ(options.TokenLifetime, 30);
  EXPECT_EQ(options.Threads, 4);
  EXPECT_TRUE(options.TrustProxy);
  EXPECT_TRUE(options.FullSync);

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
  EXPECT_EQ(ParseServerOptions({"--db", "x", "--help"}, options, error), TParseResult::prHelp);
}

TEST(TokenBook, ATokenIsGoodOnceForItsSessionUntilItsLifetimeEnds) {
  const TServerClock::time_point t0{};
  TTokenBook book(600s, 100);
  std::string token = book.Issue("s1", t0);
  EXPECT_EQ(token.size(), 32u);
  EXPECT_NE(book.Issue("s1", t0), token);
  EXPECT_EQ(book.Take(token, "s2", t0 + 1s), TTokenBook::TTake::tkOtherSession);
  EXPECT_EQ(book.Take(token, "s1", t0 + 599s), TTokenBook::TTake::tkTaken);
  EXPECT_EQ(book.Take(token, "s1", t0 + 599s), TTokenBook::TTake::tkUnknown);

  std::string late = book.Issue("s1", t0);
  EXPECT_EQ(book.Take(late, "s1", t0 + 600s), TTokenBook::TTake::tkExpired);
  EXPECT_EQ(book.Take(late, "s1", t0 + 1s), TTokenBook::TTake::tkUnknown);
}

TEST(TokenBook, IsBoundedAndForgetsExpiredTokens) {
  const TServerClock::time_point t0{};
  TTokenBook book(10s, 3);
  for (int i = 0; i < 3; ++i) EXPECT_FALSE(book.Issue("s", t0).empty());
  EXPECT_EQ(book.Issue("s", t0 + 9s), "");
  EXPECT_FALSE(book.Issue("s", t0 + 10s).empty());
  EXPECT_EQ(book.Size(), 1u);
}

TEST(RateLimiter, CountsEachAddressOverTheLastMinute) {
  const TServerClock::time_point t0{};
  TRateLimiter limit(3);
  EXPECT_TRUE(limit.Allow("a", t0));
  EXPECT_TRUE(limit.Allow("a", t0 + 10s));
  EXPECT_TRUE(limit.Allow("a", t0 + 20s));
  EXPECT_FALSE(limit.Allow("a", t0 + 59s));
  EXPECT_TRUE(limit.Allow("b", t0 + 59s));
  EXPECT_TRUE(limit.Allow("a", t0 + 60s));  // the first has left the window; the refused one never counted
  EXPECT_FALSE(limit.Allow("a", t0 + 69s));
  EXPECT_TRUE(limit.Allow("a", t0 + 70s));

  TRateLimiter none(0);
  for (int i = 0; i < 1000; ++i) EXPECT_TRUE(none.Allow("a", t0));
}

}  // namespace
