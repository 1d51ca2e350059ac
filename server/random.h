// Tokens, session ids and tickets: random bytes from the system's generator.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Fills bytes with count random bytes; throws std::runtime_error when the generator fails.
void RandomBytes(uint8_t* bytes, size_t count);
// Lower-case hex digits, two per byte.
std::string HexOf(const uint8_t* bytes, size_t count);
// Random bytes as 2 x byteCount lower-case hex digits.
std::string RandomHex(size_t byteCount);
