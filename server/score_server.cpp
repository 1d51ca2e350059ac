#include "server/score_server.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <string_view>
#include <vector>

#include "protocol/replies.h"
#include "protocol/score_record.h"
#include "server/pages.h"
#include "server/random.h"

namespace {

constexpr const char* kPlainText = "text/plain; charset=utf-8";
constexpr const char* kHtml = "text/html; charset=utf-8";
constexpr const char* kPageSecurity = "default-src 'none'; style-src 'unsafe-inline'";

void Reply(THttpResponse& res, int status, const std::string& text) {
  res.Status = status;
  res.ContentType = kPlainText;
  res.Body = text;
}

void NoStore(THttpResponse& res) { res.SetHeader("Cache-Control", "no-store"); }

// A POST's body is read only when replays are taken, and only a replay's: a POST anywhere else is
// refused (405) before its body, which so never counts in the bytes held.
THttpLimits HttpLimitsOf(const TServerOptions& options, const std::string& verifier) {
  THttpLimits limits = options.Http;
  limits.MaxBodyBytes = verifier.empty() ? 0 : static_cast<size_t>(options.MaxReplayBytes);
  limits.BodyPath = std::string(kReplayPath);
  limits.TrustProxy = options.TrustProxy;
  return limits;
}

TAdmissionLimits AdmissionLimitsOf(const TServerOptions& options) {
  TAdmissionLimits limits;
  limits.TokenLifetime = options.TokenLifetime;
  limits.MaxTokens = options.MaxTokens;
  limits.MaxTokensPerAddress = options.MaxTokensPerAddress;
  limits.MaxPerMinute = options.MaxPerMinute;
  limits.MaxTrackedAddresses = options.MaxTrackedAddresses;
  return limits;
}

bool IsTicket(std::string_view text) { return IsSessionId(text); }

TChallengeLimits ChallengeLimitsOf(const TServerOptions& options) {
  TChallengeLimits limits;
  limits.Lifetime = options.ChallengeLifetime;
  limits.MaxChallenges = options.MaxChallenges;
  limits.MaxPerAddress = options.MaxChallengesPerAddress;
  return limits;
}

}  // namespace

TDbTimeouts DbTimeoutsOf(const TServerOptions& options) {
  return {options.DbConnectTimeout, options.DbStatementTimeout};
}

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
  // Both limits count the verifier's CPU time, so that a check kept waiting on a busy machine is not
  // refused for time; the wall clock only stops a check about to outlive its lease.
  limits.CpuSeconds = std::min(options.VerifyCpuSeconds, options.VerifyTimeout);
  limits.MemoryMegabytes = options.VerifyMemoryMegabytes;
  limits.WallSeconds = options.VerifyLease - 1;
  return std::make_unique<TVerifyQueue>(store, limits, options.VerifyWorkers,
                                        static_cast<size_t>(options.VerifyQueue), options.VerifyLease,
                                        static_cast<size_t>(options.VerifyQueuePerAddress));
}

TScoreServer::TScoreServer(const TServerOptions& options, FILE* log)
    : Options(options),
      Verifier(VerifierOf(options)),
      Log(log),
      Scores(OpenScoreStore(options.DatabasePath, options.FullSync, options.ReadDatabase,
                            options.Http.Threads + options.VerifyWorkers + 2, DbTimeoutsOf(options))),
      Admission(Scores->MakeAdmission(AdmissionLimitsOf(options))),
      TablePages(options.TableCacheSeconds),
      Http(
          HttpLimitsOf(options, Verifier),
          [this](const THttpRequest& req, THttpResponse& res) { Handle(req, res); },
          [this](const THttpRequest& req, const THttpResponse& res) { LogRequest(req, res); }) {
  if (!Verifier.empty()) Checks = MakeVerifyQueue(*Scores, options, Verifier);
}

TScoreServer::~TScoreServer() {
  if (Checks) Checks->Stop();
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
    Log.Flush();
    throw EServerError(e.what());
  } catch (const EStoreError& e) {
    Log.Flush();
    throw EServerError(e.what());
  }
  if (Checks) Checks->Stop();
  Log.Flush();
}

void TScoreServer::Stop() {
  // The answers in progress get most of the HTTP layer's second to finish; no wait on the database
  // outlasts it, whatever the database does.
  Scores->StopWaiting(900);
  Http.Stop();
}

void TScoreServer::LogRequest(const THttpRequest& req, const THttpResponse& res) {
  if (!Log.Enabled()) return;
  Log.Add(RequestLogLine(UtcNowText(), ClientAddress(req, Options.TrustProxy), req, res));
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
  const bool challenge = query->count("challenge") > 0 && !result;  // a result quotes one
  if (handshake + result + show + challenge != 1)
    return Refuse(res, 400, "ask for one of version, challenge, hs or show");
  if (show) return HandleWorldTable(*query, res);
  NoStore(res);
  if (challenge) return HandleChallenge(req, res);
  if (req.Method != "GET") {
    res.SetHeader("Allow", "GET");
    return Refuse(res, 405, "only GET is served here");
  }
  if (handshake) return HandleHandshake(req, res);
  HandleResult(req, *query, res);
}

void TScoreServer::HandleHandshake(const THttpRequest& req, THttpResponse& res) {
  const std::string address = ClientAddress(req, Options.TrustProxy);
  std::string session = SessionOf(req);
  std::string token;
  try {
    if (!Admission->Allow(TRequestKind::rkHandshake, address))
      return Refuse(res, 429, "too many requests from this address; wait a minute");
    if (session.empty()) session = RandomHex(16);
    token = Admission->Handshake(session, address);
  } catch (const EStoreError&) {
    return Refuse(res, 503, "the server cannot hand out a token just now; try again");
  }
  if (SessionOf(req).empty())
    res.SetHeader("Set-Cookie",
                  std::string(kSessionCookie) + "=" + session + "; Path=/; HttpOnly; SameSite=Lax");
  Reply(res, 200, BuildHandshakeReply(Options.TokenLifetime, token));
}

