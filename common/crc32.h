// CRC-32 with the zip polynomial (0xEDB88320 reflected), as zip, PNG and our replay files use it.
#pragma once

#include <cstddef>
#include <cstdint>

uint32_t Crc32(const uint8_t* data, size_t size);
