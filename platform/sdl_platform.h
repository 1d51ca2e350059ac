// The platform for players: an SDL2 window, its events, clock, keyboard and joysticks.
#pragma once

#include <memory>
#include <string>

#include "platform/platform.h"

namespace plat {

// Starts SDL's video, events, joystick and game controller layers, and takes over SIGTERM and SIGINT:
// the first one becomes a Terminate event; while a message box is open, when the program has not ended
// within two seconds, or on a second signal, the process ends at once as the signal would end it.
// Returns null with error set when there is no display to open a window on; error then names the video
// drivers tried. Off-screen drivers are tried only when SDL_VIDEODRIVER asks for them.
std::unique_ptr<TPlatform> CreateSdlPlatform(std::string& error);

// The signal that asked the program to end; 0 when none did.
int TerminationSignal();
// After a signal asked the program to end: ends the process as that signal would have (the caller's
// parent sees it killed by the signal). Otherwise returns.
void EndLikeTheSignal();

}  // namespace plat
