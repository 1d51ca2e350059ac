#include "tests/support/headless.h"

#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "engine/rtl.h"
#include "engine/timer.h"
#include "platform/files.h"

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

void WithoutOverridingRights(const std::function<void()>& body) {
  std::thread thread([&] {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct caps[2]{};
    ASSERT_EQ(::syscall(SYS_capget, &header, caps), 0) << std::strerror(errno);
    for (unsigned cap : {unsigned{CAP_DAC_OVERRIDE}, unsigned{CAP_DAC_READ_SEARCH}}) {
      caps[cap / 32].effective &= ~(1u << cap % 32);
      caps[cap / 32].permitted &= ~(1u << cap % 32);
    }
    ASSERT_EQ(::syscall(SYS_capset, &header, caps), 0) << std::strerror(errno);
    body();
  });
  thread.join();
}
