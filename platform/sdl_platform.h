// The platform for players: an SDL2 window, its events, clock, keyboard and joysticks.
#pragma once

#include <memory>
#include <string>

#include "platform/platform.h"

namespace plat {

// Starts SDL's video, events and joystick layers. Returns null with error set when there is no
// display to open a window on.
std::unique_ptr<TPlatform> CreateSdlPlatform(std::string& error);

}  // namespace plat
