#include "server/score_server.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <map>
#include <optional>
#include <thread>

#include "online/score_record.h"
#include "server/http_server.h"
#include "server/pages.h"

namespace {

constexpr const char* kPlainText = "text/plain; charset=utf-8";
constexpr const char* kHtml = "text/html; charset=utf-8";
constexpr const char* kPageSecurity = "default-src 'none'; style-src 'unsafe-inline'";
constexpr const char* kProtocolVersion = "1";
constexpr size_t kBodyMax = 1024;         // bytes of a request body; the game sends none
constexpr size_t kLoggedTargetMax = 240;  // characters of a request's target in the log

void Reply(httplib::Response& res, int status, const std::string& text) {
  res.status = status;
  res.set_content(text, kPlainText);
}

// A refusal: an error status and a short text that cannot be taken for "OK".
void Refuse(httplib::Response& res, int status, const std::string& why) {
  Reply(res, status, "Error: " + why + "\n");
}

void NoStore(httplib::Response& res) { res.set_header("Cache-Control", "no-store"); }

// The query of a target as the game writes it: "&"-separated keys, each with an optional "=value",
// taken as they are (the game's texts need no percent-encoding). Empty when a key comes twice.
std::optional<TScoreServer::TQuery> SplitQuery(const std::string& target) {
  TScoreServer::TQuery query;
  size_t question = target.find('?');
  if (question == std::string::npos) return query;
  std::string_view rest = std::string_view(target).substr(question + 1);
  while (!rest.empty()) {
    size_t amp = rest.find('&');
    std::string_view item = rest.substr(0, amp);
    rest = amp == std::string_view::npos ? std::string_view() : rest.substr(amp + 1);
    if (item.empty()) continue;
    size_t eq = item.find('=');
    std::string key(item.substr(0, eq));
    std::optional<std::string> value;
    if (eq != std::string_view::npos) value = std::string(item.substr(eq + 1));
    if (!query.emplace(std::move(key), std::move(value)).second) return std::nullopt;
  }
  return query;
}

bool IsSessionId(std::string_view text) {
  return text.size() == 32 && text.find_first_not_of("0123456789abcdef") == std::string_view::npos;
}

// The session id the request's cookies carry; empty when none is well formed.
std::string SessionOf(const httplib::Request& req) {
  const std::string prefix = std::string(kSessionCookie) + "=";
  size_t headers = req.get_header_value_count("Cookie");
  for (size_t h = 0; h < headers; ++h) {
    const std::string header = req.get_header_value("Cookie", h);
    std::string_view cookies = header;
    while (!cookies.empty()) {
      size_t semi = cookies.find(';');
      std::string_view item = cookies.substr(0, semi);
      cookies = semi == std::string_view::npos ? std::string_view() : cookies.substr(semi + 1);
      while (!item.empty() && item.front() == ' ') item.remove_prefix(1);
      while (!item.empty() && item.back() == ' ') item.remove_suffix(1);
      if (item.substr(0, prefix.size()) == prefix && IsSessionId(item.substr(prefix.size())))
        return std::string(item.substr(prefix.size()));
    }
  }
  return {};
}

// text with every byte outside printable ASCII as "?", cut at max characters.
std::string Printable(std::string_view text, size_t max) {
  std::string out;
  for (char c : text.substr(0, max)) out.push_back(c >= 0x20 && c < 0x7F ? c : '?');
  if (text.size() > max) out += "...";
  return out;
}

std::string UtcNowText() {
  std::time_t t = std::time(nullptr);
  std::tm now{};
  gmtime_r(&t, &now);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &now);
  return text;
}

}  // namespace

