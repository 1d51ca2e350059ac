// The score submission against a real HTTP server on loopback: the request lines and headers as they
// arrive, the cookie sent back, the record the server receives, and every way the exchange can fail.
#include "online/score_submission.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "protocol/score_record.h"
#include "tests/support/scripted_http_server.h"

namespace {

using TServer = TScriptedHttpServer;

// Polls until the exchange has ended; ssRunning if it has not within the limit.
TScoreSubmitter::TState Outcome(TScoreSubmitter& submitter, int limitMs = 5000) {
  for (int waited = 0; waited < limitMs; waited += 5) {
    const TScoreSubmitter::TState state = submitter.Poll();
    if (state != TScoreSubmitter::ssRunning) return state;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return TScoreSubmitter::ssRunning;
}

// The headers as they go out. libcurl writes Host right after the request line whatever the order it is
// given in; the others keep the game's order.
std::string Headers(const std::string& origin) {
  const std::string host = origin.substr(std::string("http://").size());
  return "Host: " + host +
         "\r\nContent-Type: text/html\r\nAccept: text/html, */*\r\nUser-Agent: Mozilla/3.0 (compatible; Indy "
         "Library)\r\n";
}

TEST(ScoreSubmission, SendsTheHandshakeThenTheRecordWithTheTokenAndTheCookie) {
  TServer server({TServer::Reply("200 OK", "OK|a|b|c|T0KEN7|x", "Set-Cookie: sid=s42; Path=/\r\n"),
                  TServer::Reply("200 OK", "OK")});
  TScoreSubmitter submitter;
  submitter.Start(server.Origin(), "Ann Lee", "Norway", 1234);
  ASSERT_EQ(Outcome(submitter), TScoreSubmitter::ssSucceeded);
  EXPECT_EQ(submitter.Poll(), TScoreSubmitter::ssIdle);  // the outcome is taken once

  const std::vector<std::string> requests = server.Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0],
            "GET /cgi/version.pl?version&prg=Pellorin HTTP/1.1\r\n" + Headers(server.Origin()) + "\r\n");
  const std::string prefix = "GET /cgi/version.pl?hs&prg=Pellorin&inf=";
  ASSERT_EQ(requests[1].compare(0, prefix.size(), prefix), 0) << requests[1];
  const size_t lineEnd = requests[1].find(" HTTP/1.1\r\n");
  ASSERT_NE(lineEnd, std::string::npos);
  EXPECT_EQ(requests[1].substr(lineEnd + 11), Headers(server.Origin()) + "Cookie: sid=s42\r\n\r\n");

  const TScoreRecord record = DecodeResultSymbols(requests[1].substr(prefix.size(), lineEnd - prefix.size()));
  EXPECT_EQ(record.Name, "Ann Lee");
  EXPECT_EQ(record.Score, 1234);
  EXPECT_EQ(record.Token, "T0KEN7");
  EXPECT_EQ(record.Country, "Norway");
  EXPECT_EQ(record.Key, PELLORIN_SCORE_KEY);
}

// A result answered "OK|TICKET" is followed by the game's replay, posted with the ticket; a plain "OK"
// (a server that takes no replays), or no replay to send, ends the exchange there.
TEST(ScoreSubmission, TheReplayGoesOnlyWhereTheResultsAnswerCarriesATicket) {
  const std::string replay("PLRP\0\x01\xff replay bytes", 21);
  struct TCase {
    const char* Name;
    std::string ResultReply;
    std::string Replay;
    bool Uploaded;
  };
  const std::vector<TCase> cases = {
      {"a ticket", "OK|0123abcd", replay, true},
      {"a plain OK", "OK", replay, false},
      {"a ticket but no replay", "OK|0123abcd", "", false},
      {"no ticket after the bar", "OK|", replay, false},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TServer server({TServer::Reply("200 OK", "OK|a|b|c|T|", "Set-Cookie: sid=s42; Path=/\r\n"),
                    TServer::Reply("200 OK", c.ResultReply), TServer::Reply("200 OK", "OK")});
    TScoreSubmitter submitter;
    submitter.Start(server.Origin(), "Ann", "", 7, c.Replay);
    EXPECT_EQ(Outcome(submitter), TScoreSubmitter::ssSucceeded);
    ASSERT_TRUE(submitter.Uploads.WaitIdle(5000));
    const std::vector<std::string> requests = server.Requests();
    ASSERT_EQ(requests.size(), c.Uploaded ? 3u : 2u);
    if (!c.Uploaded) continue;
    const std::string host = server.Origin().substr(std::string("http://").size());
    EXPECT_EQ(requests[2], "POST /cgi/replay?ticket=0123abcd HTTP/1.1\r\nHost: " + host +
                               "\r\nContent-Type: application/octet-stream\r\nAccept: text/html, */*\r\n"
                               "User-Agent: Mozilla/3.0 (compatible; Indy Library)\r\nCookie: sid=s42\r\n"
                               "Content-Length: 21\r\n\r\n");
    EXPECT_TRUE(server.Bodies()[2] == replay);
  }
}

