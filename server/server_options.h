// pellorin-server's command line: what it listens on, where the table is kept, and the limits it puts
// on clients. Parsed once by main; the server, the tests and the benchmark fill the record directly.
#pragma once

#include <string>
#include <vector>

#include "server/http_server.h"

struct TServerOptions {
  std::string Host = "127.0.0.1";  // a name or an IPv4 or IPv6 address to listen on
  int Port = 8080;                 // 0: any free port, which the server reports when it starts
  // An SQLite file, created on first start, or a postgresql:// URI of a database several servers share.
  std::string DatabasePath = "pellorin-scores.db";
  std::string
      ReadDatabase;  // a postgresql:// URI the world table is read from (a replica); empty: DatabasePath
  int TableCacheSeconds = 1;     // how long the world table's page is served from memory; 0: read every time
  char Key;                      // the key letter results must carry, one of A to Z
  int MaxPerMinute = 10;         // results and handshakes per client address a minute; 0: no limit
  int TokenLifetime = 600;       // seconds a handshake's token stays good
  int MaxTokens = 200000;        // tokens waiting for their result, in all
  int MaxTokensPerAddress = 16;  // tokens waiting for their result, from one client address
  int MaxTrackedAddresses = 50000;  // addresses each per-minute count remembers
  bool TrustProxy = false;          // the client is the last address of X-Forwarded-For
  bool FullSync = false;            // every result reaches the disk before "OK" (slower)
  // Challenges, kept in the store: a game fetches its one ahead (at start-up) and may last long.
  // Counted per address and minute as handshakes are (MaxPerMinute), on their own.
  int ChallengeLifetime = 86400;     // seconds a challenge stays good from its issue
  int MaxChallenges = 200000;        // challenges waiting for their result, in all
  int MaxChallengesPerAddress = 16;  // challenges waiting for their result, issued to one address
  // The check of uploaded replays. VerifyWorkers 0: results are answered a plain "OK" and no replay is
  // taken; so they are, too, when no verifier program is found.
  int VerifyWorkers = 1;            // checks run at once
  std::string VerifierPath;         // the game's program; empty: pellorin beside the server or on PATH
  int VerifyCpuSeconds = 120;       // CPU time of one check
  int VerifyMemoryMegabytes = 512;  // address space of one check; 0: no limit
  int VerifyTimeout = 300;          // seconds one check may take from its start
  int VerifyQueue = 1000;           // replays waiting for a check; past it an upload gets a 503
  int VerifyQueuePerAddress = 8;    // of those, uploaded from one client address; past it a 503 for it
  int MaxReplayBytes = 1048576;     // bytes of one uploaded replay
  // How long a check holds its replay: past it, a replay whose worker died is claimed by another. More
  // than VerifyTimeout, so that a check still running keeps its replay.
  int VerifyLease = 360;
  bool VerifyOnly = false;  // run only the verification workers on DatabasePath, no HTTP
  THttpLimits Http;         // connections, their time and their size; Threads is --threads
  // Whether --max-connections-per-address was given: without it, --trust-proxy lifts that limit, as
  // every connection then comes from the proxy.
  bool PerAddressConnectionsGiven = false;
  // Whether --max-replay-bytes-held-per-address was given: without it, the share is four of the largest
  // replays (--max-replay-bytes).
  bool PerAddressBodyBytesGiven = false;
  // PostgreSQL: seconds to wait for a connection, and for one statement's answer, before the request
  // that needs it fails.
  int DbConnectTimeout = 2;
  int DbStatementTimeout = 5;

  TServerOptions();  // Key is the build's key letter
};

enum class TParseResult { prRun, prHelp, prVersion, prError };

// Reads args (without the program name) into options; on prError, error says which argument is wrong.
TParseResult ParseServerOptions(const std::vector<std::string>& args, TServerOptions& options,
                                std::string& error);
// The text of --help.
std::string ServerUsage();
// count and the word for what is counted, in the form that count takes: "1 entry", "2 entries".
std::string Counted(long long count, const char* one, const char* many);
