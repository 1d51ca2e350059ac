// Writes a song as an XM module (FastTracker 2 extended module, version 1.04) with its instruments'
// samples synthesised from their layers.
#pragma once

#include <cstdint>
#include <vector>

#include "tools/xm/score.h"

namespace xm {

constexpr int kSampleRate = 22050;  // rate the instrument samples are rendered at

std::vector<uint8_t> WriteModule(const score::TSong& song);

}  // namespace xm