// The result is stored once the server said so: the exchange ends there, and the replay goes on in the
// background. A server out of room (503) or silent is tried again with growing pauses until it takes the
// replay or the time for it runs out; any other answer is final.
TEST(ScoreSubmission, TheReplayIsTriedAgainWhileTheServerIsBusyOrSilent) {
  const std::string busy = TServer::Reply("503 Service Unavailable", "Error: busy");
  const std::string ok = TServer::Reply("200 OK", "OK");
  struct TCase {
    const char* Name;
    std::vector<std::string> Uploads;  // the answers to the uploads, in turn (404 after the last)
    uint32_t RetryForMs;
    size_t Tries;  // uploads the server saw
  };
  const std::vector<TCase> cases = {
      {"taken at once", {ok}, 60000, 1},
      {"busy twice, then taken", {busy, busy, ok}, 60000, 3},
      {"silent, then taken", {TServer::kNoAnswer, ok}, 60000, 2},
      {"refused: not tried again", {TServer::Reply("409 Conflict", "Error: taken"), ok}, 60000, 1},
      // Pauses of 50, 100, 200, 400 and 800 ms: the sixth try would start after the second allowed.
      {"busy until given up", std::vector<std::string>(10, busy), 1000, 5},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    std::vector<std::string> replies = {TServer::Reply("200 OK", "OK|a|b|c|T|"),
                                        TServer::Reply("200 OK", "OK|beef")};
    replies.insert(replies.end(), c.Uploads.begin(), c.Uploads.end());
    TServer server(replies);
    TScoreSubmitter submitter;
    submitter.Uploads.TimeoutMs = 300;
    submitter.Uploads.RetryFirstMs = 50;
    submitter.Uploads.RetryForMs = c.RetryForMs;
    submitter.Start(server.Origin(), "Ann", "", 7, "replay");
    EXPECT_EQ(Outcome(submitter), TScoreSubmitter::ssSucceeded);
    ASSERT_TRUE(submitter.Uploads.WaitIdle(10000));
    const std::vector<std::string> requests = server.Requests();
    ASSERT_EQ(requests.size(), 2 + c.Tries);
    for (size_t i = 2; i < requests.size(); ++i) {
      EXPECT_EQ(requests[i].rfind("POST /cgi/replay?ticket=beef ", 0), 0u) << requests[i];
      EXPECT_EQ(server.Bodies()[i], "replay");
    }
  }
}

// The exchange does not wait for the replay: the player goes on while a busy server is tried again, and
// quitting then drops it at once.
TEST(ScoreSubmission, TheResultDoesNotWaitForTheReplay) {
  const std::string busy = TServer::Reply("503 Service Unavailable", "Error: busy");
  TServer server({TServer::Reply("200 OK", "OK|a|b|c|T|"), TServer::Reply("200 OK", "OK|beef"), busy, busy});
  const auto start = std::chrono::steady_clock::now();
  {
    TScoreSubmitter submitter;  // the pauses as players have them: a second, then two
    submitter.Start(server.Origin(), "Ann", "", 7, "replay");
    EXPECT_EQ(Outcome(submitter), TScoreSubmitter::ssSucceeded);
    EXPECT_FALSE(submitter.Uploads.WaitIdle(1500));  // the second try is under way or waiting
    EXPECT_GE(server.Requests().size(), 3u);
  }
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
}

// A game played from a challenge quotes it after the result's record; one without sends the result as
// it always was.
TEST(ScoreSubmission, TheResultQuotesTheChallengeItsGameWasPlayedFrom) {
  for (const std::string challenge : {"0123456789abcdef0123456789abcdef", ""}) {
    TServer server({TServer::Reply("200 OK", "OK|a|b|c|T|"), TServer::Reply("200 OK", "OK")});
    TScoreSubmitter submitter;
    submitter.Start(server.Origin(), "Ann", "", 7, "", challenge);
    ASSERT_EQ(Outcome(submitter), TScoreSubmitter::ssSucceeded);
    const std::string line = server.Requests()[1].substr(0, server.Requests()[1].find("\r\n"));
    const std::string expected = "GET /cgi/version.pl?" +
                                 BuildResultQuery("Ann", "", 7, PELLORIN_SCORE_KEY, "T") +
                                 (challenge.empty() ? "" : "&challenge=" + challenge) + " HTTP/1.1";
    EXPECT_EQ(line, expected);
  }
}

