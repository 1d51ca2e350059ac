// The world high-score submission: the handshake and the result request, and when the server answers
// the result "OK|TICKET", the upload of the game's replay with that ticket; run on a thread of their own
// so that the game thread keeps drawing while the server answers. The game thread starts one exchange,
// polls it each tick and takes its outcome; nothing of the game is touched from the other thread. One
// HTTP client serves the whole run, so the server's cookies go back with later requests.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>

namespace plat {
class THttpClient;
}

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
  // (empty: none is sent). The exchange succeeds with the result, whatever becomes of the upload.
  void Start(const std::string& origin, const std::string& name, const std::string& country, uint16_t score,
             std::string replay = {});
  // ssRunning until the exchange has ended, then its outcome once; ssIdle after that and before any.
  TState Poll();

  // A request with no whole answer after this long fails.
  uint32_t TimeoutMs = 30000;

 private:
  void Exchange(std::string origin, std::string name, std::string country, uint16_t score,
                std::string replay);

  std::unique_ptr<plat::THttpClient> Client;
  std::thread Worker;
  std::atomic<uint8_t> Outcome{ssIdle};
};

// The Host header's value for an origin: the host name, with ":port" when the port is not 80.
std::string HostHeader(const std::string& origin);
