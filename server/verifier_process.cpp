#include "server/verifier_process.h"

#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string_view>
#include <vector>

namespace fs = std::filesystem;

namespace {

using TClock = std::chrono::steady_clock;

constexpr size_t kOutputMax = 64 * 1024;  // bytes kept of each of the verifier's streams
// A check's private folder is TMPDIR/pellorin-verify-PID-XXXXXX, PID the process that made it.
constexpr std::string_view kFolderPrefix = "pellorin-verify-";

std::string TempBase() {
  const char* base = std::getenv("TMPDIR");
  return base != nullptr && *base ? base : "/tmp";
}

// Reads all of the child's two streams until both close or the deadline passes; false on the latter.
bool Drain(int outFd, int errFd, std::string& output, std::string& errors,
           std::chrono::steady_clock::time_point deadline, const std::atomic<bool>& stop) {
  pollfd fds[2] = {{outFd, POLLIN, 0}, {errFd, POLLIN, 0}};
  std::string* into[2] = {&output, &errors};
  int open = 2;
  while (open > 0) {
    if (stop.load()) return false;
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    int ready = poll(fds, 2, static_cast<int>(std::min<long long>(left.count(), 100)));
    if (ready < 0 && errno != EINTR) return false;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      char buffer[4096];
      ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
      if (n > 0) {
        if (into[i]->size() < kOutputMax)
          into[i]->append(buffer, std::min(static_cast<size_t>(n), kOutputMax - into[i]->size()));
      } else if (n == 0 || errno != EINTR) {
        fds[i].fd = -1;
        --open;
      }
    }
  }
  return true;
}

// One verifier process and all it holds: its private folder with the replay in it, the read ends of
// its two streams and the child itself. Whatever way a check ends, the owner's end kills the child's
// group, reaps the child, closes the streams and removes the folder.
class TVerifierChild {
 public:
  TVerifierChild() = default;
  ~TVerifierChild();
  TVerifierChild(const TVerifierChild&) = delete;
  TVerifierChild& operator=(const TVerifierChild&) = delete;

  // Makes the private folder with the replay in it; empty, or what failed.
  std::string MakeFolder(const std::string& replay);
  // Starts limits' program on the replay; empty, or which of the streams or the process failed.
  std::string Start(const TVerifierLimits& limits);
  // Reads the child's streams into Output and Errors until both close; false when stop or the
  // deadline comes first.
  bool Read(TClock::time_point deadline, const std::atomic<bool>& stop) {
    return Drain(OutFd, ErrFd, Output, Errors, deadline, stop);
  }
  // Waits for the child to exit; false when stop or the deadline comes first.
  bool AwaitExit(TClock::time_point deadline, const std::atomic<bool>& stop);
  // Kills the child's group, whatever it does, and reaps the child; its wait status.
  int Reap();

  std::string Output, Errors;

 private:
  std::string Folder;
  int OutFd = -1, ErrFd = -1;
  pid_t Pid = -1;
  bool Reaped = false;
};

TVerifierChild::~TVerifierChild() {
  if (Pid > 0 && !Reaped) Reap();
  if (OutFd >= 0) close(OutFd);
  if (ErrFd >= 0) close(ErrFd);
  if (!Folder.empty()) {
    std::error_code ignored;
    fs::remove_all(Folder, ignored);
  }
}

std::string TVerifierChild::MakeFolder(const std::string& replay) {
  std::string pattern = TempBase() + "/" + std::string(kFolderPrefix) + std::to_string(getpid()) + "-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr)
    return "cannot make a folder in " + TempBase() + ": " + std::strerror(errno);
  Folder = pattern;
  std::ofstream out(Folder + "/entry.replay", std::ios::binary);
  out.write(replay.data(), static_cast<std::streamsize>(replay.size()));
  if (!out.flush()) return "cannot write the replay into " + Folder;
  return {};
}

std::string TVerifierChild::Start(const TVerifierLimits& limits) {
  // Everything the child needs is made before the fork: after it, only system calls.
  const std::string& folder = Folder;
  const std::string file = folder + "/entry.replay";
  const std::string program = limits.Program;
  std::vector<std::string> envText = {
      "PATH=/usr/local/bin:/usr/bin:/bin", "HOME=" + folder, "TMPDIR=" + folder, "XDG_DATA_HOME=" + folder,
      "XDG_CONFIG_HOME=" + folder,         "LANG=C"};
  std::vector<char*> env;
  for (std::string& e : envText) env.push_back(e.data());
  env.push_back(nullptr);
  std::string arg0 = program, arg1 = "--verify-replay", arg2 = file;
  char* argv[] = {arg0.data(), arg1.data(), arg2.data(), nullptr};
  const rlimit cpu{static_cast<rlim_t>(limits.CpuSeconds), static_cast<rlim_t>(limits.CpuSeconds) + 1};
  const rlimit memory{static_cast<rlim_t>(limits.MemoryMegabytes) << 20,
                      static_cast<rlim_t>(limits.MemoryMegabytes) << 20};
  const rlimit noCore{0, 0};
  const pid_t parent = getpid();

  int outPipe[2], errPipe[2];
  if (pipe2(outPipe, O_CLOEXEC) != 0) return std::string("cannot make a pipe: ") + std::strerror(errno);
  OutFd = outPipe[0];
  if (pipe2(errPipe, O_CLOEXEC) != 0) {
    const int error = errno;
    close(outPipe[1]);
    return std::string("cannot make a pipe: ") + std::strerror(error);
  }
  ErrFd = errPipe[0];
  Pid = fork();
  const int forkError = errno;
  if (Pid == 0) {
    setpgid(0, 0);  // a group of its own, so that a kill reaches whatever it starts
    // No network: a namespace of its own holds only a loopback that is down. As root, or where
    // unprivileged user namespaces are allowed; otherwise the check runs with the server's network.
    if (unshare(CLONE_NEWNET) != 0) unshare(CLONE_NEWUSER | CLONE_NEWNET);
    setrlimit(RLIMIT_CPU, &cpu);
    if (limits.MemoryMegabytes > 0) setrlimit(RLIMIT_AS, &memory);
    setrlimit(RLIMIT_CORE, &noCore);
    // Killed when the thread that started it ends, with its process or not. Set after unshare, whose
    // change of credentials clears it; a parent gone before it was set is caught by the second test.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) _exit(126);
    int devNull = open("/dev/null", O_RDONLY);
    if (devNull >= 0) dup2(devNull, 0);
    dup2(outPipe[1], 1);
    dup2(errPipe[1], 2);
    close_range(3, ~0U, 0);
    if (chdir(folder.c_str()) != 0) _exit(126);
    // The server's threads block SIGTERM and SIGINT for its own signal thread; the game is not to inherit
    // that, so that a plain kill still ends a stray check.
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    execve(program.c_str(), argv, env.data());
    _exit(127);
  }
  close(outPipe[1]);
  close(errPipe[1]);
  if (Pid < 0) return std::string("cannot start a process: ") + std::strerror(forkError);
  return {};
}