struct TFailureCase {
  const char* Name;
  std::vector<std::string> Replies;
  size_t RequestsSeen;
};

// Only a whole 2xx reply beginning with "OK" counts; every failure ends the same way.
TEST(ScoreSubmission, EveryFailureEndsAsAFailure) {
  const std::vector<TFailureCase> cases = {
      {"an error status with an OK body", {TServer::Reply("500 Internal Server Error", "OK|a|b|c|T|")}, 1},
      {"a redirect", {TServer::Reply("302 Found", "OK|a|b|c|T|", "Location: /elsewhere\r\n")}, 1},
      {"a reply without OK", {TServer::Reply("200 OK", "NO|a|b|c|T|")}, 1},
      {"ok in lower case", {TServer::Reply("200 OK", "ok|a|b|c|T|")}, 1},
      {"the result refused",
       {TServer::Reply("200 OK", "OK|a|b|c|T|"), TServer::Reply("403 Forbidden", "OK")},
       2},
      {"the result not OK",
       {TServer::Reply("200 OK", "OK|a|b|c|T|"), TServer::Reply("200 OK", "Error: key")},
       2},
      {"no answer", {TServer::kNoAnswer}, 1},
  };
  for (const TFailureCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TServer server(c.Replies);
    TScoreSubmitter submitter;
    submitter.TimeoutMs = 300;
    submitter.Start(server.Origin(), "Ann", "", 7);
    EXPECT_EQ(Outcome(submitter), TScoreSubmitter::ssFailed);
    EXPECT_EQ(server.Requests().size(), c.RequestsSeen);
  }
  TScoreSubmitter submitter;
  submitter.Start("http://127.0.0.1:" + std::to_string(ClosedPort()), "Ann", "", 7);
  EXPECT_EQ(Outcome(submitter), TScoreSubmitter::ssFailed);
}

// The time-out as players have it, not one cut short for a test: a server that answers each request
// seconds late still takes the result, and one that never answers is given up after 30 s. Both
// exchanges run at once.
TEST(ScoreSubmission, ASlowServerIsWaitedForAndASilentOneGivenUpAfterThirtySeconds) {
  TServer slow({TServer::Reply("200 OK", "OK|a|b|c|T|"), TServer::Reply("200 OK", "OK")});
  slow.AnswerDelayMs = 4000;
  TServer silent({TServer::kNoAnswer});
  TScoreSubmitter toSlow, toSilent;
  const auto start = std::chrono::steady_clock::now();
  toSlow.Start(slow.Origin(), "Ann", "", 7);
  toSilent.Start(silent.Origin(), "Ann", "", 7);
  auto seconds = [&] {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  };

  EXPECT_EQ(Outcome(toSlow, 20000), TScoreSubmitter::ssSucceeded);
  EXPECT_EQ(slow.Requests().size(), 2u);
  EXPECT_GE(seconds(), 8.0);  // each answer came 4 s late
  EXPECT_EQ(toSilent.Poll(), TScoreSubmitter::ssRunning);

  EXPECT_EQ(Outcome(toSilent, 45000), TScoreSubmitter::ssFailed);
  EXPECT_GE(seconds(), 29.0);
  EXPECT_LT(seconds(), 45.0);
}

// Quitting while the server keeps silent does not wait for the time-out.
TEST(ScoreSubmission, EndingTheProgramDoesNotWaitForAnUnansweredRequest) {
  TServer server({TServer::kNoAnswer});
  const auto start = std::chrono::steady_clock::now();
  {
    TScoreSubmitter submitter;
    submitter.Start(server.Origin(), "Ann", "", 7);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(submitter.Poll(), TScoreSubmitter::ssRunning);
  }
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

TEST(ScoreSubmission, TheHostHeaderNamesThePortUnlessItIs80) {
  EXPECT_EQ(HostHeader("http://example.org"), "example.org");
  EXPECT_EQ(HostHeader("http://example.org:80"), "example.org");
  EXPECT_EQ(HostHeader("http://127.0.0.1:8080"), "127.0.0.1:8080");
  EXPECT_EQ(HostHeader("https://scores.example.org"), "scores.example.org");
}

}  // namespace
