#include "server/server_options.h"

#include <algorithm>
#include <cstdlib>
#include <functional>

#include "server/score_store.h"

#ifndef PELLORIN_SCORE_KEY
#define PELLORIN_SCORE_KEY 'P'
#endif

namespace {

// A decimal number from low to high, nothing else.
bool ParseNumber(const std::string& text, long low, long high, long& value) {
  if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos)
    return false;
  long n = std::strtol(text.c_str(), nullptr, 10);
  if (n < low || n > high) return false;
  value = n;
  return true;
}

// "HOST:PORT" or "[IPV6]:PORT".
bool ParseListen(const std::string& text, std::string& host, int& port) {
  size_t colon = text.rfind(':');
  if (colon == std::string::npos || colon == 0) return false;
  std::string h = text.substr(0, colon);
  if (h.front() == '[') {
    if (h.size() < 3 || h.back() != ']') return false;
    h = h.substr(1, h.size() - 2);
  } else if (h.find(':') != std::string::npos) {
    return false;  // an IPv6 address needs its brackets
  }
  long p = 0;
  if (!ParseNumber(text.substr(colon + 1), 0, 65535, p)) return false;
  host = h;
  port = static_cast<int>(p);
  return true;
}

// Every number is held in a long while it is read, then stored in its field's own type.
struct TNumberField {
  std::function<long(const TServerOptions&)> Get;
  std::function<void(TServerOptions&, long)> Set;
};

template <typename T>
TNumberField Field(T TServerOptions::*field) {
  return {[field](const TServerOptions& o) { return static_cast<long>(o.*field); },
          [field](TServerOptions& o, long v) { o.*field = static_cast<T>(v); }};
}

template <typename T>
TNumberField HttpField(T THttpLimits::*field) {
  return {[field](const TServerOptions& o) { return static_cast<long>(o.Http.*field); },
          [field](TServerOptions& o, long v) { o.Http.*field = static_cast<T>(v); }};
}

// An option with a number: its range, where it goes, and its line in --help.
struct TNumber {
  const char* Name;
  const char* Value;  // the placeholder in --help
  long Low, High;
  TNumberField Field;
  const char* Meaning;
  const char* Note;  // after the default in --help
};

