#include "server/tokens.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>
#include <stdexcept>

#include "server/random.h"

namespace {

constexpr auto kWindow = std::chrono::minutes(1);
// Entries that have run out are dropped a few at a time by the calls that come, so that no one call
// pays for a crowd that ran out together; a full book or table drops what has run out first.
constexpr int kSweepStep = 64;

// 32 lower-case hex digits as 16 bytes.
std::optional<TTokenBook::TKey> KeyOf(const std::string& text) {
  if (text.size() != 32) return std::nullopt;
  TTokenBook::TKey key{};
  for (size_t i = 0; i < 32; ++i) {
    const char c = text[i];
    int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
    if (digit < 0) return std::nullopt;
    key[i / 2] = static_cast<uint8_t>(key[i / 2] << 4 | digit);
  }
  return key;
}

TTokenBook::TKey SessionKeyOf(const std::string& session) {
  auto key = KeyOf(session);
  if (!key) throw std::invalid_argument("TTokenBook: a session id is 32 lower-case hex digits");
  return *key;
}

}  // namespace

// ------------------------------------------------------------------------------------------ TTokenBook

struct TTokenBook::TToken {
  TKey Key{};
  TKey Session{};
  TServerClock::time_point Expires;
  uint64_t Serial = 0;  // the order of issue
  TAddress* Holder = nullptr;
  TToken* Older = nullptr;  // in the whole book
  TToken* Newer = nullptr;
  TToken* HolderOlder = nullptr;  // among its holder's
  TToken* HolderNewer = nullptr;
};

struct TTokenBook::TAddress {
  const std::string* Name = nullptr;  // the key of its entry in Addresses
  size_t Count = 0;
  TToken* Oldest = nullptr;
  TToken* Newest = nullptr;
};

size_t TTokenBook::TKeyHash::operator()(const TKey& key) const {
  size_t hash;  // the server's tokens are random bytes already
  std::memcpy(&hash, key.data(), sizeof hash);
  return hash;
}

bool TTokenBook::TByHolding::operator()(const TAddress* a, const TAddress* b) const {
  if (a->Count != b->Count) return a->Count > b->Count;
  if (a->Oldest->Serial != b->Oldest->Serial) return a->Oldest->Serial < b->Oldest->Serial;
  return a < b;
}

TTokenBook::TTokenBook(TServerClock::duration lifetime, size_t capacity, size_t perAddress)
    : Lifetime(lifetime),
      Capacity(capacity > 0 ? capacity : 1),
      PerAddress(perAddress > 0 ? perAddress : 1) {}

TTokenBook::~TTokenBook() = default;

void TTokenBook::InsertLocked(const TKey& key, const TKey& session, const std::string& address,
                              TServerClock::time_point expires) {
  SweepLocked(expires - Lifetime);
  auto held = Addresses.find(address);
  if (held != Addresses.end() && held->second.Count >= PerAddress) EraseLocked(*held->second.Oldest);
  if (Tokens.size() >= Capacity) {
    // What has run out goes first; then the oldest of the address that holds most.
    EraseLocked(Oldest->Expires <= expires - Lifetime ? *Oldest : *(*Holders.begin())->Oldest);
  }

  auto [entry, added] = Addresses.try_emplace(address);
  TAddress& holder = entry->second;
  if (added) {
    holder.Name = &entry->first;
  } else {
    Holders.erase(&holder);
  }
  TToken& token = Tokens[key];
  token.Key = key;
  token.Session = session;
  token.Expires = expires;
  token.Serial = NextSerial++;
  token.Holder = &holder;
  token.Older = Newest;
  (Newest ? Newest->Newer : Oldest) = &token;
  Newest = &token;
  token.HolderOlder = holder.Newest;
  (holder.Newest ? holder.Newest->HolderNewer : holder.Oldest) = &token;
  holder.Newest = &token;
  ++holder.Count;
  Holders.insert(&holder);
}

void TTokenBook::EraseLocked(TToken& token) {
  TAddress& holder = *token.Holder;
  Holders.erase(&holder);
  (token.Older ? token.Older->Newer : Oldest) = token.Newer;
  (token.Newer ? token.Newer->Older : Newest) = token.Older;
  (token.HolderOlder ? token.HolderOlder->HolderNewer : holder.Oldest) = token.HolderNewer;
  (token.HolderNewer ? token.HolderNewer->HolderOlder : holder.Newest) = token.HolderOlder;
  if (--holder.Count == 0) {
    const std::string name = *holder.Name;
    Addresses.erase(name);
  } else {
    Holders.insert(&holder);
  }
  const TKey key = token.Key;
  Tokens.erase(key);
}

