// The world table's pages as last served, kept for a few seconds and while the store has not changed,
// so that a crowd reading the table costs the store one read. Safe to call from every request thread.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>

class TTableCache {
 public:
  using TClock = std::chrono::steady_clock;
  static constexpr size_t kPages = 4;  // HTML, HTML verified only, JSON, JSON verified only

  // seconds: how long a page is kept; 0 keeps none.
  explicit TTableCache(int seconds) : Lifetime(std::chrono::seconds(seconds)) {}

  // The page kept for page (below kPages) when it was read at the store's changes and is still fresh
  // at now.
  bool Find(size_t page, uint64_t changes, TClock::time_point now, std::string& body);
  // The page last kept for page, however old; false when none was.
  bool FindAny(size_t page, std::string& body);
  // Keeps body as page, read at changes (the store's Changes() from before the read) at now.
  void Keep(size_t page, const std::string& body, uint64_t changes, TClock::time_point now);

 private:
  struct TPage {
    std::string Body;
    TClock::time_point At;
    uint64_t Changes = 0;
    bool Made = false;
  };
  const TClock::duration Lifetime;
  std::mutex Lock;
  TPage Pages[kPages];
};
