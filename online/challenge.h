// The challenge a world server hands out for a game whose result it is to verify: fetched ahead of time,
// on a thread of its own, so that starting a game never waits for the server. The game thread asks for
// one when the menu shows (Fetch) and takes it when a game starts (Take); a server that hands out none,
// or does not answer, leaves the game to play from its own seed as before.
#pragma once

#include <chrono>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "protocol/replies.h"

namespace plat {
class THttpClient;
}

class TChallengeFetcher {
 public:
  TChallengeFetcher();
  // Ends a request under way at once and waits for its thread.
  ~TChallengeFetcher();
  TChallengeFetcher(const TChallengeFetcher&) = delete;
  TChallengeFetcher& operator=(const TChallengeFetcher&) = delete;

  // Asks the server at origin for a challenge unless one from it is held and still good to play with,
  // or a request is under way. Returns at once.
  void Fetch(const std::string& origin);
  // The challenge held from origin, handed over once; nothing when none has arrived, a request is still
  // under way, or the one held is too old to be good at the end of a game started now (past half its
  // lifetime).
  std::optional<TChallenge> Take(const std::string& origin);
  // Whether a request is under way.
  bool Fetching();

  // A request with no whole answer after this long fails.
  uint32_t TimeoutMs = 30000;

 private:
  using TClock = std::chrono::steady_clock;
  // Whether the held challenge is from origin and still has half its lifetime left. Lock held.
  bool HeldGood(const std::string& origin) const;
  void Request(std::string origin);

  std::unique_ptr<plat::THttpClient> Client;
  std::thread Worker;
  std::mutex Lock;
  bool Running = false;
  std::optional<TChallenge> Held;
  std::string HeldOrigin;
  TClock::time_point HeldSince;
};