TScoreServer::TScoreServer(const TServerOptions& options, FILE* log)
    : Options(options),
      Log(log),
      Scores(options.DatabasePath, options.FullSync),
      Tokens(std::chrono::seconds(options.TokenLifetime), kTokenBookCapacity),
      HandshakeLimit(options.MaxPerMinute),
      ResultLimit(options.MaxPerMinute),
      Http(std::make_unique<THttpServer>()) {
  const size_t threads = static_cast<size_t>(options.Threads);
  Http->new_task_queue = [threads] { return new httplib::ThreadPool(threads); };
  Http->set_tcp_nodelay(true);
  Http->set_payload_max_length(kBodyMax);

  // Runs before the library reads a body, so a refused request costs no more than its header.
  Http->set_pre_routing_handler([](const httplib::Request& req, httplib::Response& res) {
    if (req.method.size() + req.target.size() + req.version.size() + 2 > kRequestLineMax) {
      Refuse(res, 414, "the request line is longer than 2048 bytes");
    } else if (req.method != "GET" && req.method != "HEAD") {
      res.set_header("Allow", "GET, HEAD");
      Refuse(res, 405, "only GET is served here");
    } else {
      return httplib::Server::HandlerResponse::Unhandled;
    }
    // What may follow in the connection is not read. (The library says so itself when the client did.)
    if (req.get_header_value("Connection") != "close") res.set_header("Connection", "close");
    return httplib::Server::HandlerResponse::Handled;
  });
  Http->Get("/", [](const httplib::Request&, httplib::Response& res) {
    res.set_header("Content-Security-Policy", kPageSecurity);
    res.set_content(HomePageHtml(), kHtml);
  });
  Http->Get(std::string(kScriptPath),
            [this](const httplib::Request& req, httplib::Response& res) { HandleScript(req, res); });
  // Called for every status of 400 and above; gives a text to those the library made itself. Past a
  // request it could not read, the connection holds nothing more worth reading.
  Http->set_error_handler(
      httplib::Server::HandlerWithResponse([](const httplib::Request&, httplib::Response& res) {
        if (!res.body.empty()) return httplib::Server::HandlerResponse::Unhandled;
        if (res.status != 404) res.set_header("Connection", "close");
        Refuse(res, res.status,
               res.status == 404   ? "no such page"
               : res.status == 414 ? "the request line is longer than 2048 bytes"
                                   : "bad request");
        return httplib::Server::HandlerResponse::Handled;
      }));
  Http->set_exception_handler([](const httplib::Request&, httplib::Response& res, std::exception_ptr) {
    Refuse(res, 500, "the server failed on this request");
  });
  Http->set_logger(
      [this](const httplib::Request& req, const httplib::Response& res) { LogRequest(req, res); });
}

TScoreServer::~TScoreServer() = default;

int TScoreServer::Bind() {
  errno = 0;
  int port = Options.Port;
  bool bound =
      port == 0 ? (port = Http->bind_to_any_port(Options.Host)) > 0 : Http->bind_to_port(Options.Host, port);
  if (!bound || !Http->WidenBacklog()) {
    throw EServerError("cannot listen on " + Options.Host + ":" + std::to_string(Options.Port) +
                       (errno ? std::string(": ") + std::strerror(errno) : std::string()));
  }
  return port;
}

void TScoreServer::Run() {
  Running = true;
  if (!StopRequested) Http->listen_after_bind();
  Running = false;
}

