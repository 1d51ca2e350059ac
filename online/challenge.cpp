#include "online/challenge.h"

#include <utility>
#include <vector>

#include "online/score_submission.h"
#include "platform/http_client.h"
#include "protocol/score_record.h"

TChallengeFetcher::TChallengeFetcher() : Client(std::make_unique<plat::THttpClient>()) {}

TChallengeFetcher::~TChallengeFetcher() {
  Client->Abort = true;
  if (Worker.joinable()) Worker.join();
}

bool TChallengeFetcher::HeldGood(const std::string& origin) const {
  return Held && HeldOrigin == origin && TClock::now() - HeldSince < std::chrono::seconds(Held->Lifetime) / 2;
}

void TChallengeFetcher::Fetch(const std::string& origin) {
  if (origin.empty()) return;
  std::lock_guard<std::mutex> guard(Lock);
  if (Running || HeldGood(origin)) return;
  if (Worker.joinable()) Worker.join();  // it has finished: Running is false
  Running = true;
  Worker = std::thread(&TChallengeFetcher::Request, this, origin);
}

bool TChallengeFetcher::Fetching() {
  std::lock_guard<std::mutex> guard(Lock);
  return Running;
}

std::optional<TChallenge> TChallengeFetcher::Take(const std::string& origin) {
  std::lock_guard<std::mutex> guard(Lock);
  std::optional<TChallenge> taken;
  if (HeldGood(origin)) taken = std::move(Held);
  Held.reset();
  return taken;
}

void TChallengeFetcher::Request(std::string origin) {
  const plat::THttpReply reply =
      Client->Get(origin, std::string(kScriptPath) + "?" + std::string(kChallengeQuery),
                  GameRequestHeaders(origin), TimeoutMs);
  std::optional<TChallenge> challenge;
  if (reply.Completed && reply.Status == 200) challenge = ChallengeFromReply(reply.Body);
  std::lock_guard<std::mutex> guard(Lock);
  if (challenge) {
    Held = std::move(challenge);
    HeldOrigin = origin;
    HeldSince = TClock::now();
  }
  Running = false;
}
