#include "server/tokens.h"

#include <sys/random.h>

#include <cerrno>
#include <stdexcept>
#include <vector>

namespace {

constexpr auto kSweepInterval = std::chrono::seconds(1);
constexpr auto kWindow = std::chrono::minutes(1);

}  // namespace

std::string RandomHex(size_t byteCount) {
  std::vector<unsigned char> bytes(byteCount);
  size_t got = 0;
  while (got < byteCount) {
    ssize_t n = getrandom(bytes.data() + got, byteCount - got, 0);
    if (n < 0) {
      if (errno == EINTR) continue;
      throw std::runtime_error("the system's random generator failed");
    }
    got += static_cast<size_t>(n);
  }
  static const char kDigits[] = "0123456789abcdef";
  std::string text;
  for (unsigned char b : bytes) {
    text.push_back(kDigits[b >> 4]);
    text.push_back(kDigits[b & 15]);
  }
  return text;
}

// ------------------------------------------------------------------------------------------ TTokenBook

TTokenBook::TTokenBook(TServerClock::duration lifetime, size_t capacity)
    : Lifetime(lifetime), Capacity(capacity) {}

void TTokenBook::SweepLocked(TServerClock::time_point now, bool force) {
  if (!force && now < NextSweep) return;
  std::erase_if(Tokens, [now](const auto& item) { return item.second.Expires <= now; });
  NextSweep = now + kSweepInterval;
}

std::string TTokenBook::Issue(const std::string& session, TServerClock::time_point now) {
  std::string token = RandomHex(16);
  std::lock_guard<std::mutex> hold(Lock);
  SweepLocked(now, false);
  if (Tokens.size() >= Capacity) {
    SweepLocked(now, true);
    if (Tokens.size() >= Capacity) return {};
  }
  Tokens[token] = TToken{session, now + Lifetime};
  return token;
}

TTokenBook::TTake TTokenBook::Take(const std::string& token, const std::string& session,
                                   TServerClock::time_point now) {
  std::lock_guard<std::mutex> hold(Lock);
  auto it = Tokens.find(token);
  if (it == Tokens.end()) return TTake::tkUnknown;
  if (it->second.Expires <= now) {
    Tokens.erase(it);
    return TTake::tkExpired;
  }
  if (it->second.Session != session) return TTake::tkOtherSession;
  Tokens.erase(it);
  return TTake::tkTaken;
}

void TTokenBook::Return(const std::string& token, const std::string& session, TServerClock::time_point now) {
  std::lock_guard<std::mutex> hold(Lock);
  Tokens.emplace(token, TToken{session, now + Lifetime});
}

size_t TTokenBook::Size() {
  std::lock_guard<std::mutex> hold(Lock);
  return Tokens.size();
}

// ---------------------------------------------------------------------------------------- TRateLimiter

TRateLimiter::TRateLimiter(int perMinute) : PerMinute(perMinute > 0 ? static_cast<size_t>(perMinute) : 0) {}

bool TRateLimiter::Allow(const std::string& address, TServerClock::time_point now) {
  if (PerMinute == 0) return true;
  std::lock_guard<std::mutex> hold(Lock);
  if (now >= NextSweep) {
    std::erase_if(Recent, [now](const auto& item) { return item.second.back() <= now - kWindow; });
    NextSweep = now + kWindow;
  }
  auto& times = Recent[address];
  while (!times.empty() && times.front() <= now - kWindow) times.pop_front();
  if (times.size() >= PerMinute) return false;
  times.push_back(now);
  return true;
}
