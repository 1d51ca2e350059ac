// Test support for the game's modules: a headless test whose settings, music, menu, game and key state
// start fresh, as a newly started program's would.
#pragma once

#include "tests/support/headless.h"

class TGameTest : public THeadlessTest {
 protected:
  void SetUp() override;
};
