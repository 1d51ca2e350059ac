// pellorin-server's HTTP layer: libmicrohttpd, event-driven, over a listening socket of our own. It holds
// every connection to its limits (memory, time, count per address) and refuses what breaks them itself;
// requests within them go to one handler, which builds the whole answer from the request line, the
// header and, for a POST to BodyPath with a Content-Length within MaxBodyBytes, the body (no other body
// is ever read). Owned by the score server.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

class EHttpError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct THttpLimits {
  int Threads = 16;                        // threads that serve connections, each with its own event loop
  unsigned MaxConnections = 2048;          // open at once, in all
  unsigned MaxConnectionsPerAddress = 32;  // open at once from one client address; 0: no limit
  size_t MaxRequestLine = 2048;            // bytes of "METHOD TARGET HTTP/x.y"
  size_t MaxHeaderBytes = 8192;            // bytes of the request line and the header fields together
  size_t MaxHeaderCount = 64;              // header fields in one request
  unsigned IdleTimeout = 10;               // seconds a connection may stay silent
  // Seconds from a connection's start, or from its last answer, by which the next request must be
  // whole; at least IdleTimeout (a connection silent since its last answer is closed before).
  unsigned RequestTimeout = 20;
  // Bytes of a POST's body that are read (it counts in RequestTimeout); a longer one gets a 413, one
  // without a Content-Length a 411. 0: no body is read, and a POST is answered from its header.
  size_t MaxBodyBytes = 0;
  // The path (the target before any "?") whose POSTs have their body read; a POST to any other path is
  // answered from its header, its body unread and the connection closed after. Empty: every path's.
  std::string BodyPath;
  // Bytes of bodies held at once, those still arriving included; a POST that would go past it gets a
  // 503 before its body is read.
  size_t MaxBodyBytesHeld = 32 * 1024 * 1024;
  // The share of MaxBodyBytesHeld one client address may hold, so that one address cannot take it all;
  // past it that address's POST gets a 503 before its body is read.
  size_t MaxBodyBytesHeldPerAddress = 4 * 1024 * 1024;
  // The client's address for that share is the last of X-Forwarded-For (behind a proxy that sets it).
  bool TrustProxy = false;
};

struct THttpRequest {
  std::string Method;
  std::string Target;                                        // as sent: path and query, nothing decoded
  std::string Version;                                       // "HTTP/1.1"
  std::string RemoteAddress;                                 // the peer's address, IPv4 or IPv6
  std::vector<std::pair<std::string, std::string>> Headers;  // in the order sent
  std::string Body;                                          // a POST's, when it is read (MaxBodyBytes)

  // The values of the header fields named name (in any case), in order.
  std::vector<std::string> HeaderValues(std::string_view name) const;
};

struct THttpResponse {
  int Status = 200;  // 0 in the log for a request closed before it was answered
  std::string ContentType = "text/plain; charset=utf-8";
  std::string Body;  // for a request closed before its answer: why
  std::vector<std::pair<std::string, std::string>> Headers;
  bool Close = false;  // the connection closes after this answer

  void SetHeader(std::string name, std::string value) {
    Headers.emplace_back(std::move(name), std::move(value));
  }
};

// A refusal: status and the text "Error: WHY\n", which a game cannot take for "OK".
void Refuse(THttpResponse& res, int status, const std::string& why);

class THttpServer {
 public:
  // Runs on the serving threads, several at once.
  using THandler = std::function<void(const THttpRequest&, THttpResponse&)>;
  // Once per answer, the layer's own refusals included, and once per request that was closed before
  // its answer (Status 0, Body saying why). Runs on the serving threads, several at once.
  using TLogger = std::function<void(const THttpRequest&, const THttpResponse&)>;

  THttpServer(const THttpLimits& limits, THandler handler, TLogger logger);
  ~THttpServer();
  THttpServer(const THttpServer&) = delete;
  THttpServer& operator=(const THttpServer&) = delete;

  // Binds and listens on host (a name or an address) and port (0: any free one); returns the port. Never
  // shares the port with another socket. Throws EHttpError naming the address.
  int Bind(const std::string& host, int port);
  // Serves on the bound socket until Stop. Throws EHttpError when the serving threads cannot start.
  void Run();
  // Makes Run stop accepting, answer the requests in progress (for up to a second), close every
  // connection and return. Callable from any thread, before or during Run.
  void Stop();

  // The connection limit Run applies: MaxConnections, or less when the process may not open enough
  // files for it.
  unsigned ConnectionLimit() const;

  struct TImpl;  // libmicrohttpd's daemon, its callbacks and the reaper of late requests

 private:
  std::unique_ptr<TImpl> Impl;
};
