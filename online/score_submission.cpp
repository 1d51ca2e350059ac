#include "online/score_submission.h"

#include <chrono>
#include <utility>
#include <vector>

#include "platform/http_client.h"
#include "protocol/replies.h"
#include "protocol/score_record.h"

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

THttpHeaders GameRequestHeaders(const std::string& origin) {
  return {
      {"Content-Type", "text/html"},
      {"Host", HostHeader(origin)},
      {"Accept", "text/html, */*"},
      {"User-Agent", "Mozilla/3.0 (compatible; Indy Library)"},
  };
}

TReplayUploader::TReplayUploader() : Client(std::make_unique<plat::THttpClient>()) {}

TReplayUploader::~TReplayUploader() {
  {
    std::lock_guard<std::mutex> guard(Lock);
    Stopping = true;
    Jobs.clear();
  }
  Client->Abort = true;
  Changed.notify_all();
  if (Worker.joinable()) Worker.join();
}

void TReplayUploader::Upload(const std::string& origin, const std::string& ticket, std::string replay,
                             const std::string& cookie) {
  std::lock_guard<std::mutex> guard(Lock);
  if (Stopping) return;
  Jobs.push_back({origin, ticket, std::move(replay), cookie});
  if (!Worker.joinable()) Worker = std::thread(&TReplayUploader::Run, this);
  Changed.notify_all();
}

bool TReplayUploader::WaitIdle(uint32_t timeoutMs) {
  std::unique_lock<std::mutex> guard(Lock);
  return Changed.wait_for(guard, std::chrono::milliseconds(timeoutMs),
                          [this] { return Jobs.empty() && !Busy; });
}

void TReplayUploader::Run() {
  std::unique_lock<std::mutex> guard(Lock);
  for (;;) {
    Changed.wait(guard, [this] { return Stopping || !Jobs.empty(); });
    if (Stopping) return;
    const TJob job = std::move(Jobs.front());
    Jobs.pop_front();
    Busy = true;
    guard.unlock();
    Send(job);
    guard.lock();
    Busy = false;
    Changed.notify_all();
  }
}

void TReplayUploader::Send(const TJob& job) {
  THttpHeaders headers = GameRequestHeaders(job.Origin);
  headers[0].second = "application/octet-stream";
  if (!job.Cookie.empty()) headers.emplace_back("Cookie", job.Cookie);
  const std::string path = std::string(kReplayPath) + "?ticket=" + job.Ticket;
  const auto giveUp = std::chrono::steady_clock::now() + std::chrono::milliseconds(RetryForMs);
  uint32_t pauseMs = RetryFirstMs;
  for (;;) {
    const plat::THttpReply reply = Client->Post(job.Origin, path, headers, job.Replay, TimeoutMs);
    if (reply.Completed && reply.Status != 503) return;
    const auto next = std::chrono::steady_clock::now() + std::chrono::milliseconds(pauseMs);
    if (next >= giveUp) return;
    std::unique_lock<std::mutex> guard(Lock);
    if (Changed.wait_until(guard, next, [this] { return Stopping; })) return;
    pauseMs = pauseMs >= RetryLongestMs / 2 ? RetryLongestMs : pauseMs * 2;
  }
}

TScoreSubmitter::TScoreSubmitter() : Client(std::make_unique<plat::THttpClient>()) {}

TScoreSubmitter::~TScoreSubmitter() {
  Client->Abort = true;
  if (Worker.joinable()) Worker.join();
}

void TScoreSubmitter::Start(const std::string& origin, const std::string& name, const std::string& country,
                            uint16_t score, std::string replay, std::string challenge) {
  if (Outcome.load() == ssRunning) return;
  if (Worker.joinable()) Worker.join();
  if (origin.empty()) {  // no server configured (a build without one): nothing to ask
    Outcome = ssFailed;
    return;
  }
  Outcome = ssRunning;
  Worker = std::thread(&TScoreSubmitter::Exchange, this, origin, name, country, score, std::move(replay),
                       std::move(challenge));
}

TScoreSubmitter::TState TScoreSubmitter::Poll() {
  const auto state = static_cast<TState>(Outcome.load());
  if (state == ssRunning || state == ssIdle) return state;
  if (Worker.joinable()) Worker.join();
  Outcome = ssIdle;
  return state;
}

void TScoreSubmitter::Exchange(std::string origin, std::string name, std::string country, uint16_t score,
                               std::string replay, std::string challenge) {
  const THttpHeaders headers = GameRequestHeaders(origin);
  const std::string script(kScriptPath);
  const std::string handshake =
      ReplyText(Client->Get(origin, script + "?" + std::string(kHandshakeQuery), headers, TimeoutMs));
  if (!BeginsWithOk(handshake)) {
    Outcome = ssFailed;
    return;
  }
  std::string query =
      BuildResultQuery(name, country, score, PELLORIN_SCORE_KEY, ServerTokenFromReply(handshake));
  if (!challenge.empty()) query += std::string(kChallengeParameter) + challenge;
  const std::string result = ReplyText(Client->Get(origin, script + "?" + query, headers, TimeoutMs));
  if (!BeginsWithOk(result)) {
    Outcome = ssFailed;
    return;
  }
  // The result is in; the replay only adds proof of it, so the upload goes on in the background and its
  // own failure is not the submission's. It carries the cookies the result went out with, as a request
  // of this client would.
  const std::string ticket = ReplayTicketFromReply(result);
  if (!ticket.empty() && !replay.empty()) {
    Uploads.Upload(origin, ticket, std::move(replay), Client->CookieHeader());
  }
  Outcome = ssSucceeded;
}
