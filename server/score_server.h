// pellorin-server's requests: the handshake, the result, the world table and the home page, served by
// the HTTP layer (http_server.h), with the table in a TScoreStore and the tokens and rate limits in
// memory, or in the store when it is shared (PostgreSQL). main runs one; the tests and the benchmark
// run one in their own process, too.
#pragma once

#include <condition_variable>
#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>

#include "server/http_server.h"
#include "server/replay_verifier.h"
#include "server/score_store.h"
#include "server/server_options.h"
#include "server/tokens.h"

class EServerError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

inline constexpr const char* kSessionCookie = "pellorin_session";

// The verifier program options ask for; empty when no replays are taken.
std::string VerifierOf(const TServerOptions& options);
// The workers that check store's replays with verifier as options limit them. Throws EServerError when
// verifier is not a program that may be run.
std::unique_ptr<TVerifyQueue> MakeVerifyQueue(TScoreStore& store, const TServerOptions& options,
                                              const std::string& verifier);

class TScoreServer {
 public:
  // Opens the database (EStoreError) and sets up the handlers; log gets one line per request (null:
  // none) and is not owned. The lines are written by a thread of their own, at most a tenth of a
  // second after their request, so that no request waits for the log; Run writes the last before it
  // returns.
  TScoreServer(const TServerOptions& options, FILE* log);
  ~TScoreServer();
  TScoreServer(const TScoreServer&) = delete;
  TScoreServer& operator=(const TScoreServer&) = delete;

  // Binds the listening socket; returns its port (the chosen one for port 0). Throws EServerError
  // naming the address.
  int Bind();
  // Serves on the bound socket until Stop, then returns once the answers in progress are sent (or a
  // second has passed) and every connection is closed. Throws EServerError when it cannot serve.
  void Run();
  // Makes Run return; callable from any thread, before or during Run.
  void Stop();

  TScoreStore& Store() { return Scores; }
  // The program that checks uploaded replays; empty when none are taken (a plain "OK" to results).
  const std::string& VerifierProgram() const { return Verifier; }
  // The connection limit in force (lower than asked for when the process may not open enough files).
  unsigned ConnectionLimit() const { return Http.ConnectionLimit(); }

  // A query's keys, each with its value when it has an "=".
  using TQuery = std::map<std::string, std::optional<std::string>>;

 private:
  void Handle(const THttpRequest& req, THttpResponse& res);
  void HandleScript(const THttpRequest& req, THttpResponse& res);
  void HandleHandshake(const THttpRequest& req, THttpResponse& res);
  void HandleResult(const THttpRequest& req, const TQuery& query, THttpResponse& res);
  void HandleWorldTable(const TQuery& query, THttpResponse& res);
  void HandleReplay(const THttpRequest& req, THttpResponse& res);
  void HandleUpload(const THttpRequest& req, const TQuery& query, THttpResponse& res);
  std::string ClientAddress(const THttpRequest& req) const;
  // Counts a request of kind from address in limiter, or in the store when it is shared; EStoreError.
  bool Allow(TRateLimiter& limiter, const char* kind, const std::string& address,
             TServerClock::time_point now);
  void LogRequest(const THttpRequest& req, const THttpResponse& res);
  void WriteLog();  // writes out what the log holds
  void LogLoop();

  TServerOptions Options;
  const std::string Verifier;  // before Http, whose limits depend on it
  FILE* Log;
  std::mutex LogLock;  // the fields below
  std::condition_variable LogWake;
  std::string LogLines;   // not yet written
  size_t LogDropped = 0;  // lines dropped while the log could not be written fast enough
  bool LogStopping = false;
  std::mutex LogWriting;  // one writer at a time, in order
  std::thread LogWriter;
  TScoreStore Scores;
  TTokenBook Tokens;
  TRateLimiter HandshakeLimit;
  TRateLimiter ResultLimit;
  std::unique_ptr<TVerifyQueue> Checks;  // null when no replays are taken
  // The world table's pages as last served: HTML, HTML verified only, JSON, JSON verified only.
  struct TTablePage {
    std::string Body;
    TServerClock::time_point At;
    uint64_t Changes = 0;  // the store's Changes() when it was read
    bool Made = false;
  };
  std::mutex TablePageLock;
  TTablePage TablePages[4];
  THttpServer Http;
};