// A seed for one game whose result is to be verified, kept in the store until that result takes it.
// A HEAD is answered as a GET would be, but hands out nothing: its body is never sent.
void TScoreServer::HandleChallenge(const THttpRequest& req, THttpResponse& res) {
  if (req.Method != "GET" && req.Method != "HEAD") {
    res.SetHeader("Allow", "GET, HEAD");
    return Refuse(res, 405, "only GET is served here");
  }
  if (!Checks) return Refuse(res, 404, "this server checks no replays, so it hands out no challenges");
  TChallenge challenge;
  challenge.Id = RandomHex(16);
  challenge.Lifetime = static_cast<uint32_t>(Options.ChallengeLifetime);
  RandomBytes(reinterpret_cast<uint8_t*>(&challenge.Seed), sizeof challenge.Seed);
  if (req.Method == "GET") {
    const std::string address = ClientAddress(req, Options.TrustProxy);
    try {
      if (!Admission->Allow(TRequestKind::rkChallenge, address))
        return Refuse(res, 429, "too many challenges for this address; wait a minute");
      Scores->IssueChallenge(challenge.Id, challenge.Seed, address, static_cast<int64_t>(std::time(nullptr)),
                             ChallengeLimitsOf(Options));
    } catch (const EStoreError&) {
      return Refuse(res, 503, "the server cannot hand out a challenge just now; try again");
    }
  }
  Reply(res, 200, BuildChallengeReply(challenge));
}

void TScoreServer::HandleResult(const THttpRequest& req, const TQuery& query, THttpResponse& res) {
  const std::string address = ClientAddress(req, Options.TrustProxy);
  try {
    if (!Admission->Allow(TRequestKind::rkResult, address))
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

  // With replays taken, a result that quotes a good challenge is answered with the ticket the game
  // uploads this game's replay with; a game that does not send replays reads only the "OK" before it.
  // Any other result is stored unchecked, and answered a plain "OK", so that no replay is sent.
  const int64_t submitted = static_cast<int64_t>(std::time(nullptr));
  const TStoredEntry entry{record.Name, record.Country, record.Score, submitted};
  TEntryProof proof;
  if (Checks) {
    proof.Ticket = RandomHex(16);
    proof.TicketExpires = submitted + Options.TokenLifetime;
    auto quoted = query.find("challenge");
    proof.Quoted = quoted != query.end();
    if (proof.Quoted) proof.Challenge = quoted->second.value_or("");
    proof.ChallengeLifetime = Options.ChallengeLifetime;
  }
  TTokenTake taken;
  try {
    taken = Admission->TakeAndStore(record.Token, session, address, entry, proof);
  } catch (const EStoreError&) {
    return Refuse(res, 503, "the result could not be stored; try again");
  }
  switch (taken) {
    case TTokenTake::tkTaken:
      break;
    case TTokenTake::tkUnknown:
      return Refuse(res, 403, "unknown or already used token");
    case TTokenTake::tkOtherSession:
      return Refuse(res, 403, "the token belongs to another session");
    case TTokenTake::tkExpired:
      return Refuse(res, 403, "the token has expired");
  }
  Reply(res, 200, BuildResultReply(proof.Taken ? proof.Ticket : std::string()));
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
    if (!Scores->VerifiedReplay(std::stoll(*id->second), data))
      return Refuse(res, 404, "no verified replay for this entry");
  } catch (const EStoreError&) {
    return Refuse(res, 503, "the replay cannot be read just now; try again");
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
  std::string reason;
  const std::string address = ClientAddress(req, Options.TrustProxy);
  try {
    if (!Checks->HasRoom()) return Refuse(res, 503, "too many replays wait for their check; try later");
    if (!Checks->HasRoomFrom(address))
      return Refuse(res, 503, "too many replays from this address wait for their check; try later");
    switch (Scores->StoreReplay(*ticket->second, req.Body, static_cast<int64_t>(std::time(nullptr)), entry,
                                reason, address)) {
      case TUploadResult::urStored:
        break;
      case TUploadResult::urRefused:  // the verdict is on the table, as a check's would be
        return Reply(res, 200, "OK");
      case TUploadResult::urUnknown:
        return Refuse(res, 403, "unknown ticket");
      case TUploadResult::urTaken:
        return Refuse(res, 409, "this ticket's replay was sent already");
      case TUploadResult::urExpired:
        return Refuse(res, 403, "the ticket has expired");
    }
  } catch (const EStoreError&) {
    return Refuse(res, 503, "the replay could not be stored; try again");
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
  const size_t page = (json ? 2u : 0u) + (verifiedOnly ? 1u : 0u);
  const auto now = TTableCache::TClock::now();
  // Read before the table, so that a page read while an entry is stored counts as out of date.
  const uint64_t changes = Scores->Changes();
  if (TablePages.Find(page, changes, now, res.Body)) return;
  std::vector<TStoredEntry> best;
  try {
    best = Scores->Best(kWorldTableSize, verifiedOnly);
  } catch (const EStoreError&) {
    // The database does not answer: the page last read, however old, rather than none.
    if (TablePages.FindAny(page, res.Body)) return;
    return Refuse(res, 503, "the table cannot be read just now; try again");
  }
  res.Body = json ? WorldTableJson(best) : WorldTableHtml(best, verifiedOnly);
  TablePages.Keep(page, res.Body, changes, now);
}
