// The window's size and place, kept between runs in window.txt beside config.dat (which keeps its own
// fixed layout). The main window reads it before it opens and writes it when it closes. One line
// "WIDTHxHEIGHT+X+Y" (the client area in the desktop's points; X and Y are signed), then a line
// "maximized" when the window was maximised. A file in any other form is ignored.
#pragma once

#include <string>

#include "platform/platform.h"

constexpr const char* kWindowPlacementFile = "window.txt";

// False, leaving placement as it was, when the text is not in the form above or its size is not positive.
bool ParseWindowPlacement(const std::string& text, plat::TWindowPlacement& placement);
std::string WindowPlacementText(const plat::TWindowPlacement& placement);

// Reads the file; false when it is missing or damaged.
bool LoadWindowPlacement(plat::TWindowPlacement& placement);
// Replaces the file in one step (its folder made when missing); false with error set when it cannot.
bool SaveWindowPlacement(const plat::TWindowPlacement& placement, std::string& error);
