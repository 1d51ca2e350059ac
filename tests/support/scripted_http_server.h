// A raw HTTP/1.1 server on 127.0.0.1 for tests of the game's requests: it keeps every request exactly as
// it arrived (request line and headers in their order) and answers them in turn with scripted replies,
// at once or a set time late, or holds a connection without answering, or refuses nothing and closes.
// Runs on a thread of its own.
#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class TScriptedHttpServer {
 public:
  // A reply that is never sent: the connection is held open until the server stops.
  static constexpr const char* kNoAnswer = "";

  // Replies are whole response texts, used one per request in order; after the last, 404.
  explicit TScriptedHttpServer(std::vector<std::string> replies);
  ~TScriptedHttpServer();
  TScriptedHttpServer(const TScriptedHttpServer&) = delete;
  TScriptedHttpServer& operator=(const TScriptedHttpServer&) = delete;

  std::string Origin() const { return "http://127.0.0.1:" + std::to_string(Port); }
  // The request heads received so far (up to and including the blank line).
  std::vector<std::string> Requests();
  // The body of each request in Requests(): the Content-Length bytes after its head (empty without).
  std::vector<std::string> Bodies();

  // A whole response with the status line, the extra header lines (each ending in \r\n) and the body.
  static std::string Reply(const std::string& status, const std::string& body,
                           const std::string& headers = "");

  int Port = 0;
  // Each answer is sent this long after its request has arrived whole.
  std::atomic<int> AnswerDelayMs{0};

 private:
  void Serve();

  int Listener = -1;
  std::vector<std::string> Replies;
  std::atomic<bool> Stopping{false};
  std::mutex Lock;
  std::vector<std::string> Received;
  std::vector<std::string> ReceivedBodies;
  std::vector<int> Held;  // connections kept open without an answer
  std::thread Worker;
};

// A port on 127.0.0.1 where nothing listens (bound, then closed).
int ClosedPort();
