#include "platform/audio.h"

#include <algorithm>

namespace plat {

THeadlessAudio::THeadlessAudio(bool present, TAudioFormat format) : Present(present), Fmt(format) {}

void THeadlessAudio::SetSource(TAudioSource* source) {
  std::lock_guard<std::mutex> hold(Lock);
  Source = source;
}

void THeadlessAudio::Pull(int16_t* out, int frames) {
  std::lock_guard<std::mutex> hold(Lock);
  if (Present && Source != nullptr) {
    Source->Render(out, frames);
  } else {
    std::fill(out, out + static_cast<size_t>(frames) * static_cast<size_t>(Fmt.Channels), int16_t{0});
  }
}

}  // namespace plat
