#include "platform/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>

#if defined(__EMSCRIPTEN__)
// In the browser the user's folder lives in memory and the page copies it to the browser's storage
// (browser_platform.js) after each file written.
extern "C" void pellorin_page_files_changed();
#endif

namespace plat {
namespace {

std::string SystemText(int code) { return std::strerror(code); }

// The entry of dir whose name equals name ignoring case, or name itself when there is none.
std::string MatchEntry(const std::string& dir, const std::string& name) {
  std::string base = dir.empty() ? "." : dir;
  struct stat st{};
  if (::stat((base + "/" + name).c_str(), &st) == 0) return name;
  std::unique_ptr<DIR, int (*)(DIR*)> handle(::opendir(base.c_str()), ::closedir);
  if (!handle) return name;
  while (dirent* entry = ::readdir(handle.get()))
    if (::strcasecmp(entry->d_name, name.c_str()) == 0) return entry->d_name;
  return name;
}

// base, then each name of gamePath matched in turn; an absolute gamePath ignores base.
std::string ResolveUnder(const std::string& base, const std::string& gamePath) {
  bool absolute = !gamePath.empty() && (gamePath[0] == '/' || gamePath[0] == '\\');
  std::string result = absolute ? "/" : base;
  size_t start = absolute ? 1 : 0;
  while (start <= gamePath.size()) {
    size_t end = gamePath.find_first_of("\\/", start);
    if (end == std::string::npos) end = gamePath.size();
    std::string name = gamePath.substr(start, end - start);
    if (!name.empty()) {
      std::string dir = result;
      if (name != "." && name != "..") name = MatchEntry(dir, name);
      if (!result.empty() && result.back() != '/') result += '/';
      result += name;
    }
    start = end + 1;
  }
  return result;
}

bool IsFolder(const std::string& path) {
  struct stat st{};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Writable by access(), which says yes to root everywhere, and not marked read only by its permission
// bits, which root would otherwise never see.
bool WritableFolder(const std::string& path) {
  struct stat st{};
  if (::stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
  return (st.st_mode & 0222) != 0 && ::access(path.c_str(), W_OK) == 0;
}

// $XDG_DATA_HOME when it is an absolute path (the rules say to ignore a relative one), else
// ~/.local/share with the home folder from $HOME or, without it, the password database.
std::string UserDataHome() {
  const char* xdg = std::getenv("XDG_DATA_HOME");
  if (xdg && xdg[0] == '/') return xdg;
  std::string home;
  const char* env = std::getenv("HOME");
  if (env && env[0] == '/') {
    home = env;
  } else if (const passwd* entry = ::getpwuid(::getuid())) {
    if (entry->pw_dir) home = entry->pw_dir;
  }
  while (home.size() > 1 && home.back() == '/') home.pop_back();
  if (home == "/") home.clear();
  return home + "/.local/share";
}

TGameFolders Folders;  // set by the program (or a test) before the first file is resolved

}  // namespace

std::string ResolvePath(const std::string& gamePath) { return ResolveUnder(Folders.Data, gamePath); }

std::string UserFilePath(const std::string& gamePath) { return ResolveUnder(Folders.User, gamePath); }

void SetGameFolders(const TGameFolders& folders) { Folders = folders; }

const TGameFolders& GameFolders() { return Folders; }

std::string ProgramDir() {
  char path[PATH_MAX];
  ssize_t length = ::readlink("/proc/self/exe", path, sizeof path - 1);
  if (length <= 0) return "";
  std::string exe(path, static_cast<size_t>(length));
  size_t slash = exe.rfind('/');
  if (slash == std::string::npos) return "";
  return slash == 0 ? "/" : exe.substr(0, slash);
}

TGameFolders FindGameFolders(const std::string& programDir, const TInstallLayout& layout) {
  auto holdsData = [&layout](const std::string& dir) {
    if (dir.empty() || !IsFolder(dir)) return false;
    for (const std::string& marker : layout.DataMarkers)
      if (!IsFolder(dir + "/" + MatchEntry(dir, marker))) return false;
    return true;
  };
  TGameFolders folders;
  if (holdsData(programDir)) {
    folders.Data = programDir;
    if (WritableFolder(programDir)) {
      folders.User = programDir;
      return folders;
    }
  } else if (!programDir.empty() && !layout.DataFromProgram.empty() &&
             holdsData(programDir + "/" + layout.DataFromProgram)) {
    folders.Data = programDir + "/" + layout.DataFromProgram;
  } else if (holdsData(layout.InstalledData)) {
    folders.Data = layout.InstalledData;
  } else {
    folders.Data = programDir;
  }
  folders.User = UserDataHome() + "/" + layout.Name;
  return folders;
}

bool MakeFolders(const std::string& path, std::string& error) {
  if (path.empty() || IsFolder(path)) return true;
  size_t slash = path.find_last_of('/');
  if (slash != std::string::npos && slash > 0 && !MakeFolders(path.substr(0, slash), error)) return false;
  if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
    error = SystemText(errno);
    return false;
  }
  if (!IsFolder(path)) {
    error = SystemText(ENOTDIR);
    return false;
  }
  return true;
}

bool ReadFileBytes(const std::string& path, std::vector<uint8_t>& data, std::string& error) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    error = SystemText(errno);
    return false;
  }
  std::vector<uint8_t> bytes;
  uint8_t chunk[65536];
  for (;;) {
    ssize_t got = ::read(fd, chunk, sizeof chunk);
    if (got < 0) {
      if (errno == EINTR) continue;
      error = SystemText(errno);
      ::close(fd);
      return false;
    }
    if (got == 0) break;
    bytes.insert(bytes.end(), chunk, chunk + got);
  }
  ::close(fd);
  data = std::move(bytes);
  return true;
}

