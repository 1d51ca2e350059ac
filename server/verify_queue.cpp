#include "server/verify_queue.h"

#include <chrono>
#include <ctime>

#include "server/score_store.h"

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
