// pellorin-server: the world high-score table of Pellorin over HTTP. See docs/server.md.
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <exception>
#include <string>
#include <thread>
#include <vector>

#include "server/score_server.h"
#include "server/server_options.h"

#ifndef PELLORIN_VERSION
#error "the build sets PELLORIN_VERSION to the project's version"
#endif

namespace {

// Every connection holds two files; a service manager's default of 1024 would cap the server far below
// its connection limit, while the hard limit is usually generous.
void RaiseFileLimit() {
  rlimit files{};
  if (getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
    files.rlim_cur = files.rlim_max;
    setrlimit(RLIMIT_NOFILE, &files);
  }
}

// --verify-only: the workers on the shared store until SIGTERM or SIGINT (blocked in every thread).
int RunWorkersOnly(const TServerOptions& options, sigset_t& stopSignals) {
  const std::string verifier = VerifierOf(options);
  if (verifier.empty()) {
    std::fprintf(stderr,
                 "pellorin-server: no pellorin program found to check replays with (see --verifier)\n");
    return 1;
  }
  const auto store = OpenScoreStore(options.DatabasePath, options.FullSync, {}, options.VerifyWorkers + 1,
                                    DbTimeoutsOf(options));
  auto workers = MakeVerifyQueue(*store, options, verifier);
  workers->Start();
  std::fprintf(stderr, "pellorin-server: checking the replays queued in %s by %s, %d at a time\n",
               store->Path().c_str(), verifier.c_str(), options.VerifyWorkers);
  std::fflush(stderr);
  int signal = 0;
  sigwait(&stopSignals, &signal);
  // A verdict being written may finish; nothing waits on a database that does not answer.
  store->StopWaiting(900);
  workers->Stop();
  std::fprintf(stderr, "pellorin-server: stopped checking replays\n");
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  TServerOptions options;
  std::string error;
  switch (ParseServerOptions(std::vector<std::string>(argv + 1, argv + argc), options, error)) {
    case TParseResult::prRun:
      break;
    case TParseResult::prHelp:
      std::fputs(ServerUsage().c_str(), stdout);
      return 0;
    case TParseResult::prVersion:
      std::printf("pellorin-server %s\n", PELLORIN_VERSION);
      return 0;
    case TParseResult::prError:
      std::fprintf(stderr, "pellorin-server: %s (see --help)\n", error.c_str());
      return 2;
  }

  // SIGTERM and SIGINT are taken by one thread of their own, in every thread blocked before any starts.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGTERM);
  sigaddset(&stopSignals, SIGINT);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  signal(SIGPIPE, SIG_IGN);
  RaiseFileLimit();

  try {
    if (options.VerifyOnly) return RunWorkersOnly(options, stopSignals);
    TScoreServer server(options, stderr);
    int port = server.Bind();
    if (server.ConnectionLimit() < options.Http.MaxConnections) {
      std::fprintf(stderr,
                   "pellorin-server: the process may open too few files for %s; serving at most %u at "
                   "once\n",
                   Counted(options.Http.MaxConnections, "connection", "connections").c_str(),
                   server.ConnectionLimit());
    }
    std::string host = options.Host.find(':') != std::string::npos ? "[" + options.Host + "]" : options.Host;
    std::fprintf(stderr, "pellorin-server: listening on http://%s:%d, table %s with %s\n", host.c_str(), port,
                 server.Store().Path().c_str(), Counted(server.Store().Count(), "entry", "entries").c_str());
    if (server.VerifierProgram().empty()) {
      std::fprintf(stderr, "pellorin-server: results get a plain OK; no replays are taken (%s)\n",
                   options.VerifyWorkers == 0 ? "--verify-workers 0" : "no pellorin program found");
    } else {
      std::fprintf(stderr, "pellorin-server: replays are checked by %s, %d at a time\n",
                   server.VerifierProgram().c_str(), options.VerifyWorkers);
    }
    std::fflush(stderr);

    std::atomic<bool> signalled{false};
    std::thread stopper([&server, &stopSignals, &signalled] {
      int signal = 0;
      sigwait(&stopSignals, &signal);
      signalled = true;
      server.Stop();
    });
    std::string failure;
    try {
      server.Run();
    } catch (const std::exception& e) {
      failure = e.what();
    }
    // Run ends after a signal, or on its own when serving failed: then the stopper still waits for one.
    const bool asked = signalled;
    if (!asked) kill(getpid(), SIGTERM);
    stopper.join();
    if (!failure.empty()) std::fprintf(stderr, "pellorin-server: %s\n", failure.c_str());
    // A database shared by other servers (which a stop no longer waits on) may not be counted.
    std::string count;
    try {
      count = " has " + Counted(server.Store().Count(), "entry", "entries");
    } catch (const EStoreError&) {
    }
    std::fprintf(stderr, "pellorin-server: %s; table %s%s\n", asked ? "stopped" : "stopped on an error",
                 server.Store().Path().c_str(), count.c_str());
    if (!asked) return 1;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "pellorin-server: %s\n", e.what());
    return 1;
  }
  return 0;
}
