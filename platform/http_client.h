// HTTP GET and POST for the score submission, over libcurl (the browser build: not yet; every request
// there fails as "no answer"): one request at a time, the caller's headers in
// the caller's order (libcurl puts Host first, right after the request line, and adds none of its own),
// redirects not followed, cookies kept for the life of the client and sent back last, http://
// and https:// (with the system's certificates). A client belongs to one thread at a time.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace plat {

struct THttpReply {
  bool Completed = false;  // a whole reply arrived; false for no connection, a time-out or a cut transfer
  long Status = 0;         // the reply's status code, 0 when none arrived
  std::string Body;
  std::string Error;  // what went wrong when not completed, for diagnostics
};

class THttpClient {
 public:
  THttpClient();
  ~THttpClient();
  THttpClient(const THttpClient&) = delete;
  THttpClient& operator=(const THttpClient&) = delete;

  // GET origin + pathAndQuery (origin: "http://host[:port]" or "https://..."). headers go out in the
  // given order, followed by a Cookie header with the cookies the server set earlier. A reply that has
  // not arrived whole within timeoutMs fails.
  THttpReply Get(const std::string& origin, const std::string& pathAndQuery,
                 const std::vector<std::pair<std::string, std::string>>& headers, uint32_t timeoutMs);

  // POST of body to origin + pathAndQuery, as Get otherwise; headers should name the Content-Type.
  // No "Expect: 100-continue" is sent: the body follows the header at once.
  THttpReply Post(const std::string& origin, const std::string& pathAndQuery,
                  const std::vector<std::pair<std::string, std::string>>& headers, const std::string& body,
                  uint32_t timeoutMs);

  // Set from any thread: the request under way ends at once as failed, and so does every later one.
  std::atomic<bool> Abort{false};

  // Name to value, from the Set-Cookie headers of earlier replies.
  const std::map<std::string, std::string>& Cookies() const { return Jar; }
  // The Cookie header's value the next request sends: "name=value" of each, joined by "; "; empty
  // when there are none.
  std::string CookieHeader() const;

 private:
  // The request, a POST of *body when body is not null.
  THttpReply Perform(const std::string& origin, const std::string& pathAndQuery,
                     const std::vector<std::pair<std::string, std::string>>& headers, const std::string* body,
                     uint32_t timeoutMs);

  struct TTransport;  // the library's handle
  std::unique_ptr<TTransport> Transport;
  std::map<std::string, std::string> Jar;
};

}  // namespace plat