bool WriteFileAtomically(const std::string& path, const uint8_t* data, size_t size, std::string& error) {
  std::string dir = ".";
  size_t slash = path.rfind('/');
  if (slash != std::string::npos) dir = slash == 0 ? "/" : path.substr(0, slash);
  // A file that may not be written stays as it is, as an in-place rewrite would; one that may keeps
  // its permissions.
  struct stat existing{};
  bool exists = ::stat(path.c_str(), &existing) == 0;
  if (exists && ::access(path.c_str(), W_OK) != 0) {
    error = SystemText(errno);
    return false;
  }
  std::string temp = path + ".XXXXXX";
  std::vector<char> name(temp.begin(), temp.end());
  name.push_back('\0');
  int fd = ::mkstemp(name.data());
  if (fd < 0) {
    error = SystemText(errno);
    return false;
  }
  auto fail = [&](int code) {
    ::close(fd);
    ::unlink(name.data());
    error = SystemText(code);
    return false;
  };
  size_t done = 0;
  while (done < size) {
    ssize_t put = ::write(fd, data + done, size - done);
    if (put < 0) {
      if (errno == EINTR) continue;
      return fail(errno);
    }
    done += static_cast<size_t>(put);
  }
  // mkstemp creates the file 0600; a new file is as readable as any other file the user makes.
  mode_t mask = ::umask(0);
  ::umask(mask);
  mode_t mode = exists ? (existing.st_mode & 07777) : (0666 & ~mask);
  if (::fchmod(fd, mode) != 0) return fail(errno);
  if (::fsync(fd) != 0) return fail(errno);
  if (::close(fd) != 0) {
    int code = errno;
    ::unlink(name.data());
    error = SystemText(code);
    return false;
  }
  if (::rename(name.data(), path.c_str()) != 0) {
    int code = errno;
    ::unlink(name.data());
    error = SystemText(code);
    return false;
  }
  int dirFd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd >= 0) {
    ::fsync(dirFd);
    ::close(dirFd);
  }
#if defined(__EMSCRIPTEN__)
  pellorin_page_files_changed();
#endif
  return true;
}

bool FileExists(const std::string& path) {
  struct stat st{};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string AbsolutePath(const std::string& path) {
  if (!path.empty() && path[0] == '/') return path;
  char cwd[PATH_MAX];
  if (!::getcwd(cwd, sizeof cwd)) return path;
  return std::string(cwd) + "/" + path;
}

}  // namespace plat
