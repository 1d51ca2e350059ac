// The challenge a game fetches ahead from its world server, against a real HTTP server on loopback: what
// goes out, what is held and for how long, and every answer that leaves the game with its own seed.
#include "online/challenge.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/scripted_http_server.h"

namespace {

using TServer = TScriptedHttpServer;

const TChallenge kChallenge{.Id = "0123456789abcdef0123456789abcdef", .Seed = 4242, .Lifetime = 600};

// Waits until the server has seen count requests and the fetcher has had time to read the last answer.
void AwaitRequests(TServer& server, size_t count) {
  for (int waited = 0; waited < 5000 && server.Requests().size() < count; waited += 5)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
}

TEST(Challenge, IsFetchedAheadHeldAndHandedOverOnce) {
  TServer server({TServer::Reply("200 OK", BuildChallengeReply(kChallenge))});
  TChallengeFetcher fetcher;
  fetcher.Fetch(server.Origin());
  AwaitRequests(server, 1);
  const std::string host = server.Origin().substr(std::string("http://").size());
  EXPECT_EQ(server.Requests()[0], "GET /cgi/version.pl?challenge&prg=Pellorin HTTP/1.1\r\nHost: " + host +
                                      "\r\nContent-Type: text/html\r\nAccept: text/html, */*\r\n"
                                      "User-Agent: Mozilla/3.0 (compatible; Indy Library)\r\n\r\n");
  fetcher.Fetch(server.Origin());  // one is held: no second request
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_EQ(server.Requests().size(), 1u);
  EXPECT_EQ(fetcher.Take("http://elsewhere.example.org"), std::nullopt);  // another server's game
  EXPECT_EQ(fetcher.Take(server.Origin()), std::nullopt);  // handed over to nobody, and dropped
}

TEST(Challenge, TheServersChallengeIsTakenOnceForItsOwnOrigin) {
  TServer server({TServer::Reply("200 OK", BuildChallengeReply(kChallenge))});
  TChallengeFetcher fetcher;
  fetcher.Fetch(server.Origin());
  AwaitRequests(server, 1);
  EXPECT_EQ(fetcher.Take(server.Origin()), kChallenge);
  EXPECT_EQ(fetcher.Take(server.Origin()), std::nullopt);
}

// A challenge past half its lifetime might expire before the game it starts has ended: it is dropped,
// and the next Fetch asks for a new one.
TEST(Challenge, OneTooOldToFinishAGameWithIsDroppedAndReplaced) {
  TChallenge brief = kChallenge;
  brief.Lifetime = 1;
  TChallenge next = kChallenge;
  next.Seed = 7;
  TServer server({TServer::Reply("200 OK", BuildChallengeReply(brief)),
                  TServer::Reply("200 OK", BuildChallengeReply(next))});
  TChallengeFetcher fetcher;
  fetcher.Fetch(server.Origin());
  AwaitRequests(server, 1);
  std::this_thread::sleep_for(std::chrono::milliseconds(600));
  fetcher.Fetch(server.Origin());
  AwaitRequests(server, 2);
  EXPECT_EQ(fetcher.Take(server.Origin()), next);
}

// Whatever else comes back, the game has no challenge and plays from its own seed.
TEST(Challenge, EveryOtherAnswerLeavesNone) {
  const std::vector<std::pair<const char*, std::string>> answers = {
      {"a server that hands out none",
       TServer::Reply("404 Not Found", "Error: this server checks no replays")},
      {"a challenge with an error status",
       TServer::Reply("503 Service Unavailable", BuildChallengeReply(kChallenge))},
      {"an older server's refusal", TServer::Reply("400 Bad Request", "Error: malformed request")},
      {"something else", TServer::Reply("200 OK", "<html>a home page</html>")},
      {"no answer", TServer::kNoAnswer},
  };
  for (const auto& [name, answer] : answers) {
    SCOPED_TRACE(name);
    TServer server({answer});
    TChallengeFetcher fetcher;
    fetcher.TimeoutMs = 300;
    fetcher.Fetch(server.Origin());
    AwaitRequests(server, 1);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(fetcher.Take(server.Origin()), std::nullopt);
  }
  TChallengeFetcher fetcher;
  fetcher.Fetch("");  // no server configured: nothing is asked
  EXPECT_EQ(fetcher.Take(""), std::nullopt);
}

// Quitting while the server keeps silent does not wait for the time-out.
TEST(Challenge, EndingTheProgramDoesNotWaitForTheServer) {
  TServer server({TServer::kNoAnswer});
  const auto start = std::chrono::steady_clock::now();
  {
    TChallengeFetcher fetcher;
    fetcher.Fetch(server.Origin());
    AwaitRequests(server, 1);
  }
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
}

}  // namespace
