#include "server/random.h"

#include <sys/random.h>

#include <cerrno>
#include <stdexcept>
#include <vector>

void RandomBytes(uint8_t* bytes, size_t count) {
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

std::string HexOf(const uint8_t* bytes, size_t count) {
  static const char kDigits[] = "0123456789abcdef";
  std::string text;
  for (size_t i = 0; i < count; ++i) {
    text.push_back(kDigits[bytes[i] >> 4]);
    text.push_back(kDigits[bytes[i] & 15]);
  }
  return text;
}

std::string RandomHex(size_t byteCount) {
  std::vector<uint8_t> bytes(byteCount);
  RandomBytes(bytes.data(), byteCount);
  return HexOf(bytes.data(), byteCount);
}
