#include "platform/platform.h"

#include <cassert>

namespace plat {
namespace {
TPlatform* Current = nullptr;
}

TPlatform& Platform() {
  assert(Current && "Platform: no platform installed");
  return *Current;
}

void SetPlatform(TPlatform* platform) { Current = platform; }

}  // namespace plat