const std::vector<TNumber>& Numbers() {
  static const std::vector<TNumber> numbers = {
      {"--max-per-minute", "N", 0, 1000000, Field(&TServerOptions::MaxPerMinute),
       "results, handshakes and challenges (each counted apart) one client address may send a minute",
       "; 0: no limit"},
      {"--token-lifetime", "SECS", 1, 86400, Field(&TServerOptions::TokenLifetime),
       "how long a handshake's token stays good", ""},
      {"--max-tokens", "N", 1, 10000000, Field(&TServerOptions::MaxTokens),
       "tokens waiting for their result; past it the oldest of the address holding most go", ""},
      {"--max-tokens-per-address", "N", 1, 1000000, Field(&TServerOptions::MaxTokensPerAddress),
       "tokens waiting for their result from one address; past it its oldest goes", ""},
      {"--challenge-lifetime", "SECS", 1, 2592000, Field(&TServerOptions::ChallengeLifetime),
       "how long a challenge (the seed of a game whose result is to be verified) stays good", ""},
      {"--max-challenges", "N", 1, 10000000, Field(&TServerOptions::MaxChallenges),
       "challenges waiting for their result; past it the oldest go", ""},
      {"--max-challenges-per-address", "N", 1, 1000000, Field(&TServerOptions::MaxChallengesPerAddress),
       "challenges waiting for their result from one address; past it its oldest goes", ""},
      {"--max-tracked-addresses", "N", 1, 10000000, Field(&TServerOptions::MaxTrackedAddresses),
       "addresses the per-minute limit remembers; past it the least recent is forgotten", ""},
      {"--threads", "N", 1, 1024, HttpField(&THttpLimits::Threads), "threads serving connections", ""},
      {"--max-connections", "N", 1, 1000000, HttpField(&THttpLimits::MaxConnections),
       "connections open at once", ""},
      {"--max-connections-per-address", "N", 0, 1000000, HttpField(&THttpLimits::MaxConnectionsPerAddress),
       "connections open at once from one client address",
       "; 0: no limit; none with --trust-proxy unless given"},
      {"--max-request-line", "BYTES", 16, 1048576, HttpField(&THttpLimits::MaxRequestLine),
       "length of a request line (414 past it)", ""},
      {"--max-header-bytes", "BYTES", 1024, 1048576, HttpField(&THttpLimits::MaxHeaderBytes),
       "length of a request line and header fields together (431 past it)", ""},
      {"--max-headers", "N", 1, 10000, HttpField(&THttpLimits::MaxHeaderCount),
       "header fields in one request (431 past it)", ""},
      {"--idle-timeout", "SECS", 1, 3600, HttpField(&THttpLimits::IdleTimeout),
       "how long a connection may stay silent before it is closed", ""},
      {"--request-timeout", "SECS", 1, 86400, HttpField(&THttpLimits::RequestTimeout),
       "how long a request may take to arrive whole (408 past it)", ""},
      {"--verify-workers", "N", 0, 256, Field(&TServerOptions::VerifyWorkers),
       "uploaded replays checked at once, each by a process of its own", "; 0: results get a plain OK"},
      {"--verify-cpu", "SECS", 1, 86400, Field(&TServerOptions::VerifyCpuSeconds),
       "CPU time one check may use", ""},
      {"--verify-memory", "MB", 0, 65536, Field(&TServerOptions::VerifyMemoryMegabytes),
       "address space one check may use", "; 0: no limit, for a verifier built with a sanitizer"},
      {"--verify-timeout", "SECS", 1, 86400, Field(&TServerOptions::VerifyTimeout),
       "how long one check may take, in the verifier's CPU time (waiting does not count)",
       "; the lower of it and --verify-cpu applies"},
      {"--verify-queue", "N", 1, 1000000, Field(&TServerOptions::VerifyQueue),
       "uploaded replays waiting for their check (503 past it)", ""},
      {"--verify-queue-per-address", "N", 1, 1000000, Field(&TServerOptions::VerifyQueuePerAddress),
       "of those, uploaded from one client address (503 past it for that address); the workers take the "
       "addresses in turn",
       ""},
      {"--max-replay-bytes", "BYTES", 1024, 67108864, Field(&TServerOptions::MaxReplayBytes),
       "size of one uploaded replay (413 past it)", ""},
      {"--verify-lease", "SECS", 2, 172800, Field(&TServerOptions::VerifyLease),
       "how long a check holds its replay; past it a replay whose worker died is checked again, and a "
       "check still running then is tried again later",
       "; more than --verify-timeout"},
      {"--table-cache", "SECS", 0, 60, Field(&TServerOptions::TableCacheSeconds),
       "how long the world table's page is served from memory; this server's own results show at once",
       "; 0: read every time"},
      {"--max-replay-bytes-held", "BYTES", 1024, 1073741824, HttpField(&THttpLimits::MaxBodyBytesHeld),
       "bytes of uploaded replays held in memory at once, those arriving included (503 past it)", ""},
      {"--max-replay-bytes-held-per-address", "BYTES", 1024, 1073741824,
       HttpField(&THttpLimits::MaxBodyBytesHeldPerAddress),
       "of those, held for one client address (503 past it for that address); at least --max-replay-bytes",
       "; four times --max-replay-bytes unless given"},
      {"--db-connect-timeout", "SECS", 1, 600, Field(&TServerOptions::DbConnectTimeout),
       "PostgreSQL: how long a new connection to the database may take", ""},
      {"--db-statement-timeout", "SECS", 1, 3600, Field(&TServerOptions::DbStatementTimeout),
       "PostgreSQL: how long one statement may take; a request that needs it fails past it", ""},
  };
  return numbers;
}

// Whether name is an option followed by its value.
bool TakesValue(const std::string& name) {
  for (const char* option : {"--listen", "--db", "--read-db", "--verifier", "--key"})
    if (name == option) return true;
  return std::any_of(Numbers().begin(), Numbers().end(),
                     [&name](const TNumber& number) { return name == number.Name; });
}

}  // namespace

std::string Counted(long long count, const char* one, const char* many) {
  return std::to_string(count) + " " + (count == 1 ? one : many);
}

TServerOptions::TServerOptions() : Key(PELLORIN_SCORE_KEY) {}

