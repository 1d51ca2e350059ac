// Program entry: the SDL platform, the main window and its message loop, then play.url.
#include <cstdio>
#include <memory>
#include <string>

#include "app/main_form.h"
#include "app/replay_run.h"
#include "platform/sdl_platform.h"

int main(int argc, char** argv) {
  if (int status = 0; RunReplayOptions(argc, argv, status)) return status;
  std::string error;
  std::unique_ptr<plat::TPlatform> platform = plat::CreateSdlPlatform(error);
  if (!platform) {
    std::fprintf(stderr, "Pellorin needs a graphical display and found none (%s).\n", error.c_str());
    return 1;
  }
  plat::SetPlatform(platform.get());
  {
    TmainForm mainForm;
    mainForm.Run();
  }
  OpenPlayUrl();
  plat::SetPlatform(nullptr);
  return 0;
}
