// The fonts the build ships with the game (data/fonts in the build's copy of the game), for tests that
// draw text in a folder of their own.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "tests/support/headless.h"

// Links the shipped data/fonts into a data folder.
inline void LinkShippedFonts(const std::string& dataFolder) {
  namespace fs = std::filesystem;
  fs::path from = fs::path(PELLORIN_RUN_DIR) / "data" / "fonts";
  ASSERT_TRUE(fs::exists(from / "DejaVuSans.ttf")) << from << " is missing: build the data files first";
  fs::create_directories(fs::path(dataFolder) / "data");
  fs::create_directory_symlink(from, fs::path(dataFolder) / "data" / "fonts");
}

// A test's own folders with the shipped fonts in them.
class TShippedFontsTest : public THeadlessTest {
 protected:
  void SetUp() override {
    THeadlessTest::SetUp();
    LinkShippedFonts(Dir);
  }
};
