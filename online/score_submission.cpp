#include "online/score_submission.h"

#include <utility>
#include <vector>

#include "protocol/replies.h"
#include "protocol/score_record.h"
#include "platform/http_client.h"

namespace {

// A reply counts only when it arrived whole with a success status; anything else reads as no text.
std::string ReplyText(const plat::THttpReply& reply) {
  return reply.Completed && reply.Status >= 200 && reply.Status < 300 ? reply.Body : std::string();
}

bool BeginsWithOk(const std::string& text) { return text.compare(0, 2, "OK") == 0; }

}  // namespace

std::string HostHeader(const std::string& origin) {
  const size_t scheme = origin.find("://");
  std::string host = scheme == std::string::npos ? origin : origin.substr(scheme + 3);
  host = host.substr(0, host.find('/'));
  const size_t colon = host.rfind(':');
  if (colon != std::string::npos && host.substr(colon + 1) == "80") host.resize(colon);
  return host;
}

TScoreSubmitter::TScoreSubmitter() : Client(std::make_unique<plat::THttpClient>()) {}

TScoreSubmitter::~TScoreSubmitter() {
  Client->Abort = true;
  if (Worker.joinable()) Worker.join();
}

void TScoreSubmitter::Start(const std::string& origin, const std::string& name, const std::string& country,
                            uint16_t score, std::string replay) {
  if (Outcome.load() == ssRunning) return;
  if (Worker.joinable()) Worker.join();
  Outcome = ssRunning;
  Worker = std::thread(&TScoreSubmitter::Exchange, this, origin, name, country, score, std::move(replay));
}

TScoreSubmitter::TState TScoreSubmitter::Poll() {
  const auto state = static_cast<TState>(Outcome.load());
  if (state == ssRunning || state == ssIdle) return state;
  Worker.join();
  Outcome = ssIdle;
  return state;
}

void TScoreSubmitter::Exchange(std::string origin, std::string name, std::string country, uint16_t score,
                               std::string replay) {
  const std::vector<std::pair<std::string, std::string>> headers = {
      {"Content-Type", "text/html"},
      {"Host", HostHeader(origin)},
      {"Accept", "text/html, */*"},
      {"User-Agent", "Mozilla/3.0 (compatible; Indy Library)"},
  };
  const std::string script(kScriptPath);
  const std::string handshake =
      ReplyText(Client->Get(origin, script + "?" + std::string(kHandshakeQuery), headers, TimeoutMs));
  if (!BeginsWithOk(handshake)) {
    Outcome = ssFailed;
    return;
  }
  const std::string query =
      BuildResultQuery(name, country, score, PELLORIN_SCORE_KEY, ServerTokenFromReply(handshake));
  const std::string result = ReplyText(Client->Get(origin, script + "?" + query, headers, TimeoutMs));
  if (!BeginsWithOk(result)) {
    Outcome = ssFailed;
    return;
  }
  // The result is in; the replay only adds proof of it, so the upload's own failure is not the
  // submission's.
  const std::string ticket = ReplayTicketFromReply(result);
  if (!ticket.empty() && !replay.empty()) {
    const std::vector<std::pair<std::string, std::string>> uploadHeaders = {
        {"Content-Type", "application/octet-stream"},
        {"Host", HostHeader(origin)},
        {"Accept", "text/html, */*"},
        {"User-Agent", "Mozilla/3.0 (compatible; Indy Library)"},
    };
    Client->Post(origin, std::string(kReplayPath) + "?ticket=" + ticket, uploadHeaders, replay, TimeoutMs);
  }
  Outcome = ssSucceeded;
}
