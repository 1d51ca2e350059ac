// The check of uploaded replays: each is played back by the game itself (`pellorin --verify-replay
// FILE`) in a process of its own, held to limits of CPU time, memory and wall-clock time, without
// network and in a private temporary folder; its verdict goes to the store. A few worker threads claim
// the queued replays from the store, each under a lease, so that the workers of every process sharing
// the store divide them up, and a replay whose worker died is claimed again once its lease runs out.
// Owned by the score server, or by a process that runs only workers.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class TScoreStore;

struct TVerifierLimits {
  std::string Program;        // the game's program; empty: no replay is checked
  int CpuSeconds = 120;       // CPU time of one check
  int MemoryMegabytes = 512;  // address space of one check; 0: no limit
  int WallSeconds = 300;      // time of one check from its start, waiting included
};

struct TVerdict {
  bool Verified = false;
  std::string Reason;  // why not, for the operator
  bool Judged = true;  // false: the check was ended by a stop, and says nothing
};

// The verdict on what the verifier said: its exit status (-1: killed at a limit, with limitText saying
// which), its standard output and error, for an entry of score.
TVerdict ReadVerifierOutput(int status, const std::string& output, const std::string& errors, uint16_t score,
                            const std::string& limitText = {});

// The last line of text that is not empty, every byte outside printable ASCII as "?", cut to a few
// hundred characters: what a program last said on standard error, fit for a reason.
std::string VerifierLastLine(const std::string& text);

// Plays replay (the file's bytes) back with limits' program and judges it against score.
// A check under way ends at once, unjudged, when stop becomes true.
TVerdict RunVerifier(const TVerifierLimits& limits, const std::string& replay, uint16_t score,
                     const std::atomic<bool>& stop);

// The game's program as the server finds it by default: "pellorin" beside the server's own program,
// else the first on PATH; empty when there is none.
std::string DefaultVerifierProgram();

class TVerifyQueue {
 public:
  // workers threads check the replays queued in store, at most capacity of them waiting; each check
  // holds its replay for leaseSeconds (longer than limits' WallSeconds, so that a live check keeps it).
  // Nothing runs before Start.
  TVerifyQueue(TScoreStore& store, const TVerifierLimits& limits, int workers, size_t capacity,
               int leaseSeconds);
  ~TVerifyQueue();  // Stop
  TVerifyQueue(const TVerifyQueue&) = delete;
  TVerifyQueue& operator=(const TVerifyQueue&) = delete;

  // Starts the workers; they take up the replays left queued, by this process or another.
  void Start();
  // Whether the store's queue has room for one more replay (EStoreError when it cannot be asked).
  bool HasRoom();
  // Wakes a worker for a replay just stored. Without it a worker looks at the store every half second.
  void Wake();
  // Ends the workers; a check under way is killed and its replay left queued, free to be claimed.
  void Stop();

 private:
  void Work();

  TScoreStore& Store;
  const TVerifierLimits Limits;
  const int Workers;
  const size_t Capacity;
  const int LeaseSeconds;
  std::mutex Lock;
  std::condition_variable Changed;
  size_t Woken = 0;  // Wake calls not yet taken up by a worker
  std::atomic<bool> Stopping{false};
  std::vector<std::thread> Threads;
};
