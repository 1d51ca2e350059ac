#include "server/replay_verifier.h"

#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

#include "server/score_store.h"

namespace fs = std::filesystem;

namespace {

constexpr size_t kOutputMax = 64 * 1024;  // bytes kept of each of the verifier's streams

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

}  // namespace

std::string DefaultVerifierProgram() {
  std::error_code error;
  const fs::path self = fs::read_symlink("/proc/self/exe", error);
  if (!error) {
    const fs::path beside = self.parent_path() / "pellorin";
    if (access(beside.c_str(), X_OK) == 0) return beside.string();
  }
  const char* path = std::getenv("PATH");
  std::string folders = path != nullptr ? path : "/usr/local/bin:/usr/bin:/bin";
  size_t at = 0;
  while (at <= folders.size()) {
    size_t colon = folders.find(':', at);
    if (colon == std::string::npos) colon = folders.size();
    const std::string folder = folders.substr(at, colon - at);
    if (!folder.empty()) {
      const std::string candidate = folder + "/pellorin";
      if (access(candidate.c_str(), X_OK) == 0) return candidate;
    }
    at = colon + 1;
  }
  return {};
}

TVerdict RunVerifier(const TVerifierLimits& limits, const std::string& replay, uint16_t score,
                     const std::atomic<bool>& stop) {
  TVerdict failed;
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base != nullptr && *base ? base : "/tmp") + "/pellorin-verify-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) {
    failed.Judged = false;
    return failed;
  }
  const std::string folder = pattern;
  struct TRemover {
    std::string Folder;
    ~TRemover() {
      std::error_code ignored;
      fs::remove_all(Folder, ignored);
    }
  } remover{folder};
  const std::string file = folder + "/entry.replay";
  {
    std::ofstream out(file, std::ios::binary);
    out.write(replay.data(), static_cast<std::streamsize>(replay.size()));
    if (!out.flush()) {
      failed.Judged = false;
      return failed;
    }
  }

  // Everything the child needs is made before the fork: after it, only system calls.
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

  int outPipe[2], errPipe[2];
  if (pipe2(outPipe, O_CLOEXEC) != 0) {
    failed.Judged = false;
    return failed;
  }
  if (pipe2(errPipe, O_CLOEXEC) != 0) {
    close(outPipe[0]);
    close(outPipe[1]);
    failed.Judged = false;
    return failed;
  }
  const pid_t child = fork();
  if (child == 0) {
    setpgid(0, 0);  // a group of its own, so that a kill reaches whatever it starts
    // No network: a namespace of its own holds only a loopback that is down. As root, or where
    // unprivileged user namespaces are allowed; otherwise the check runs with the server's network.
    if (unshare(CLONE_NEWNET) != 0) unshare(CLONE_NEWUSER | CLONE_NEWNET);
    setrlimit(RLIMIT_CPU, &cpu);
    if (limits.MemoryMegabytes > 0) setrlimit(RLIMIT_AS, &memory);
    setrlimit(RLIMIT_CORE, &noCore);
    int devNull = open("/dev/null", O_RDONLY);
    if (devNull >= 0) dup2(devNull, 0);
    dup2(outPipe[1], 1);
    dup2(errPipe[1], 2);
    close_range(3, ~0U, 0);
    if (chdir(folder.c_str()) != 0) _exit(126);
    execve(program.c_str(), argv, env.data());
    _exit(127);
  }
  close(outPipe[1]);
  close(errPipe[1]);
  if (child < 0) {
    close(outPipe[0]);
    close(errPipe[0]);
    failed.Judged = false;
    return failed;
  }
  std::string output, errors;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(limits.WallSeconds);
  const bool finished = Drain(outPipe[0], errPipe[0], output, errors, deadline, stop);
  close(outPipe[0]);
  close(errPipe[0]);
  int status = 0;
  if (finished) {
    // Its streams are closed; it is given until the deadline to exit. Its group is killed while the
    // child is still a zombie, so that the group's number cannot belong to anyone else yet.
    for (;;) {
      siginfo_t info{};
      if (waitid(P_PID, static_cast<id_t>(child), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
          info.si_pid == child)
        break;
      if (stop.load() || std::chrono::steady_clock::now() >= deadline) {
        status = -1;
        break;
      }
      usleep(20000);
    }
  }
  kill(-child, SIGKILL);  // it, when it runs on, and anything it started
  int reaped = 0;
  waitpid(child, &reaped, 0);
  if (finished && status == 0) status = reaped;
  if (stop.load()) {
    failed.Judged = false;
    return failed;
  }
  if (!finished || status == -1)
    return ReadVerifierOutput(-1, output, errors, score,
                              "it ran past the time limit of " + std::to_string(limits.WallSeconds) + " s");
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
  if (code == 127 || code == 126) {
    failed.Reason = "the verifier " + program + " could not be started";
    return failed;
  }
  return ReadVerifierOutput(code, output, errors, score);
}

// -------------------------------------------------------------------------------------------- the queue

TVerifyQueue::TVerifyQueue(TScoreStore& store, const TVerifierLimits& limits, int workers, size_t capacity,
                           int leaseSeconds)
    : Store(store), Limits(limits), Workers(workers), Capacity(capacity), LeaseSeconds(leaseSeconds) {}

TVerifyQueue::~TVerifyQueue() { Stop(); }

void TVerifyQueue::Start() {
  for (int i = 0; i < Workers; ++i) Threads.emplace_back([this] { Work(); });
}

bool TVerifyQueue::HasRoom() { return Store.QueuedCount() < static_cast<int64_t>(Capacity); }

void TVerifyQueue::Wake() {
  std::lock_guard<std::mutex> hold(Lock);
  ++Woken;
  Changed.notify_one();
}

void TVerifyQueue::Stop() {
  {
    std::lock_guard<std::mutex> hold(Lock);
    Stopping = true;
    Changed.notify_all();
  }
  for (std::thread& t : Threads) t.join();
  Threads.clear();
}

void TVerifyQueue::Work() {
  constexpr auto kLookAgain = std::chrono::milliseconds(500);
  while (!Stopping) {
    TReplayUpload upload;
    bool claimed = false;
    try {
      claimed = Store.ClaimReplay(LeaseSeconds, upload);
    } catch (const EStoreError&) {
      // The store cannot be reached just now: the replays wait there for the next look.
    }
    if (!claimed) {
      std::unique_lock<std::mutex> hold(Lock);
      Changed.wait_for(hold, kLookAgain, [this] { return Stopping.load() || Woken > 0; });
      if (Woken > 0) --Woken;
      continue;
    }
    const TVerdict verdict = RunVerifier(Limits, upload.Data, upload.Score, Stopping);
    try {
      if (verdict.Judged) {
        Store.SetVerdict(upload.Entry, verdict.Verified, verdict.Reason, std::time(nullptr));
      } else {
        Store.ReleaseReplay(upload.Entry);
      }
    } catch (const EStoreError&) {
      // Left leased: another worker takes it up when the lease runs out.
    }
  }
}