bool TVerifierChild::AwaitExit(TClock::time_point deadline, const std::atomic<bool>& stop) {
  // Its streams are closed; it is given until the deadline to exit. The child is left a zombie (WNOWAIT)
  // until Reap has killed its group, so that the group's number cannot belong to anyone else yet.
  for (;;) {
    siginfo_t info{};
    if (waitid(P_PID, static_cast<id_t>(Pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == Pid)
      return true;
    if (stop.load() || TClock::now() >= deadline) return false;
    usleep(20000);
  }
}

int TVerifierChild::Reap() {
  kill(-Pid, SIGKILL);  // it, when it runs on, and anything it started
  int status = 0;
  waitpid(Pid, &status, 0);
  Reaped = true;
  return status;
}

}  // namespace

TVerdict RunVerifier(const TVerifierLimits& limits, const std::string& replay, uint16_t score,
                     const std::atomic<bool>& stop) {
  const auto unjudged = [&limits](const std::string& why) {
    TVerdict verdict;
    verdict.Judged = false;
    if (!why.empty()) verdict.Reason = "the verifier " + limits.Program + " " + why;
    return verdict;
  };
  TVerifierChild child;
  std::string failed = child.MakeFolder(replay);
  if (failed.empty()) failed = child.Start(limits);
  if (!failed.empty()) return unjudged("could not be started: " + failed);
  const auto deadline = TClock::now() + std::chrono::seconds(limits.WallSeconds);
  const bool exited = child.Read(deadline, stop) && child.AwaitExit(deadline, stop);
  const int status = child.Reap();
  if (stop.load()) return unjudged({});
  const std::string& output = child.Output;
  const std::string& errors = child.Errors;
  if (!exited)
    return unjudged("was stopped after " + std::to_string(limits.WallSeconds) +
                    " s of wall-clock time before it used up its CPU time: the machine is too busy, or the "
                    "verifier hangs");
  if (WIFSIGNALED(status)) {
    const int signal = WTERMSIG(status);
    if (signal == SIGXCPU || signal == SIGKILL)
      return ReadVerifierOutput(-1, output, errors, score,
                                "it used up its " + std::to_string(limits.CpuSeconds) + " s of CPU time");
    return ReadVerifierOutput(-1, output, errors, score,
                              std::string("it ended on the signal ") + strsignal(signal) +
                                  (errors.empty() ? "" : ": " + VerifierLastLine(errors)));
  }
  const int code = WEXITSTATUS(status);
  if (code == 127 || code == 126)
    return unjudged("could not be started (exit status " + std::to_string(code) + ")" +
                    (errors.empty() ? "" : ": " + VerifierLastLine(errors)));
  return ReadVerifierOutput(code, output, errors, score);
}

void RemoveStaleVerifierFolders() {
  std::error_code error;
  for (const fs::directory_entry& entry : fs::directory_iterator(TempBase(), error)) {
    const std::string name = entry.path().filename().string();
    if (name.compare(0, kFolderPrefix.size(), kFolderPrefix) != 0) continue;
    const std::string rest = name.substr(kFolderPrefix.size());
    const size_t dash = rest.find('-');
    if (dash == 0 || dash == std::string::npos || dash > 10 || rest.find_first_not_of("0123456789") != dash)
      continue;
    const long owner = std::strtol(rest.substr(0, dash).c_str(), nullptr, 10);
    if (owner <= 0 || owner == getpid() || kill(static_cast<pid_t>(owner), 0) == 0 || errno != ESRCH)
      continue;
    // Only our own folders: another user's, or a link planted in the shared folder, is left alone.
    struct stat seen {};
    if (lstat(entry.path().c_str(), &seen) != 0 || !S_ISDIR(seen.st_mode) || seen.st_uid != geteuid())
      continue;
    std::error_code ignored;
    fs::remove_all(entry.path(), ignored);
  }
}
