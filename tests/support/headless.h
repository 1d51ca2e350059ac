// Test support: every test that touches the platform runs on a fresh headless twin, with the
// application's timers reset and the random generator seeded, in an empty directory of its own. That
// directory is both of the program's folders: the data folder (where InstallGameData links data/ and
// sound/) and the user's folder (config.dat, server.url, play.url, replays/). The program finds its own
// files in those two folders, never in the working directory, which only a file named on its command
// line is taken from; the working directory is the test's directory as well, so that relative paths a
// test names land there. Tests of the game's modules use TGameTest (game_test.h), which also resets
// their state.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "platform/headless_platform.h"

class THeadlessTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Links the game's data/ and sound/ folders, as the build made them, into the test's directory.
  void InstallGameData();

  // Writes a file (relative to the test's directory), making its folders.
  void WriteFile(const std::string& path, const std::string& bytes);
  std::string ReadFile(const std::string& path);

  plat::THeadlessPlatform Headless;
  std::string Dir;  // the test's directory: both game folders, and the working directory

 private:
  std::string OldDir;
};

// Runs body on a thread of its own that has lost the rights by which root writes files it may not
// (CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH), so permission checks run for root, as in CI, as for a user.
// Rights belong to a thread: the raw system call changes only the new one's, and they end with it.
void WithoutOverridingRights(const std::function<void()>& body);
