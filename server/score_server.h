// pellorin-server's HTTP side: the handshake, the result, the world table and the home page over
// cpp-httplib, with the table in a TScoreStore and the tokens and rate limits in memory. main runs one;
// the tests and the benchmark run one in their own process, too.
#pragma once

#include <atomic>
#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>

#include "server/score_store.h"
#include "server/server_options.h"
#include "server/tokens.h"

namespace httplib {
struct Request;
struct Response;
}  // namespace httplib
class THttpServer;

class EServerError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

inline constexpr size_t kRequestLineMax = 2048;  // bytes of "METHOD TARGET HTTP/x.y"
inline constexpr size_t kTokenBookCapacity = 200000;
inline constexpr const char* kSessionCookie = "pellorin_session";

class TScoreServer {
 public:
  // Opens the database (EStoreError) and sets up the handlers; log gets one line per request (null:
  // none) and is not owned.
  TScoreServer(const TServerOptions& options, FILE* log);
  ~TScoreServer();
  TScoreServer(const TScoreServer&) = delete;
  TScoreServer& operator=(const TScoreServer&) = delete;

  // Binds the listening socket; returns its port (the chosen one for port 0). Throws EServerError.
  int Bind();
  // Serves on the bound socket until Stop, then returns once every request in progress is answered.
  void Run();
  // Makes Run return; callable from any thread, before or during Run.
  void Stop();

  TScoreStore& Store() { return Scores; }

  // A query's keys, each with its value when it has an "=".
  using TQuery = std::map<std::string, std::optional<std::string>>;

 private:
  void HandleScript(const httplib::Request& req, httplib::Response& res);
  void HandleHandshake(const httplib::Request& req, httplib::Response& res);
  void HandleResult(const httplib::Request& req, const TQuery& query, httplib::Response& res);
  void HandleWorldTable(const TQuery& query, httplib::Response& res);
  std::string ClientAddress(const httplib::Request& req) const;
  void LogRequest(const httplib::Request& req, const httplib::Response& res);

  TServerOptions Options;
  FILE* Log;
  std::mutex LogLock;
  TScoreStore Scores;
  TTokenBook Tokens;
  TRateLimiter HandshakeLimit;
  TRateLimiter ResultLimit;
  std::unique_ptr<THttpServer> Http;
  std::atomic<bool> StopRequested{false};
  std::atomic<bool> Running{false};
};
