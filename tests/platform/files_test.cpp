#include "platform/files.h"

#include "tests/support/headless.h"

namespace {

using Files = THeadlessTest;

TEST_F(Files, GamePathsMatchNamesWithoutCase) {
  WriteFile("sound/1.xm", "song");
  WriteFile("data/Menu.DXG", "pictures");
  EXPECT_EQ(plat::ResolvePath("Sound\\1.xm"), "sound/1.xm");
  EXPECT_EQ(plat::ResolvePath("data\\menu.dxg"), "data/Menu.DXG");
  EXPECT_EQ(plat::ResolvePath("config.dat"), "config.dat");            // missing: kept as written
  EXPECT_EQ(plat::ResolvePath("SOUND\\missing.xm"), "sound/missing.xm");
}

TEST_F(Files, AtomicWriteReplacesAndReadsBack) {
  WriteFile("a.bin", "old contents");
  const uint8_t bytes[] = {1, 2, 3, 0, 255};
  std::string error;
  ASSERT_TRUE(plat::WriteFileAtomically("a.bin", bytes, sizeof bytes, error)) << error;
  std::vector<uint8_t> back;
  ASSERT_TRUE(plat::ReadFileBytes("a.bin", back, error));
  EXPECT_EQ(back, std::vector<uint8_t>(bytes, bytes + sizeof bytes));
  EXPECT_FALSE(plat::ReadFileBytes("missing.bin", back, error));
  EXPECT_EQ(error, "No such file or directory");
  EXPECT_FALSE(plat::WriteFileAtomically("no/such/dir/a.bin", bytes, 1, error));
  EXPECT_EQ(error, "No such file or directory");
}

}  // namespace
