#include "platform/files.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <optional>

#include "settings/settings.h"
#include "tests/support/headless.h"

namespace {

using Files = THeadlessTest;

TEST_F(Files, GamePathsMatchNamesWithoutCase) {
  WriteFile("sound/1.xm", "song");
  WriteFile("data/Menu.DXG", "pictures");
  WriteFile("Data/menu.dxg", "other pictures");
  EXPECT_EQ(plat::ResolvePath("Sound\\1.xm"), Dir + "/sound/1.xm");
  // An exact name wins over one that differs only in case, whichever the directory lists first.
  EXPECT_EQ(plat::ResolvePath("data\\menu.dxg"), Dir + "/data/Menu.DXG");
  EXPECT_EQ(plat::ResolvePath("Data\\menu.dxg"), Dir + "/Data/menu.dxg");
  EXPECT_EQ(plat::ResolvePath("config.dat"), Dir + "/config.dat");  // missing: kept as written
  EXPECT_EQ(plat::ResolvePath("SOUND\\missing.xm"), Dir + "/sound/missing.xm");
  EXPECT_EQ(plat::ResolvePath("/etc/../etc"), "/etc/../etc");
}

TEST_F(Files, DataAndUserFilesResolveInTheirOwnFolders) {
  WriteFile("game/Data/menu.dxg", "pictures");
  WriteFile("player/Config.dat", "settings");
  plat::SetGameFolders({Dir + "/game", Dir + "/player"});
  EXPECT_EQ(plat::ResolvePath("data\\menu.dxg"), Dir + "/game/Data/menu.dxg");
  EXPECT_EQ(plat::UserFilePath("config.dat"), Dir + "/player/Config.dat");
  EXPECT_EQ(plat::UserFilePath("replays\\1.rec"), Dir + "/player/replays/1.rec");
  // The working directory plays no part.
  WriteFile("server.url", "http://elsewhere");
  EXPECT_EQ(plat::UserFilePath("server.url"), Dir + "/player/server.url");
}

// Sets an environment variable for one test and puts the old value back.
class TScopedEnv {
 public:
  TScopedEnv(const char* name, const char* value) : Name(name) {
    if (const char* old = std::getenv(name)) Old = old;
    if (value)
      ::setenv(name, value, 1);
    else
      ::unsetenv(name);
  }
  ~TScopedEnv() {
    if (Old)
      ::setenv(Name, Old->c_str(), 1);
    else
      ::unsetenv(Name);
  }
  TScopedEnv(const TScopedEnv&) = delete;
  TScopedEnv& operator=(const TScopedEnv&) = delete;

 private:
  const char* Name;
  std::optional<std::string> Old;
};

// A prefix laid out as an installation, a portable copy in copy/ and a player's home in home/.
class GameFolders : public THeadlessTest {
 protected:
  void SetUp() override {
    THeadlessTest::SetUp();
    WriteFile("prefix/bin/pellorin", "program");
    WriteFile("prefix/share/pellorin/Data/menu.dxg", "pictures");
    WriteFile("prefix/share/pellorin/SOUND/1.xm", "song");
    WriteFile("copy/pellorin", "program");
    WriteFile("copy/data/menu.dxg", "pictures");
    WriteFile("copy/sound/1.xm", "song");
    WriteFile("home/.keep", "");
    Layout = {"pellorin", {"data", "sound"}, "../share/pellorin", "/nonexistent/share/pellorin"};
  }
  void TearDown() override {
    ::chmod((Dir + "/copy").c_str(), 0755);
    THeadlessTest::TearDown();
  }
  plat::TInstallLayout Layout;
};

TEST_F(GameFolders, FoundBesideTheProgramOrInstalled) {
  TScopedEnv home("HOME", (Dir + "/home").c_str());
  TScopedEnv xdg("XDG_DATA_HOME", nullptr);
  const std::string player = Dir + "/home/.local/share/pellorin";
  struct TCase {
    const char* What;
    std::string ProgramDir;
    std::string InstalledData;
    bool ReadOnlyCopy;
    std::string Data, User;
  } cases[] = {
      {"a writable copy keeps everything together", Dir + "/copy", "", false, Dir + "/copy", Dir + "/copy"},
      {"a read-only copy writes to the player's folder", Dir + "/copy", "", true, Dir + "/copy", player},
      {"installed: data under the prefix, found from the program", Dir + "/prefix/bin", "", false,
       Dir + "/prefix/bin/../share/pellorin", player},
      {"installed elsewhere: the configured folder", Dir + "/home", Dir + "/prefix/share/pellorin", false,
       Dir + "/prefix/share/pellorin", player},
      {"no data anywhere: the program's folder, so the missing file is named", Dir + "/home", "", false,
       Dir + "/home", player},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.What);
    ASSERT_EQ(::chmod((Dir + "/copy").c_str(), c.ReadOnlyCopy ? 0555 : 0755), 0);
    plat::TInstallLayout layout = Layout;
    if (!c.InstalledData.empty()) layout.InstalledData = c.InstalledData;
    plat::TGameFolders folders = plat::FindGameFolders(c.ProgramDir, layout);
    EXPECT_EQ(folders.Data, c.Data);
    EXPECT_EQ(folders.User, c.User);
  }
}