TParseResult ParseServerOptions(const std::vector<std::string>& args, TServerOptions& options,
                                std::string& error) {
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& name = args[i];
    if (name == "--help" || name == "-h") return TParseResult::prHelp;
    if (name == "--version") return TParseResult::prVersion;
    if (name == "--trust-proxy") {
      options.TrustProxy = true;
      continue;
    }
    if (name == "--full-sync") {
      options.FullSync = true;
      continue;
    }
    if (name == "--verify-only") {
      options.VerifyOnly = true;
      continue;
    }
    if (!TakesValue(name)) {
      error = (name.rfind("-", 0) == 0 ? "unknown option " : "unknown argument ") + name;
      return TParseResult::prError;
    }
    if (i + 1 >= args.size()) {
      error = name + " needs a value";
      return TParseResult::prError;
    }
    const std::string& value = args[++i];
    bool ok = true;
    if (name == "--listen") {
      ok = ParseListen(value, options.Host, options.Port);
    } else if (name == "--db") {
      ok = !value.empty();
      options.DatabasePath = value;
    } else if (name == "--read-db") {
      ok = IsPostgresUri(value);
      options.ReadDatabase = value;
    } else if (name == "--verifier") {
      ok = !value.empty();
      options.VerifierPath = value;
    } else if (name == "--key") {
      ok = value.size() == 1 && value[0] >= 'A' && value[0] <= 'Z';
      if (ok) options.Key = value[0];
    } else {
      for (const TNumber& number : Numbers()) {
        if (name != number.Name) continue;
        long n = 0;
        ok = ParseNumber(value, number.Low, number.High, n);
        if (ok) number.Field.Set(options, n);
        if (name == "--max-connections-per-address") options.PerAddressConnectionsGiven = true;
        if (name == "--max-replay-bytes-held-per-address") options.PerAddressBodyBytesGiven = true;
      }
    }
    if (!ok) {
      error = "bad value for " + name + ": '" + value + "'";
      return TParseResult::prError;
    }
  }
  if (options.Http.MaxRequestLine > options.Http.MaxHeaderBytes) {
    error = "--max-request-line is more than --max-header-bytes";
    return TParseResult::prError;
  }
  if (options.Http.IdleTimeout > options.Http.RequestTimeout) {
    error = "--idle-timeout is longer than --request-timeout";
    return TParseResult::prError;
  }
  if (options.VerifyLease <= options.VerifyTimeout) {
    error = "--verify-lease is not longer than --verify-timeout";
    return TParseResult::prError;
  }
  if (!options.ReadDatabase.empty() && !IsPostgresUri(options.DatabasePath)) {
    error = "--read-db goes with a postgresql:// --db";
    return TParseResult::prError;
  }
  if (options.VerifyOnly && options.VerifyWorkers == 0) {
    error = "--verify-only with --verify-workers 0 has nothing to do";
    return TParseResult::prError;
  }
  if (!options.PerAddressBodyBytesGiven) {
    options.Http.MaxBodyBytesHeldPerAddress = 4 * static_cast<size_t>(options.MaxReplayBytes);
  } else if (options.Http.MaxBodyBytesHeldPerAddress < static_cast<size_t>(options.MaxReplayBytes)) {
    error = "--max-replay-bytes-held-per-address is less than --max-replay-bytes";
    return TParseResult::prError;
  }
  if (options.TrustProxy && !options.PerAddressConnectionsGiven) options.Http.MaxConnectionsPerAddress = 0;
  return TParseResult::prRun;
}

std::string ServerUsage() {
  const TServerOptions defaults;
  // The option in a column of its own, its meaning beside it, wrapped at 100 characters.
  auto line = [](std::string left, const std::string& right) {
    constexpr size_t kColumn = 35, kWidth = 100;
    std::string text = "  " + left;
    text.resize(std::max<size_t>(text.size() + 2, kColumn), ' ');
    size_t lineStart = 0;
    bool first = true;
    size_t at = 0;
    while (at < right.size()) {
      size_t space = right.find(' ', at);
      std::string word = right.substr(at, space == std::string::npos ? std::string::npos : space - at);
      at = space == std::string::npos ? right.size() : space + 1;
      if (!first && text.size() - lineStart + 1 + word.size() > kWidth) {
        text += "\n";
        lineStart = text.size();
        text.append(kColumn, ' ');
        first = true;
      }
      if (!first) text += ' ';
      text += word;
      first = false;
    }
    return text + "\n";
  };
  std::string text =
      "Usage: pellorin-server [options]\n"
      "Serves Pellorin's world high-score table over HTTP: the handshake and result requests the game\n"
      "sends, the world table (HTML, or JSON with &format=json) and a home page.\n"
      "\n";
  text += line("--listen HOST:PORT", "address to listen on (default " + defaults.Host + ":" +
                                         std::to_string(defaults.Port) +
                                         "; [::1]:PORT for IPv6; port 0 picks a free one)");
  text +=
      line("--db PATH|URI", "the SQLite database, created on first start (default " + defaults.DatabasePath +
                                "), or a postgresql:// URI of a database several servers share");
  text += line("--read-db URI", "a postgresql:// URI the world table is read from, such as a replica's");
  text += line("--key LETTER",
               "the key letter the game was built with (default " + std::string(1, defaults.Key) + ")");
  for (const TNumber& number : Numbers()) {
    text += line(std::string(number.Name) + " " + number.Value,
                 std::string(number.Meaning) + " (default " + std::to_string(number.Field.Get(defaults)) +
                     number.Note + ")");
  }
  text += line("--verifier PATH",
               "the game's program that checks uploaded replays (default pellorin beside this program, "
               "else on PATH)");
  text += line("--trust-proxy", "take the client's address from X-Forwarded-For (behind a reverse proxy)");
  text += line("--full-sync", "write each result through to the disk before answering \"OK\" (SQLite)");
  text += line("--verify-only",
               "run only the verification workers on --db, without HTTP (PostgreSQL, or "
               "beside a server on the same SQLite file)");
  text += line("--help", "this text");
  text += line("--version", "the program's name and version");
  text +=
      "\n"
      "One line per request goes to standard error. SIGTERM or SIGINT stops the server: it answers the\n"
      "requests in progress (for up to a second) and closes every connection.\n";
  return text;
}
