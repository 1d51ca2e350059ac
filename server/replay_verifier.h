// The check of uploaded replays: each is played back by the game itself (`pellorin --verify-replay
// FILE`) in a process of its own, held to limits of CPU time, memory and wall-clock time, without
// network and in a private temporary folder; its verdict goes to the store. A bounded queue of entries
// feeds a few worker threads. Owned by the score server.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
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
  // workers threads take entries from a queue of at most capacity; nothing runs before Start.
  TVerifyQueue(TScoreStore& store, const TVerifierLimits& limits, int workers, size_t capacity);
  ~TVerifyQueue();  // Stop
  TVerifyQueue(const TVerifyQueue&) = delete;
  TVerifyQueue& operator=(const TVerifyQueue&) = delete;

  // Queues the replays the store holds unchecked (from before a restart), then starts the workers.
  void Start();
  // Whether Offer would take one more now.
  bool HasRoom();
  // Queues entry's stored replay; false when the queue is full (the replay stays stored, unchecked,
  // and is taken up at the next start).
  bool Offer(int64_t entry);
  // Ends the workers; a check under way is killed and left queued in the store.
  void Stop();

 private:
  void Work();

  TScoreStore& Store;
  const TVerifierLimits Limits;
  const int Workers;
  const size_t Capacity;
  std::mutex Lock;
  std::condition_variable Changed;
  std::deque<int64_t> Waiting;
  std::atomic<bool> Stopping{false};
  std::vector<std::thread> Threads;
};
