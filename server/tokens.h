// What the server remembers between requests, in memory only: the tokens handed out by handshakes, and
// how many requests each client address sent in the last minute. Both are bounded, and both forget
// on their own what has run out. Each is safe to call from every request thread.
#pragma once

#include <chrono>
#include <cstddef>
#include <deque>
#include <mutex>
#include <string>
#include <unordered_map>

using TServerClock = std::chrono::steady_clock;

// Random bytes from the system's generator, as 2 x byteCount lower-case hex digits.
std::string RandomHex(size_t byteCount);

class TTokenBook {
 public:
  enum class TTake { tkTaken, tkUnknown, tkOtherSession, tkExpired };

  TTokenBook(TServerClock::duration lifetime, size_t capacity);

  // A fresh token good for one result from session until now + lifetime; empty while the book holds
  // capacity tokens that are still good.
  std::string Issue(const std::string& session, TServerClock::time_point now);
  // Takes token out of the book if it is good for session at now. A token shown from another session
  // stays in the book for its own; an expired one is dropped.
  TTake Take(const std::string& token, const std::string& session, TServerClock::time_point now);
  // Puts back a token taken by a result that could then not be stored.
  void Return(const std::string& token, const std::string& session, TServerClock::time_point now);
  size_t Size();

 private:
  struct TToken {
    std::string Session;
    TServerClock::time_point Expires;
  };
  void SweepLocked(TServerClock::time_point now, bool force);

  const TServerClock::duration Lifetime;
  const size_t Capacity;
  std::mutex Lock;
  std::unordered_map<std::string, TToken> Tokens;
  TServerClock::time_point NextSweep{};
};

// A sliding window of one minute per client address.
class TRateLimiter {
 public:
  explicit TRateLimiter(int perMinute);  // 0: no limit

  // Counts one request from address at now; false (and not counted) when it already sent perMinute in
  // the minute before now.
  bool Allow(const std::string& address, TServerClock::time_point now);

 private:
  const size_t PerMinute;
  std::mutex Lock;
  std::unordered_map<std::string, std::deque<TServerClock::time_point>> Recent;  // oldest first
  TServerClock::time_point NextSweep{};
};
