#include "server/verify_queue.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>

#include "server/score_store.h"

TVerifyQueue::TVerifyQueue(TScoreStore& store, const TVerifierLimits& limits, int workers, size_t capacity,
                           int leaseSeconds, size_t perAddress)
    : Store(store),
      Limits(limits),
      Workers(workers),
      Capacity(capacity),
      LeaseSeconds(leaseSeconds),
      PerAddress(perAddress) {}

TVerifyQueue::~TVerifyQueue() { Stop(); }

void TVerifyQueue::Start() {
  RemoveStaleVerifierFolders();
  for (int i = 0; i < Workers; ++i) Threads.emplace_back([this] { Work(); });
}

bool TVerifyQueue::HasRoom() { return Store.QueuedCount() < static_cast<int64_t>(Capacity); }

bool TVerifyQueue::HasRoomFrom(const std::string& address) {
  return Store.QueuedCountFrom(address) < static_cast<int64_t>(PerAddress);
}

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

void TVerifyQueue::ReportPutOff(const std::string& why) {
  constexpr auto kReportEvery = std::chrono::minutes(1);
  const auto now = std::chrono::steady_clock::now();
  std::lock_guard<std::mutex> hold(Lock);
  if (Reported && now - LastReport < kReportEvery) {
    ++Untold;
    return;
  }
  std::fprintf(stderr, "pellorin-server: a check was put off and its replay left queued: %s", why.c_str());
  if (Untold > 0) std::fprintf(stderr, " (and %zu more since the last such line)", Untold);
  std::fprintf(stderr, "\n");
  std::fflush(stderr);
  Reported = true;
  LastReport = now;
  Untold = 0;
}

void TVerifyQueue::Work() {
  constexpr auto kLookAgain = std::chrono::milliseconds(500);
  // After a check the server's state stopped, the worker pauses before its next claim, longer each time
  // in a row (up to kLongestPause), so that a verifier that cannot start does not keep it spinning.
  constexpr auto kFirstPause = std::chrono::seconds(1);
  constexpr auto kLongestPause = std::chrono::seconds(60);
  std::chrono::steady_clock::duration pause{};
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
    if (verdict.Judged || verdict.Reason.empty()) {
      pause = {};
      continue;
    }
    ReportPutOff(verdict.Reason);
    pause = pause == std::chrono::steady_clock::duration{}
                ? std::chrono::steady_clock::duration(kFirstPause)
                : std::min<std::chrono::steady_clock::duration>(2 * pause, kLongestPause);
    std::unique_lock<std::mutex> hold(Lock);
    Changed.wait_for(hold, pause, [this] { return Stopping.load(); });
  }
}
