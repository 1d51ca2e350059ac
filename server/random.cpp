#include "server/random.h"

#include <sys/random.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <vector>

namespace {

void FillFromSystem(uint8_t* bytes, size_t count) {
  size_t got = 0;
  while (got < count) {
    ssize_t n = getrandom(bytes + got, count - got, 0);
    if (n < 0) {
      if (errno == EINTR) continue;
      throw std::runtime_error("the system's random generator failed");
    }
    got += static_cast<size_t>(n);
  }
}

// The system's bytes fetched a few hundred at a time, each thread its own, each byte handed out once
// and wiped: a request takes an id or two, and a system call for each costs more than the rest of
// making them. (A forked verifier makes no more than system calls before its exec.)
struct TPool {
  static constexpr size_t kSize = 512;
  uint8_t Bytes[kSize];
  size_t Used = kSize;
};
thread_local TPool Pool;

}  // namespace

void RandomBytes(uint8_t* bytes, size_t count) {
  if (count > TPool::kSize / 4) return FillFromSystem(bytes, count);
  if (TPool::kSize - Pool.Used < count) {
    FillFromSystem(Pool.Bytes, TPool::kSize);
    Pool.Used = 0;
  }
  std::memcpy(bytes, Pool.Bytes + Pool.Used, count);
  std::memset(Pool.Bytes + Pool.Used, 0, count);
  Pool.Used += count;
}

std::string HexOf(const uint8_t* bytes, size_t count) {
  static const char kDigits[] = "0123456789abcdef";
  std::string text;
  text.reserve(2 * count);
  for (size_t i = 0; i < count; ++i) {
    text.push_back(kDigits[bytes[i] >> 4]);
    text.push_back(kDigits[bytes[i] & 15]);
  }
  return text;
}

std::string RandomHex(size_t byteCount) {
  uint8_t small[64];
  std::vector<uint8_t> large;
  uint8_t* bytes = small;
  if (byteCount > sizeof small) {
    large.resize(byteCount);
    bytes = large.data();
  }
  RandomBytes(bytes, byteCount);
  return HexOf(bytes, byteCount);
}