TEST_F(GameFolders, PlayersFolderFollowsXdgDataHome) {
  TScopedEnv home("HOME", (Dir + "/home/").c_str());
  const std::string program = Dir + "/prefix/bin";
  {
    TScopedEnv xdg("XDG_DATA_HOME", (Dir + "/xdg").c_str());
    EXPECT_EQ(plat::FindGameFolders(program, Layout).User, Dir + "/xdg/pellorin");
  }
  for (const char* ignored : {"", "relative/share"}) {
    TScopedEnv xdg("XDG_DATA_HOME", ignored);
    EXPECT_EQ(plat::FindGameFolders(program, Layout).User, Dir + "/home/.local/share/pellorin") << ignored;
  }
}

// The settings file as the program finds its folders: beside a writable copy, else in the player's
// folder, which the first save makes (private to the player).
TEST_F(GameFolders, ConfigDatGoesBesideWritableDataElseToThePlayersFolder) {
  TScopedEnv xdg("XDG_DATA_HOME", (Dir + "/home/.local/share").c_str());
  plat::SetGameFolders(plat::FindGameFolders(Dir + "/copy", Layout));
  LoadSettings();
  EXPECT_EQ(ReadFile("copy/config.dat").size(), kSettingsSize);
  EXPECT_FALSE(plat::FileExists(Dir + "/home/.local/share/pellorin/config.dat"));

  ASSERT_EQ(::chmod((Dir + "/copy").c_str(), 0555), 0);
  ::unlink((Dir + "/copy/config.dat").c_str());
  plat::SetGameFolders(plat::FindGameFolders(Dir + "/copy", Layout));
  LoadSettings();
  EXPECT_FALSE(plat::FileExists(Dir + "/copy/config.dat"));
  EXPECT_EQ(ReadFile("home/.local/share/pellorin/config.dat").size(), kSettingsSize);
  struct stat st {};
  ASSERT_EQ(::stat((Dir + "/home/.local/share/pellorin").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);

  // The installed layout never writes into the data folder, writable or not (root, a scratch root).
  plat::SetGameFolders(plat::FindGameFolders(Dir + "/prefix/bin", Layout));
  Settings.SoundOn = 0;
  SaveSettingsScrambled();
  EXPECT_FALSE(plat::FileExists(Dir + "/prefix/share/pellorin/config.dat"));
  EXPECT_EQ(ReadFile("home/.local/share/pellorin/config.dat")[2], '\x01');  // sound off, stored inverted
}

TEST_F(Files, MakeFoldersMakesTheMissingOnesOrSaysWhy) {
  std::string error;
  ASSERT_TRUE(plat::MakeFolders(Dir + "/a/b/c", error)) << error;
  EXPECT_TRUE(plat::MakeFolders(Dir + "/a/b/c", error)) << "an existing folder is fine";
  WriteFile("file", "x");
  EXPECT_FALSE(plat::MakeFolders(Dir + "/file/d", error));
  EXPECT_EQ(error, "Not a directory");
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
