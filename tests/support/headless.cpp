#include "tests/support/headless.h"

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "engine/rtl.h"
#include "engine/timer.h"
#include "game/game_state.h"
#include "menu/menu_state.h"
#include "platform/files.h"
#include "settings/settings.h"

namespace fs = std::filesystem;

void THeadlessTest::SetUp() {
  OldDir = fs::current_path().string();
  fs::path base = fs::temp_directory_path() / "pellorin-tests";
  fs::create_directories(base);
  std::string pattern = (base / "t-XXXXXX").string();
  ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
  Dir = pattern;
  fs::current_path(Dir);
  plat::SetGameFolders({Dir, Dir});
  plat::SetPlatform(&Headless);
  ResetApplication();
  ResetGameState();
  ResetMenuState();
  ResetSettingsState();
  RandSeedSet(12345);
}

void THeadlessTest::TearDown() {
  plat::SetPlatform(nullptr);
  plat::SetGameFolders({});
  fs::current_path(OldDir);
  std::error_code ignored;
  fs::permissions(Dir, fs::perms::owner_all, fs::perm_options::add, ignored);
  fs::remove_all(Dir, ignored);
}

void THeadlessTest::InstallGameData() {
  for (const char* folder : {"data", "sound"}) {
    fs::path from = fs::path(PELLORIN_RUN_DIR) / folder;
    ASSERT_TRUE(fs::exists(from)) << from << " is missing: build the data files first";
    fs::create_directory_symlink(from, fs::path(Dir) / folder);
  }
}

void THeadlessTest::WriteFile(const std::string& path, const std::string& bytes) {
  fs::path full = fs::path(Dir) / path;
  fs::create_directories(full.parent_path());
  std::ofstream out(full, std::ios::binary);
  out << bytes;
}

std::string THeadlessTest::ReadFile(const std::string& path) {
  std::ifstream in(fs::path(Dir) / path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}
