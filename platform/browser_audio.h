// The browser's sound output: Web Audio, fed from the main thread. The program's mixer is pulled once
// per animation frame (PumpBrowserAudio, called by the frame loop) for what keeps the page's audio
// worklet about 100 ms ahead; the worklet only plays what it is given. The page side lives in
// browser_audio.js and web/site/audio-worklet.js.
#pragma once

#include <memory>

#include "platform/audio.h"

namespace plat {

// Opens the page's output at the AudioContext's rate, stereo. Never fails: in a browser without Web
// Audio the output is silent (Running false) and Problem says why. Sound starts at the page's first key,
// pointer or touch; until then the source is pulled on the page's clock and what it renders is dropped.
std::unique_ptr<TAudioOutput> OpenBrowserAudio();

// Renders what the output last opened needs now from its source and hands it to the page. Called once
// per animation frame; does nothing without an output.
void PumpBrowserAudio();

}  // namespace plat