void TTokenBook::SweepLocked(TServerClock::time_point now) {
  for (int i = 0; i < kSweepStep && Oldest != nullptr && Oldest->Expires <= now; ++i) EraseLocked(*Oldest);
}

std::string TTokenBook::Issue(const std::string& session, const std::string& address,
                              TServerClock::time_point now) {
  const TKey sessionKey = SessionKeyOf(session);
  TKey key;
  RandomBytes(key.data(), key.size());
  std::lock_guard<std::mutex> hold(Lock);
  while (Tokens.count(key) > 0) RandomBytes(key.data(), key.size());
  InsertLocked(key, sessionKey, address, now + Lifetime);
  return HexOf(key.data(), key.size());
}

TTokenBook::TTake TTokenBook::Take(const std::string& token, const std::string& session,
                                   TServerClock::time_point now) {
  const auto key = KeyOf(token);
  if (!key) return TTake::tkUnknown;
  const auto sessionKey = KeyOf(session);
  std::lock_guard<std::mutex> hold(Lock);
  auto it = Tokens.find(*key);
  if (it == Tokens.end()) return TTake::tkUnknown;
  if (it->second.Expires <= now) {
    EraseLocked(it->second);
    return TTake::tkExpired;
  }
  if (!sessionKey || it->second.Session != *sessionKey) return TTake::tkOtherSession;
  EraseLocked(it->second);
  return TTake::tkTaken;
}

void TTokenBook::Return(const std::string& token, const std::string& session, const std::string& address,
                        TServerClock::time_point now) {
  const auto key = KeyOf(token);
  if (!key) return;
  const TKey sessionKey = SessionKeyOf(session);
  std::lock_guard<std::mutex> hold(Lock);
  if (Tokens.count(*key) == 0) InsertLocked(*key, sessionKey, address, now + Lifetime);
}

size_t TTokenBook::Size() {
  std::lock_guard<std::mutex> hold(Lock);
  return Tokens.size();
}

size_t TTokenBook::HeldBy(const std::string& address) {
  std::lock_guard<std::mutex> hold(Lock);
  auto it = Addresses.find(address);
  return it == Addresses.end() ? 0 : it->second.Count;
}

// ---------------------------------------------------------------------------------------- TRateLimiter

TRateLimiter::TRateLimiter(int perMinute, size_t maxAddresses)
    : PerMinute(perMinute > 0 ? static_cast<size_t>(perMinute) : 0),
      MaxAddresses(maxAddresses > 0 ? maxAddresses : 1) {}

void TRateLimiter::Unlink(TEntry& entry) {
  (entry.Older ? entry.Older->Newer : Oldest) = entry.Newer;
  (entry.Newer ? entry.Newer->Older : Newest) = entry.Older;
  entry.Older = entry.Newer = nullptr;
}

void TRateLimiter::PushNewest(TEntry& entry) {
  entry.Older = Newest;
  (Newest ? Newest->Newer : Oldest) = &entry;
  Newest = &entry;
}

void TRateLimiter::Forget(TEntry& entry) {
  Unlink(entry);
  const std::string address = *entry.Address;
  Recent.erase(address);
}

bool TRateLimiter::Allow(const std::string& address, TServerClock::time_point now) {
  if (PerMinute == 0) return true;
  const auto windowStart = now - kWindow;
  std::lock_guard<std::mutex> hold(Lock);
  // An address not heard from for a minute has nothing left in its window.
  for (int i = 0; i < kSweepStep && Oldest != nullptr && Oldest->Heard <= windowStart; ++i) Forget(*Oldest);

  auto it = Recent.find(address);
  if (it == Recent.end()) {
    if (Recent.size() >= MaxAddresses) Forget(*Oldest);
    it = Recent.try_emplace(address).first;
    it->second.Address = &it->first;
  } else {
    Unlink(it->second);
  }
  TEntry& entry = it->second;
  entry.Heard = now;
  PushNewest(entry);

  while (entry.Count > 0 && entry.Times[entry.Head] <= windowStart) {
    entry.Head = (entry.Head + 1) % entry.Times.size();
    --entry.Count;
  }
  if (entry.Count >= PerMinute) return false;
  if (entry.Count == entry.Times.size()) {
    // The ring grows by doubling, up to the limit.
    std::vector<TServerClock::time_point> larger(
        std::min(std::max<size_t>(2 * entry.Times.size(), 4), PerMinute));
    for (size_t i = 0; i < entry.Count; ++i) larger[i] = entry.Times[(entry.Head + i) % entry.Times.size()];
    entry.Times.swap(larger);
    entry.Head = 0;
  }
  entry.Times[(entry.Head + entry.Count) % entry.Times.size()] = now;
  ++entry.Count;
  return true;
}

size_t TRateLimiter::Size() {
  std::lock_guard<std::mutex> hold(Lock);
  return Recent.size();
}
