#include "server/server_options.h"

#include <cstdlib>

#ifndef PELLORIN_SCORE_KEY
#define PELLORIN_SCORE_KEY 'P'
#endif

namespace {

// A decimal number from low to high, nothing else.
bool ParseNumber(const std::string& text, long low, long high, int& value) {
  if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos)
    return false;
  long n = std::strtol(text.c_str(), nullptr, 10);
  if (n < low || n > high) return false;
  value = static_cast<int>(n);
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
  if (!ParseNumber(text.substr(colon + 1), 0, 65535, port)) return false;
  host = h;
  return true;
}

}  // namespace

TServerOptions::TServerOptions() : Key(PELLORIN_SCORE_KEY) {}

TParseResult ParseServerOptions(const std::vector<std::string>& args, TServerOptions& options,
                                std::string& error) {
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& name = args[i];
    if (name == "--help" || name == "-h") return TParseResult::prHelp;
    if (name == "--trust-proxy") {
      options.TrustProxy = true;
      continue;
    }
    if (name == "--full-sync") {
      options.FullSync = true;
      continue;
    }
    if (i + 1 >= args.size()) {
      error = name.rfind("--", 0) == 0 ? name + " needs a value" : "unknown argument " + name;
      return TParseResult::prError;
    }
    const std::string& value = args[++i];
    bool ok = true;
    if (name == "--listen") {
      ok = ParseListen(value, options.Host, options.Port);
    } else if (name == "--db") {
      ok = !value.empty();
      options.DatabasePath = value;
    } else if (name == "--key") {
      ok = value.size() == 1 && value[0] >= 'A' && value[0] <= 'Z';
      if (ok) options.Key = value[0];
    } else if (name == "--max-per-minute") {
      ok = ParseNumber(value, 0, 1000000, options.MaxPerMinute);
    } else if (name == "--token-lifetime") {
      ok = ParseNumber(value, 1, 86400, options.TokenLifetime);
    } else if (name == "--threads") {
      ok = ParseNumber(value, 1, 1024, options.Threads);
    } else {
      error = "unknown argument " + name;
      return TParseResult::prError;
    }
    if (!ok) {
      error = "bad value for " + name + ": '" + value + "'";
      return TParseResult::prError;
    }
  }
  return TParseResult::prRun;
}

std::string ServerUsage() {
  TServerOptions defaults;
  return "Usage: pellorin-server [options]\n"
         "Serves Pellorin's world high-score table over HTTP: the handshake and result requests the game\n"
         "sends, the world table (HTML, or JSON with &format=json) and a home page.\n"
         "\n"
         "  --listen HOST:PORT      address to listen on (default " +
         defaults.Host + ":" + std::to_string(defaults.Port) +
         "; [::1]:PORT for IPv6; port 0 picks a free one)\n"
         "  --db PATH               the SQLite database, created on first start (default " +
         defaults.DatabasePath +
         ")\n"
         "  --key LETTER            the key letter the game was built with (default " +
         std::string(1, defaults.Key) +
         ")\n"
         "  --max-per-minute N      results and handshakes one client address may send a minute (default " +
         std::to_string(defaults.MaxPerMinute) +
         "; 0: no limit)\n"
         "  --token-lifetime SECS   how long a handshake's token stays good (default " +
         std::to_string(defaults.TokenLifetime) +
         ")\n"
         "  --threads N             requests served at once (default " +
         std::to_string(defaults.Threads) +
         ")\n"
         "  --trust-proxy           take the client's address from X-Forwarded-For (behind a reverse proxy)\n"
         "  --full-sync             write each result through to the disk before answering \"OK\"\n"
         "  --help                  this text\n"
         "\n"
         "One line per request goes to standard error. SIGTERM or SIGINT stops the server after the\n"
         "requests in progress have been answered.\n";
}
