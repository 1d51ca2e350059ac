// pellorin-server's requests: the handshake, the result, the replays, the world table and the home page,
// routed here and served by the HTTP layer (http_server.h), with the table in a TScoreStore and who may
// hand in a result decided by its TAdmission. main runs one; the tests and the benchmark run one in
// their own process, too.
#pragma once

#include <cstdio>
#include <memory>
#include <stdexcept>
#include <string>

#include "server/admission.h"
#include "server/http_server.h"
#include "server/request_log.h"
#include "server/request_parts.h"
#include "server/score_store.h"
#include "server/server_options.h"
#include "server/table_cache.h"
#include "server/verify_queue.h"

class EServerError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The PostgreSQL time-outs options ask for.
TDbTimeouts DbTimeoutsOf(const TServerOptions& options);
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

  TScoreStore& Store() { return *Scores; }
  // The program that checks uploaded replays; empty when none are taken (a plain "OK" to results).
  const std::string& VerifierProgram() const { return Verifier; }
  // The connection limit in force (lower than asked for when the process may not open enough files).
  unsigned ConnectionLimit() const { return Http.ConnectionLimit(); }

 private:
  void Handle(const THttpRequest& req, THttpResponse& res);
  void HandleScript(const THttpRequest& req, THttpResponse& res);
  void HandleHandshake(const THttpRequest& req, THttpResponse& res);
  void HandleChallenge(const THttpRequest& req, THttpResponse& res);
  void HandleResult(const THttpRequest& req, const TQuery& query, THttpResponse& res);
  void HandleWorldTable(const TQuery& query, THttpResponse& res);
  void HandleReplay(const THttpRequest& req, THttpResponse& res);
  void HandleUpload(const THttpRequest& req, const TQuery& query, THttpResponse& res);
  void LogRequest(const THttpRequest& req, const THttpResponse& res);

  TServerOptions Options;
  const std::string Verifier;  // before Http, whose limits depend on it
  TRequestLog Log;
  std::unique_ptr<TScoreStore> Scores;
  std::unique_ptr<TAdmission> Admission;
  std::unique_ptr<TVerifyQueue> Checks;  // null when no replays are taken
  TTableCache TablePages;
  THttpServer Http;
};
