// The game in a web page: the browser platform installed, the main window made, and its message loop
// handed to the page's animation frames. The page (index.html) has put the game's data under
// /pellorin and the player's kept files under /home/pellorin before this runs.
#include <memory>

#include "app/main_form.h"
#include "platform/browser_platform.h"
#include "platform/files.h"

int main() {
  plat::SetGameFolders({"/pellorin", "/home/pellorin"});
  // The page holds the game until it is closed: neither is ever freed.
  plat::TPlatform* platform = plat::CreateBrowserPlatform().release();
  plat::SetPlatform(platform);
  auto* form = new TmainForm;
  plat::RunFrameLoop([form] {
    form->ProcessMessages();
    return !form->Closed();
  });
  return 0;
}
