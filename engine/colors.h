// Colour values: signed 32-bit, red in bits 0-7, green 8-15, blue 16-23. A value 0xFF0000nn names the
// desktop's system colour nn; this system has no such palette, so they take the fixed colours of the
// classic desktop theme.
#pragma once

#include <cstdint>

// The RGB colour value of a colour; system colours resolved, other values returned as they are.
int32_t ResolveColor(int32_t color);
