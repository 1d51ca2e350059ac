#include "platform/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>

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

}  // namespace

std::string ResolvePath(const std::string& gamePath) {
  bool absolute = !gamePath.empty() && (gamePath[0] == '/' || gamePath[0] == '\\');
  std::string result(absolute ? 1 : 0, '/');
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
