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

bool PadButtonEvent(TPadButton button, bool down, TEvent& event) {
  if (button != TPadButton::Start) return false;
  event = TEvent{};
  event.Kind = down ? TEventKind::KeyDown : TEventKind::KeyUp;
  event.Key = 'P';
  return true;
}

}  // namespace plat
