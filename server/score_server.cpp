#include "server/score_server.h"

#include <unistd.h>

#include <chrono>
#include <ctime>
#include <map>
#include <optional>
#include <string_view>
#include <vector>

#include "online/score_record.h"
#include "server/pages.h"

namespace {

constexpr const char* kPlainText = "text/plain; charset=utf-8";
constexpr const char* kHtml = "text/html; charset=utf-8";
constexpr const char* kPageSecurity = "default-src 'none'; style-src 'unsafe-inline'";
constexpr const char* kProtocolVersion = "1";
constexpr size_t kLoggedTargetMax = 240;  // characters of a request's target in the log
constexpr auto kLogInterval = std::chrono::milliseconds(100);
// The log waiting to be written is woken early past the first, and drops lines past the second (its
// output blocked, say) rather than grow without bound.
constexpr size_t kLogSoonBytes = 64 * 1024;
constexpr size_t kLogMaxBytes = 4 * 1024 * 1024;

void Reply(THttpResponse& res, int status, const std::string& text) {
  res.Status = status;
  res.ContentType = kPlainText;
  res.Body = text;
}

// A refusal: an error status and a short text that cannot be taken for "OK".
void Refuse(THttpResponse& res, int status, const std::string& why) {
  Reply(res, status, "Error: " + why + "\n");
}

void NoStore(THttpResponse& res) { res.SetHeader("Cache-Control", "no-store"); }

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
std::string SessionOf(const THttpRequest& req) {
  const std::string prefix = std::string(kSessionCookie) + "=";
  for (const std::string& header : req.HeaderValues("Cookie")) {
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

// A POST's body is read only when replays are taken.
THttpLimits HttpLimitsOf(const TServerOptions& options, const std::string& verifier) {
  THttpLimits limits = options.Http;
  limits.MaxBodyBytes = verifier.empty() ? 0 : static_cast<size_t>(options.MaxReplayBytes);
  return limits;
}

bool IsTicket(std::string_view text) { return IsSessionId(text); }

}  // namespace

std::string VerifierOf(const TServerOptions& options) {
  if (options.VerifyWorkers == 0) return {};
  return options.VerifierPath.empty() ? DefaultVerifierProgram() : options.VerifierPath;
}

std::unique_ptr<TVerifyQueue> MakeVerifyQueue(TScoreStore& store, const TServerOptions& options,
                                              const std::string& verifier) {
  if (access(verifier.c_str(), X_OK) != 0)
    throw EServerError("the verifier " + verifier + " is not a program this server may run");
  TVerifierLimits limits;
  limits.Program = verifier;
  limits.CpuSeconds = options.VerifyCpuSeconds;
  limits.MemoryMegabytes = options.VerifyMemoryMegabytes;
  limits.WallSeconds = options.VerifyTimeout;
  return std::make_unique<TVerifyQueue>(store, limits, options.VerifyWorkers,
                                        static_cast<size_t>(options.VerifyQueue), options.VerifyLease);
}

TScoreServer::TScoreServer(const TServerOptions& options, FILE* log)
    : Options(options),
      Verifier(VerifierOf(options)),
      Log(log),
      Scores(options.DatabasePath, options.FullSync, options.ReadDatabase,
             options.Http.Threads + options.VerifyWorkers + 2),
      Tokens(std::chrono::seconds(options.TokenLifetime), static_cast<size_t>(options.MaxTokens),
             static_cast<size_t>(options.MaxTokensPerAddress)),
      HandshakeLimit(options.MaxPerMinute, static_cast<size_t>(options.MaxTrackedAddresses)),
      ResultLimit(options.MaxPerMinute, static_cast<size_t>(options.MaxTrackedAddresses)),
      Http(
          HttpLimitsOf(options, Verifier),
          [this](const THttpRequest& req, THttpResponse& res) { Handle(req, res); },
          [this](const THttpRequest& req, const THttpResponse& res) { LogRequest(req, res); }) {
  if (!Verifier.empty()) Checks = MakeVerifyQueue(Scores, options, Verifier);
  if (Log != nullptr) LogWriter = std::thread([this] { LogLoop(); });
}

TScoreServer::~TScoreServer() {
  if (Checks) Checks->Stop();
  if (LogWriter.joinable()) {
    {
      std::lock_guard<std::mutex> hold(LogLock);
      LogStopping = true;
      LogWake.notify_all();
    }
    LogWriter.join();
  }
  WriteLog();
}

void TScoreServer::LogLoop() {
  std::unique_lock<std::mutex> hold(LogLock);
  while (!LogStopping) {
    LogWake.wait_for(hold, kLogInterval);
    hold.unlock();
    WriteLog();
    hold.lock();
  }
}

void TScoreServer::WriteLog() {
  if (Log == nullptr) return;
  std::lock_guard<std::mutex> writing(LogWriting);
  std::string lines;
  size_t dropped;
  {
    std::lock_guard<std::mutex> hold(LogLock);
    lines.swap(LogLines);
    dropped = LogDropped;
    LogDropped = 0;
  }
  if (dropped > 0) lines += UtcNowText() + " - " + std::to_string(dropped) + " log lines dropped\n";
  if (lines.empty()) return;
  std::fwrite(lines.data(), 1, lines.size(), Log);
  std::fflush(Log);
}

int TScoreServer::Bind() {
  try {
    return Http.Bind(Options.Host, Options.Port);
  } catch (const EHttpError& e) {
    throw EServerError(e.what());
  }
}

void TScoreServer::Run() {
  try {
    if (Checks) Checks->Start();
    Http.Run();
  } catch (const EHttpError& e) {
    if (Checks) Checks->Stop();
    WriteLog();
    throw EServerError(e.what());
  } catch (const EStoreError& e) {
    WriteLog();
    throw EServerError(e.what());
  }
  if (Checks) Checks->Stop();
  WriteLog();
}

void TScoreServer::Stop() { Http.Stop(); }

std::string TScoreServer::ClientAddress(const THttpRequest& req) const {
  if (Options.TrustProxy) {
    // The proxy appends the address it saw, to the last field; anything before it came from the client.
    const std::vector<std::string> forwarded = req.HeaderValues("X-Forwarded-For");
    if (!forwarded.empty()) {
      const std::string& field = forwarded.back();
      size_t comma = field.rfind(',');
      std::string last = comma == std::string::npos ? field : field.substr(comma + 1);
      size_t begin = last.find_first_not_of(" \t");
      size_t end = last.find_last_not_of(" \t");
      if (begin != std::string::npos) return last.substr(begin, end - begin + 1);
    }
  }
  return req.RemoteAddress;
}

void TScoreServer::LogRequest(const THttpRequest& req, const THttpResponse& res) {
  if (Log == nullptr) return;
  const std::string address = ClientAddress(req);
  std::string line = UtcNowText();
  line += ' ';
  line += address.empty() ? "-" : Printable(address, 64);
  line += " \"";
  line += req.Method.empty() ? "-" : Printable(req.Method, 16);
  if (!req.Target.empty()) {
    line += ' ';
    line += Printable(req.Target, kLoggedTargetMax);
  }
  line += "\" ";
  if (res.Status == 0) {
    // Closed before it had an answer: the body says why.
    line += "- ";
    line += Printable(res.Body, 120);
  } else {
    line += std::to_string(res.Status) + " " + std::to_string(res.Body.size());
    if (res.Status >= 400) {
      line += ' ';
      line += Printable(res.Body.substr(0, res.Body.find('\n')), 120);
    }
  }
  line += "\n";
  std::lock_guard<std::mutex> hold(LogLock);
  if (LogLines.size() + line.size() > kLogMaxBytes) {
    ++LogDropped;
    return;
  }
  LogLines += line;
  if (LogLines.size() > kLogSoonBytes) LogWake.notify_all();
}

void TScoreServer::Handle(const THttpRequest& req, THttpResponse& res) {
  const std::string path = req.Target.substr(0, req.Target.find('?'));
  if (path == kReplayPath) return HandleReplay(req, res);
  if (req.Method != "GET" && req.Method != "HEAD") {
    res.SetHeader("Allow", "GET, HEAD");
    Refuse(res, 405, "only GET is served here");
    res.Close = true;  // a body may follow, which is not read
    return;
  }
  if (path == "/") {
    res.SetHeader("Content-Security-Policy", kPageSecurity);
    res.ContentType = kHtml;
    res.Body = HomePageHtml();
  } else if (path == kScriptPath) {
    HandleScript(req, res);
  } else {
    Refuse(res, 404, "no such page");
  }
}

void TScoreServer::HandleScript(const THttpRequest& req, THttpResponse& res) {
  auto query = SplitQuery(req.Target);
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
  if (req.Method != "GET") {
    res.SetHeader("Allow", "GET");
    return Refuse(res, 405, "only GET is served here");
  }
  if (handshake) return HandleHandshake(req, res);
  HandleResult(req, *query, res);
}

void TScoreServer::HandleHandshake(const THttpRequest& req, THttpResponse& res) {
  const auto now = TServerClock::now();
  const std::string address = ClientAddress(req);
  TSharedState* shared = Scores.Shared();
  std::string session = SessionOf(req);
  std::string token;
  try {
    if (!Allow(HandshakeLimit, "h", address, now))
      return Refuse(res, 429, "too many requests from this address; wait a minute");
    if (session.empty()) session = RandomHex(16);
    if (shared != nullptr) {
      token = RandomHex(16);
      shared->IssueToken(token, session, address, Options.TokenLifetime, Options.MaxTokensPerAddress,
                         Options.MaxTokens);
    } else {
      token = Tokens.Issue(session, address, now);
    }
  } catch (const EStoreError&) {
    return Refuse(res, 503, "the server cannot hand out a token just now; try again");
  }
  if (SessionOf(req).empty())
    res.SetHeader("Set-Cookie",
                  std::string(kSessionCookie) + "=" + session + "; Path=/; HttpOnly; SameSite=Lax");
  // The game takes the fifth "|"-separated field as the token.
  Reply(res, 200,
        "OK|" + std::string(kProductWord) + "|" + kProtocolVersion + "|" +
            std::to_string(Options.TokenLifetime) + "|" + token + "|");
}

void TScoreServer::HandleResult(const THttpRequest& req, const TQuery& query, THttpResponse& res) {
  const std::string address = ClientAddress(req);
  try {
    if (!Allow(ResultLimit, "r", address, TServerClock::now()))
      return Refuse(res, 429, "too many results from this address; wait a minute");
  } catch (const EStoreError&) {
    return Refuse(res, 503, "the result cannot be taken just now; try again");
  }
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

  // With replays taken, the answer carries the ticket the game uploads this game's replay with; a game
  // that does not send replays reads only the "OK" before it.
  const std::string ticket = Checks ? RandomHex(16) : std::string();
  const int64_t submitted = static_cast<int64_t>(std::time(nullptr));
  const TStoredEntry entry{record.Name, record.Country, record.Score, submitted};
  const int64_t ticketExpires = submitted + Options.TokenLifetime;
  const auto now = TServerClock::now();
  // Shared tokens are taken in the transaction that stores the entry; a token of this process's own
  // book is taken first and put back when the entry cannot be stored.
  const bool shared = Scores.Shared() != nullptr;
  TTokenBook::TTake taken;
  try {
    taken = shared ? Scores.InsertWithToken(record.Token, session, entry, ticket, ticketExpires)
                   : Tokens.Take(record.Token, session, now);
  } catch (const EStoreError&) {
    return Refuse(res, 500, "the result could not be stored; try again");
  }
  switch (taken) {
    case TTokenBook::TTake::tkTaken:
      break;
    case TTokenBook::TTake::tkUnknown:
      return Refuse(res, 403, "unknown or already used token");
    case TTokenBook::TTake::tkOtherSession:
      return Refuse(res, 403, "the token belongs to another session");
    case TTokenBook::TTake::tkExpired:
      return Refuse(res, 403, "the token has expired");
  }
  if (!shared) {
    try {
      Scores.Insert(entry, ticket, ticketExpires);
    } catch (const EStoreError&) {
      Tokens.Return(record.Token, session, address, now);
      return Refuse(res, 500, "the result could not be stored; try again");
    }
  }
  Reply(res, 200, ticket.empty() ? "OK" : "OK|" + ticket);
}

void TScoreServer::HandleReplay(const THttpRequest& req, THttpResponse& res) {
  auto query = SplitQuery(req.Target);
  if (!query) return Refuse(res, 400, "a key comes twice in the query");
  if (req.Method == "POST") {
    NoStore(res);
    return HandleUpload(req, *query, res);
  }
  if (req.Method != "GET" && req.Method != "HEAD") {
    res.SetHeader("Allow", "GET, HEAD, POST");
    res.Close = true;
    return Refuse(res, 405, "a replay is sent with POST and fetched with GET");
  }
  auto id = query->find("id");
  if (id == query->end() || !id->second || id->second->empty() || id->second->size() > 18 ||
      id->second->find_first_not_of("0123456789") != std::string::npos)
    return Refuse(res, 400, "ask for a replay with id=ENTRY");
  std::string data;
  try {
    if (!Scores.VerifiedReplay(std::stoll(*id->second), data))
      return Refuse(res, 404, "no verified replay for this entry");
  } catch (const EStoreError&) {
    return Refuse(res, 500, "the replay cannot be read just now");
  }
  res.Status = 200;
  res.ContentType = "application/octet-stream";
  res.SetHeader("Content-Disposition", "attachment; filename=\"pellorin-" + *id->second + ".replay\"");
  res.SetHeader("Cache-Control", "public, max-age=86400");  // a verified replay never changes
  res.Body = std::move(data);
}

void TScoreServer::HandleUpload(const THttpRequest& req, const TQuery& query, THttpResponse& res) {
  if (!Checks) {
    res.Close = true;
    return Refuse(res, 404, "this server takes no replays");
  }
  auto ticket = query.find("ticket");
  if (ticket == query.end() || !ticket->second || !IsTicket(*ticket->second))
    return Refuse(res, 400, "a replay is sent with ticket=TICKET of its result's answer");
  for (const std::string& type : req.HeaderValues("Content-Type"))
    if (type != "application/octet-stream")
      return Refuse(res, 415, "a replay is sent as application/octet-stream");
  if (req.Body.empty()) return Refuse(res, 400, "the replay is empty");
  int64_t entry = 0;
  try {
    if (!Checks->HasRoom()) return Refuse(res, 503, "too many replays wait for their check; try later");
    switch (Scores.StoreReplay(*ticket->second, req.Body, static_cast<int64_t>(std::time(nullptr)), entry)) {
      case TUploadResult::urStored:
        break;
      case TUploadResult::urUnknown:
        return Refuse(res, 403, "unknown ticket");
      case TUploadResult::urTaken:
        return Refuse(res, 409, "this ticket's replay was sent already");
      case TUploadResult::urExpired:
        return Refuse(res, 403, "the ticket has expired");
    }
  } catch (const EStoreError&) {
    return Refuse(res, 500, "the replay could not be stored");
  }
  Checks->Wake();
  Reply(res, 200, "OK");
}

void TScoreServer::HandleWorldTable(const TQuery& query, THttpResponse& res) {
  auto type = query.find("type");
  if (type != query.end() && type->second != "0")
    return Refuse(res, 404, "no such table; type=0 is the world table");
  auto format = query.find("format");
  std::string wanted = format == query.end() ? "html" : format->second.value_or("");
  if (wanted != "html" && wanted != "json") return Refuse(res, 400, "format is html or json");

  auto verified = query.find("verified");
  const bool verifiedOnly = verified != query.end() && verified->second == "1";
  if (verified != query.end() && !verifiedOnly && verified->second != "0")
    return Refuse(res, 400, "verified is 1 or 0");

  res.SetHeader("Cache-Control", "no-cache");
  const bool json = wanted == "json";
  if (json) {
    res.ContentType = "application/json";
  } else {
    res.SetHeader("Content-Security-Policy", kPageSecurity);
    res.ContentType = kHtml;
  }
  TTablePage& page = TablePages[(json ? 2 : 0) + (verifiedOnly ? 1 : 0)];
  const auto now = TServerClock::now();
  // Read before the table, so that a page read while an entry is stored counts as out of date.
  const uint64_t changes = Scores.Changes();
  if (Options.TableCacheSeconds > 0) {
    std::lock_guard<std::mutex> hold(TablePageLock);
    if (page.Made && page.Changes == changes &&
        now - page.At < std::chrono::seconds(Options.TableCacheSeconds)) {
      res.Body = page.Body;
      return;
    }
  }
  std::vector<TStoredEntry> best;
  try {
    best = Scores.Best(kWorldTableSize, verifiedOnly);
  } catch (const EStoreError&) {
    return Refuse(res, 500, "the table cannot be read just now");
  }
  res.Body = json ? WorldTableJson(best) : WorldTableHtml(best, verifiedOnly);
  if (Options.TableCacheSeconds > 0) {
    std::lock_guard<std::mutex> hold(TablePageLock);
    page.Body = res.Body;
    page.At = now;
    page.Changes = changes;
    page.Made = true;
  }
}

bool TScoreServer::Allow(TRateLimiter& limiter, const char* kind, const std::string& address,
                         TServerClock::time_point now) {
  if (TSharedState* shared = Scores.Shared())
    return Options.MaxPerMinute == 0 || shared->AllowRequest(kind, address, Options.MaxPerMinute);
  return limiter.Allow(address, now);
}