void TScoreServer::Stop() {
  StopRequested = true;
  // Run may be between its check of StopRequested and the start of listening: wait for one or the other.
  while (Running) {
    if (Http->is_running()) {
      Http->stop();
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

std::string TScoreServer::ClientAddress(const httplib::Request& req) const {
  if (Options.TrustProxy && req.has_header("X-Forwarded-For")) {
    // The proxy appends the address it saw; anything before it came from the client.
    std::string forwarded = req.get_header_value("X-Forwarded-For");
    size_t comma = forwarded.rfind(',');
    std::string last = comma == std::string::npos ? forwarded : forwarded.substr(comma + 1);
    size_t begin = last.find_first_not_of(' ');
    size_t end = last.find_last_not_of(' ');
    if (begin != std::string::npos) return last.substr(begin, end - begin + 1);
  }
  return req.remote_addr;
}

void TScoreServer::LogRequest(const httplib::Request& req, const httplib::Response& res) {
  if (Log == nullptr) return;
  std::string address = ClientAddress(req);
  std::string line = UtcNowText() + " " + (address.empty() ? "-" : Printable(address, 64)) + " \"" +
                     Printable(req.method, 16) + " " + Printable(req.target, kLoggedTargetMax) + "\" " +
                     std::to_string(res.status) + " " + std::to_string(res.body.size());
  if (res.status >= 400) {
    line += ' ';
    line += Printable(res.body.substr(0, res.body.find('\n')), 120);
  }
  line += "\n";
  std::lock_guard<std::mutex> hold(LogLock);
  std::fputs(line.c_str(), Log);
  std::fflush(Log);
}

void TScoreServer::HandleScript(const httplib::Request& req, httplib::Response& res) {
  auto query = SplitQuery(req.target);
  if (!query) return Refuse(res, 400, "a key comes twice in the query");
  auto prg = query->find("prg");
  if (prg == query->end() || prg->second != std::string(kProductWord))
    return Refuse(res, 404, "unknown program; this server keeps the table of prg=Pellorin");
  const bool handshake = query->count("version") > 0;
  const bool result = query->count("hs") > 0;
  const bool show = query->count("show") > 0;
  if (handshake + result + show != 1) return Refuse(res, 400, "ask for one of version, hs or show");
  if (show) return HandleWorldTable(*query, res);
  NoStore(res);
  if (req.method != "GET") {
    res.set_header("Allow", "GET");
    return Refuse(res, 405, "only GET is served here");
  }
  if (handshake) return HandleHandshake(req, res);
  HandleResult(req, *query, res);
}

void TScoreServer::HandleHandshake(const httplib::Request& req, httplib::Response& res) {
  const auto now = TServerClock::now();
  if (!HandshakeLimit.Allow(ClientAddress(req), now))
    return Refuse(res, 429, "too many requests from this address; wait a minute");
  std::string session = SessionOf(req);
  if (session.empty()) {
    session = RandomHex(16);
    res.set_header("Set-Cookie",
                   std::string(kSessionCookie) + "=" + session + "; Path=/; HttpOnly; SameSite=Lax");
  }
  std::string token = Tokens.Issue(session, now);
  if (token.empty()) return Refuse(res, 503, "the server is busy; try again later");
  // The game takes the fifth "|"-separated field as the token.
  Reply(res, 200,
        "OK|" + std::string(kProductWord) + "|" + kProtocolVersion + "|" +
            std::to_string(Options.TokenLifetime) + "|" + token + "|");
}

void TScoreServer::HandleResult(const httplib::Request& req, const TQuery& query, httplib::Response& res) {
  if (!ResultLimit.Allow(ClientAddress(req), TServerClock::now()))
    return Refuse(res, 429, "too many results from this address; wait a minute");
  auto inf = query.find("inf");
  if (inf == query.end() || !inf->second) return Refuse(res, 400, "the result has no inf");

  TScoreRecord record;
  try {
    record = DecodeResultSymbols(*inf->second);
  } catch (const ERecordError& e) {
    return Refuse(res, 400, std::string("bad record: ") + e.what());
  }
  if (record.Key != Options.Key) return Refuse(res, 403, "wrong key");
  std::string session = SessionOf(req);
  if (session.empty()) return Refuse(res, 403, "no session; fetch a token first");

  const auto now = TServerClock::now();
  switch (Tokens.Take(record.Token, session, now)) {
    case TTokenBook::TTake::tkTaken:
      break;
    case TTokenBook::TTake::tkUnknown:
      return Refuse(res, 403, "unknown or already used token");
    case TTokenBook::TTake::tkOtherSession:
      return Refuse(res, 403, "the token belongs to another session");
    case TTokenBook::TTake::tkExpired:
      return Refuse(res, 403, "the token has expired");
  }
  try {
    Scores.Insert(
        TStoredEntry{record.Name, record.Country, record.Score, static_cast<int64_t>(std::time(nullptr))});
  } catch (const EStoreError&) {
    Tokens.Return(record.Token, session, now);
    return Refuse(res, 500, "the result could not be stored; try again");
  }
  Reply(res, 200, "OK");
}

void TScoreServer::HandleWorldTable(const TQuery& query, httplib::Response& res) {
  auto type = query.find("type");
  if (type != query.end() && type->second != "0")
    return Refuse(res, 404, "no such table; type=0 is the world table");
  auto format = query.find("format");
  std::string wanted = format == query.end() ? "html" : format->second.value_or("");
  if (wanted != "html" && wanted != "json") return Refuse(res, 400, "format is html or json");

  std::vector<TStoredEntry> best;
  try {
    best = Scores.Best(kWorldTableSize);
  } catch (const EStoreError&) {
    return Refuse(res, 500, "the table cannot be read just now");
  }
  res.set_header("Cache-Control", "no-cache");
  if (wanted == "json") {
    res.set_content(WorldTableJson(best), "application/json");
  } else {
    res.set_header("Content-Security-Policy", kPageSecurity);
    res.set_content(WorldTableHtml(best), kHtml);
  }
}
