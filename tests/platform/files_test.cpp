#include "platform/files.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "tests/support/headless.h"

namespace {

using Files = THeadlessTest;

TEST_F(Files, GamePathsMatchNamesWithoutCase) {
  WriteFile("sound/1.xm", "song");
  WriteFile("data/Menu.DXG", "pictures");
  WriteFile("Data/menu.dxg", "other pictures");
  EXPECT_EQ(plat::ResolvePath("Sound\\1.xm"), "sound/1.xm");
  // An exact name wins over one that differs only in case, whichever the directory lists first.
  EXPECT_EQ(plat::ResolvePath("data\\menu.dxg"), "data/Menu.DXG");
  EXPECT_EQ(plat::ResolvePath("Data\\menu.dxg"), "Data/menu.dxg");
  EXPECT_EQ(plat::ResolvePath("config.dat"), "config.dat");  // missing: kept as written
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

TEST_F(Files, AtomicWriteRespectsAReadOnlyFileAndKeepsPermissions) {
  WriteFile("kept.bin", "mine");
  ASSERT_EQ(::chmod("kept.bin", 0640), 0);
  const uint8_t bytes[] = {7};
  std::string error;
  ASSERT_TRUE(plat::WriteFileAtomically("kept.bin", bytes, 1, error)) << error;
  struct stat st {};
  ASSERT_EQ(::stat("kept.bin", &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);

  ASSERT_EQ(::chmod("kept.bin", 0440), 0);
  WithoutOverridingRights([&] {
    ASSERT_NE(::access("kept.bin", W_OK), 0) << "this system lets anyone write a read-only file";
    EXPECT_FALSE(plat::WriteFileAtomically("kept.bin", bytes, 1, error));
    EXPECT_EQ(error, "Permission denied");
  });
  EXPECT_EQ(ReadFile("kept.bin"), std::string(1, '\x07'));
}

}  // namespace
