// The world high-score submission: the handshake and the result request, and when the server answers
// the result "OK|TICKET", the upload of the game's replay with that ticket; run on threads of their own
// so that the game thread keeps drawing while the server answers. The game thread starts one exchange,
// polls it each tick and takes its outcome; nothing of the game is touched from the other threads. One
// HTTP client serves the whole run's handshakes and results, so the server's cookies go back with later
// requests. The exchange ends with the result; the replay goes on in the background, tried again while
// the server is busy or silent, so the player never waits for it.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace plat {
class THttpClient;
}

using THttpHeaders = std::vector<std::pair<std::string, std::string>>;

// The headers of the game's requests to origin, in the order they go out.
THttpHeaders GameRequestHeaders(const std::string& origin);

// Sends replays to their server in the background, one after the other. An upload that gets a 503 (a
// server out of room for the moment) or no whole answer is tried again after a pause that doubles each
// time, up to RetryLongestMs, until RetryForMs have passed since it was queued; any other answer ends
// it, whatever it says: the replay only adds proof of a result already stored.
class TReplayUploader {
 public:
  TReplayUploader();
  // Ends the upload under way at once, drops those waiting and waits for the thread.
  ~TReplayUploader();
  TReplayUploader(const TReplayUploader&) = delete;
  TReplayUploader& operator=(const TReplayUploader&) = delete;

  // Queues the POST of replay to origin's replay path with ticket; cookie: the Cookie header's value
  // the result went out with (empty: none). Returns at once.
  void Upload(const std::string& origin, const std::string& ticket, std::string replay,
              const std::string& cookie);
  // Blocks until nothing is queued or under way, or timeoutMs passed; whether all are done (tests).
  bool WaitIdle(uint32_t timeoutMs);

  uint32_t TimeoutMs = 30000;       // one request's time-out
  uint32_t RetryFirstMs = 1000;     // the pause before the second try
  uint32_t RetryLongestMs = 60000;  // the longest pause
  uint32_t RetryForMs = 300000;     // how long an upload is tried

 private:
  struct TJob {
    std::string Origin, Ticket, Replay, Cookie;
  };
  void Run();
  // One upload, tried until done, given up or stopped.
  void Send(const TJob& job);

  std::unique_ptr<plat::THttpClient> Client;
  std::mutex Lock;
  std::condition_variable Changed;
  std::deque<TJob> Jobs;
  bool Busy = false;
  bool Stopping = false;
  std::thread Worker;
};

class TScoreSubmitter {
 public:
  enum TState : uint8_t { ssIdle, ssRunning, ssSucceeded, ssFailed };

  TScoreSubmitter();
  // Ends a running exchange at once (it fails) and waits for its thread.
  ~TScoreSubmitter();
  TScoreSubmitter(const TScoreSubmitter&) = delete;
  TScoreSubmitter& operator=(const TScoreSubmitter&) = delete;

  // Starts the exchange with the server at origin ("scheme://host[:port]"); does nothing while one runs.
  // replay: the bytes of the replay file of the game that made score, sent when the server asks for it
  // (empty: none is sent). challenge: the id of the challenge the game was played from, quoted with the
  // result (empty: a plain result). The exchange succeeds with the result, whatever becomes of the upload.
  void Start(const std::string& origin, const std::string& name, const std::string& country, uint16_t score,
             std::string replay = {}, std::string challenge = {});
  // ssRunning until the exchange has ended, then its outcome once; ssIdle after that and before any.
  TState Poll();

  // A request with no whole answer after this long fails.
  uint32_t TimeoutMs = 30000;
  // Where the replays go; its timing can be changed before the first Start.
  TReplayUploader Uploads;

 private:
  void Exchange(std::string origin, std::string name, std::string country, uint16_t score, std::string replay,
                std::string challenge);

  std::unique_ptr<plat::THttpClient> Client;
  std::thread Worker;
  std::atomic<uint8_t> Outcome{ssIdle};
};

// The Host header's value for an origin: the host name, with ":port" when the port is not 80.
std::string HostHeader(const std::string& origin);
