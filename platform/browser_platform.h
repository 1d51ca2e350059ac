// The browser platform: the game in a web page. The picture goes to the page's canvas (scaled by the
// page with its shape kept and sharp pixels), the page's key, pointer, focus and visibility events come
// in as the desktop's do, message boxes are dialogs in the page and documents open in a new tab. The page
// side lives in browser_platform.js.
//
// The browser owns the event loop: the program hands RunFrameLoop one step of its message loop, and
// the page calls it once per animation frame. A step runs until the program asks to wait (WaitEvent);
// while a message box is open the steps pause, which keeps the box modal.
#pragma once

#include <functional>
#include <memory>

#include "platform/platform.h"

namespace plat {

std::unique_ptr<TPlatform> CreateBrowserPlatform();

// Calls step once per animation frame, again and again within the frame while it returns true and the
// program has not asked to wait; the loop ends for good when step returns false. Returns at once: the
// page drives the loop from then on.
void RunFrameLoop(std::function<bool()> step);

// Whether the page keeps files between visits (its storage is usable); false in a private window that
// refuses storage. Files written then last until the page is closed.
bool PersistentStorage();

}  // namespace plat
