// What a server on its own remembers between requests, in memory only (the local admission): the
// tokens handed out by handshakes, and how many requests each client address sent in the last minute.
// Both are bounded in entries, both forget on their own what has run out, and no call walks all their
// entries. Each is safe to call from every request thread.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "server/admission.h"

using TServerClock = std::chrono::steady_clock;

class TTokenBook {
 public:
  using TTake = TTokenTake;

  // capacity tokens in all, perAddress from one client address (both at least 1).
  TTokenBook(TServerClock::duration lifetime, size_t capacity, size_t perAddress);
  ~TTokenBook();
  TTokenBook(const TTokenBook&) = delete;
  TTokenBook& operator=(const TTokenBook&) = delete;

  // A fresh token good for one result from session until now + lifetime. When address already holds
  // perAddress tokens its oldest goes; when the book is full, the oldest token of the address that
  // holds most goes (of those holding equally many, the one with the oldest token), so a handshake is
  // never turned away.
  std::string Issue(const std::string& session, const std::string& address, TServerClock::time_point now);
  // Takes token out of the book if it is good for session at now. A token shown from another session
  // stays in the book for its own; an expired one is dropped.
  TTake Take(const std::string& token, const std::string& session, TServerClock::time_point now);
  // Puts back a token taken by a result that could then not be stored.
  void Return(const std::string& token, const std::string& session, const std::string& address,
              TServerClock::time_point now);
  size_t Size();
  // How many tokens address holds.
  size_t HeldBy(const std::string& address);

  using TKey = std::array<uint8_t, 16>;  // a token or a session id as bytes

 private:
  struct TAddress;
  struct TToken;
  struct TKeyHash {
    size_t operator()(const TKey& key) const;
  };
  struct TByHolding {  // most tokens first, then the oldest first token
    bool operator()(const TAddress* a, const TAddress* b) const;
  };

  void InsertLocked(const TKey& key, const TKey& session, const std::string& address,
                    TServerClock::time_point expires);
  void EraseLocked(TToken& token);
  void SweepLocked(TServerClock::time_point now);

  const TServerClock::duration Lifetime;
  const size_t Capacity;
  const size_t PerAddress;
  std::mutex Lock;
  std::unordered_map<TKey, TToken, TKeyHash> Tokens;
  std::unordered_map<std::string, TAddress> Addresses;  // those holding at least one token
  std::set<TAddress*, TByHolding> Holders;              // the same, in the order of eviction
  TToken* Oldest = nullptr;  // every token, oldest first (which is also the order they expire in)
  TToken* Newest = nullptr;
  uint64_t NextSerial = 0;
};

// A sliding window of one minute per client address, for at most a given number of addresses.
class TRateLimiter {
 public:
  // perMinute 0: no limit. maxAddresses: addresses remembered at once (at least 1); past it the one
  // heard from least recently is forgotten, which only ever lets a request through that the window
  // would have refused.
  TRateLimiter(int perMinute, size_t maxAddresses);

  // Counts one request from address at now; false (and not counted) when it already sent perMinute in
  // the minute before now.
  bool Allow(const std::string& address, TServerClock::time_point now);
  size_t Size();

 private:
  struct TEntry {
    std::vector<TServerClock::time_point> Times;  // a ring of the counted requests, Head the oldest
    size_t Head = 0;
    size_t Count = 0;
    TServerClock::time_point Heard;  // the last call for this address
    TEntry* Newer = nullptr;         // the recency list
    TEntry* Older = nullptr;
    const std::string* Address = nullptr;  // the map's key
  };
  void Unlink(TEntry& entry);
  void PushNewest(TEntry& entry);
  void Forget(TEntry& entry);

  const size_t PerMinute;
  const size_t MaxAddresses;
  std::mutex Lock;
  std::unordered_map<std::string, TEntry> Recent;
  TEntry* Newest = nullptr;
  TEntry* Oldest = nullptr;
};
