#include "server/table_cache.h"

bool TTableCache::Find(size_t page, uint64_t changes, TClock::time_point now, std::string& body) {
  if (Lifetime <= TClock::duration::zero()) return false;
  std::lock_guard<std::mutex> hold(Lock);
  const TPage& kept = Pages[page];
  if (!kept.Made || kept.Changes != changes || now - kept.At >= Lifetime) return false;
  body = kept.Body;
  return true;
}

void TTableCache::Keep(size_t page, const std::string& body, uint64_t changes, TClock::time_point now) {
  if (Lifetime <= TClock::duration::zero()) return;
  std::lock_guard<std::mutex> hold(Lock);
  TPage& kept = Pages[page];
  kept.Body = body;
  kept.At = now;
  kept.Changes = changes;
  kept.Made = true;
}

bool TTableCache::FindAny(size_t page, std::string& body) {
  std::lock_guard<std::mutex> hold(Lock);
  if (!Pages[page].Made) return false;
  body = Pages[page].Body;
  return true;
}
