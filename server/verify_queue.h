// The queue of uploaded replays waiting for their check. A few worker threads claim the queued replays
// from the store, each under a lease, so that the workers of every process sharing the store divide
// them up, and a replay whose worker died is claimed again once its lease runs out; each check runs as
// verifier_process.h says, and its verdict goes to the store. A check stopped by the server's own state
// is no verdict: its replay is released for a later try, and the operator told on standard error.
// Owned by the score server, or by a process that runs only workers.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "server/verifier_process.h"

class TScoreStore;

class TVerifyQueue {
 public:
  // workers threads check the replays queued in store, at most capacity of them waiting, perAddress of
  // them from one client address; each check holds its replay for leaseSeconds (longer than limits'
  // WallSeconds, so that a live check keeps it). Nothing runs before Start.
  TVerifyQueue(TScoreStore& store, const TVerifierLimits& limits, int workers, size_t capacity,
               int leaseSeconds, size_t perAddress = 8);
  ~TVerifyQueue();  // Stop
  TVerifyQueue(const TVerifyQueue&) = delete;
  TVerifyQueue& operator=(const TVerifyQueue&) = delete;

  // Removes the folders of checks left by processes that died, then starts the workers; they take up
  // the replays left queued, by this process or another.
  void Start();
  // Whether the store's queue has room for one more replay (EStoreError when it cannot be asked).
  bool HasRoom();
  // Whether address may queue one more replay: it has fewer than its share queued.
  bool HasRoomFrom(const std::string& address);
  // Wakes a worker for a replay just stored. Without it a worker looks at the store every half second.
  void Wake();
  // Ends the workers; a check under way is killed and its replay left queued, free to be claimed.
  void Stop();

 private:
  void Work();
  // Tells the operator why a check was put off, at most once a minute (with the count of those untold).
  void ReportPutOff(const std::string& why);

  TScoreStore& Store;
  const TVerifierLimits Limits;
  const int Workers;
  const size_t Capacity;
  const int LeaseSeconds;
  const size_t PerAddress;
  std::mutex Lock;
  std::condition_variable Changed;
  size_t Woken = 0;                                    // Wake calls not yet taken up by a worker
  std::chrono::steady_clock::time_point LastReport{};  // of ReportPutOff, under Lock
  bool Reported = false;
  size_t Untold = 0;  // checks put off since LastReport, not reported
  std::atomic<bool> Stopping{false};
  std::vector<std::thread> Threads;
};
