// The access log: one line per request, written by a thread of its own at most a tenth of a second
// after its request, so that no request waits for the log's file. Lines that come faster than the file
// takes them are dropped past a bound and counted in a line of their own. Owned by the score server.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>

#include "server/http_server.h"

// "TIME ADDRESS \"METHOD TARGET\" STATUS BYTES[ REASON]\n", every byte outside printable ASCII as "?"
// and long fields cut; a request closed before its answer shows "-" and why. now: UTC, ISO 8601.
std::string RequestLogLine(const std::string& now, const std::string& address, const THttpRequest& req,
                           const THttpResponse& res);
// The time now as the log writes it: "YYYY-MM-DDTHH:MM:SSZ".
std::string UtcNowText();

class TRequestLog {
 public:
  // file gets the lines (null: none) and is not owned.
  explicit TRequestLog(FILE* file);
  ~TRequestLog();  // writes what is left
  TRequestLog(const TRequestLog&) = delete;
  TRequestLog& operator=(const TRequestLog&) = delete;

  bool Enabled() const { return File != nullptr; }
  // Queues line (with its newline) for the writer; callable from every request thread.
  void Add(const std::string& line);
  // Writes out what the log holds now.
  void Flush();

 private:
  void Loop();

  FILE* const File;
  std::mutex Lock;  // the fields below
  std::condition_variable Wake;
  std::string Lines;   // not yet written
  size_t Dropped = 0;  // lines dropped while the file could not be written fast enough
  bool Stopping = false;
  std::mutex Writing;  // one writer at a time, in order
  std::thread Writer;
};
