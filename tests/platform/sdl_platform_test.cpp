// The SDL platform's opening of documents, on SDL's off-screen video driver.
#include "platform/sdl_platform.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

namespace {

class SdlOpenDocument : public ::testing::Test {
 protected:
  void SetUp() override {
    char folder[] = "/tmp/pellorin-opener-XXXXXX";
    ASSERT_NE(::mkdtemp(folder), nullptr);
    Folder = folder;
    const char* path = std::getenv("PATH");
    SavedPath = path ? path : "";
    ::setenv("SDL_VIDEODRIVER", "offscreen", 1);
    std::string error;
    Platform = plat::CreateSdlPlatform(error);
    ::unsetenv("SDL_VIDEODRIVER");
    ASSERT_TRUE(Platform) << error;
  }
  void TearDown() override {
    Platform.reset();
    ::setenv("PATH", SavedPath.c_str(), 1);
    std::filesystem::remove_all(Folder);
  }
  std::string Folder, SavedPath;
  std::unique_ptr<plat::TPlatform> Platform;
};

TEST_F(SdlOpenDocument, FailsWithoutTheDesktopsOpenerAndHandsTheAddressToIt) {
  // No xdg-open anywhere on PATH: nothing can open the page, and the program is told so.
  ::setenv("PATH", Folder.c_str(), 1);
  EXPECT_FALSE(Platform->OpenDocument("http://127.0.0.1:9/"));

  // An opener that notes what it was given.
  const std::string opener = Folder + "/xdg-open";
  std::ofstream(opener) << "#!/bin/sh\necho \"$1\" > " << Folder << "/opened\n";
  ASSERT_EQ(::chmod(opener.c_str(), 0755), 0);
  ::setenv("PATH", (Folder + ":/usr/bin:/bin").c_str(), 1);
  EXPECT_TRUE(Platform->OpenDocument("http://127.0.0.1:9/page"));
  std::string opened;
  for (int i = 0; i < 200 && opened.empty(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::ifstream in(Folder + "/opened");
    std::getline(in, opened);
  }
  EXPECT_EQ(opened, "http://127.0.0.1:9/page");
}

}  // namespace
