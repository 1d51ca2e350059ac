#include "server/request_log.h"

#include <chrono>
#include <ctime>
#include <string_view>

namespace {

constexpr size_t kLoggedTargetMax = 240;  // characters of a request's target in the log
constexpr auto kLogInterval = std::chrono::milliseconds(100);
// The log waiting to be written is woken early past the first, and drops lines past the second (its
// output blocked, say) rather than grow without bound.
constexpr size_t kLogSoonBytes = 64 * 1024;
constexpr size_t kLogMaxBytes = 4 * 1024 * 1024;

// text with every byte outside printable ASCII as "?", cut at max characters.
std::string Printable(std::string_view text, size_t max) {
  std::string out;
  for (char c : text.substr(0, max)) out.push_back(c >= 0x20 && c < 0x7F ? c : '?');
  if (text.size() > max) out += "...";
  return out;
}

}  // namespace

std::string UtcNowText() {
  // Made once a second by each thread: every request's line starts with it.
  thread_local std::time_t shown = -1;
  thread_local char text[32];
  const std::time_t t = std::time(nullptr);
  if (t != shown) {
    std::tm now{};
    gmtime_r(&t, &now);
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &now);
    shown = t;
  }
  return text;
}

std::string RequestLogLine(const std::string& now, const std::string& address, const THttpRequest& req,
                           const THttpResponse& res) {
  std::string line = now;
  line += ' ';
  line += address.empty() ? "-" : Printable(address, 64);
  line += " \"";
  line += req.Method.empty() ? "-" : Printable(req.Method, 16);
  if (!req.Target.empty()) {
    line += ' ';
    line += Printable(req.Target, kLoggedTargetMax);
  }
  line += "\" ";
  if (res.Status == 0) {
    // Closed before it had an answer: the body says why.
    line += "- ";
    line += Printable(res.Body, 120);
  } else {
    line += std::to_string(res.Status) + " " + std::to_string(res.Body.size());
    if (res.Status >= 400) {
      line += ' ';
      line += Printable(res.Body.substr(0, res.Body.find('\n')), 120);
    }
  }
  line += "\n";
  return line;
}

TRequestLog::TRequestLog(FILE* file) : File(file) {
  if (File != nullptr) Writer = std::thread([this] { Loop(); });
}

TRequestLog::~TRequestLog() {
  if (Writer.joinable()) {
    {
      std::lock_guard<std::mutex> hold(Lock);
      Stopping = true;
      Wake.notify_all();
    }
    Writer.join();
  }
  Flush();
}

void TRequestLog::Add(const std::string& line) {
  if (File == nullptr) return;
  std::lock_guard<std::mutex> hold(Lock);
  if (Lines.size() + line.size() > kLogMaxBytes) {
    ++Dropped;
    return;
  }
  Lines += line;
  if (Lines.size() > kLogSoonBytes) Wake.notify_all();
}

void TRequestLog::Loop() {
  std::unique_lock<std::mutex> hold(Lock);
  while (!Stopping) {
    Wake.wait_for(hold, kLogInterval);
    hold.unlock();
    Flush();
    hold.lock();
  }
}

void TRequestLog::Flush() {
  if (File == nullptr) return;
  std::lock_guard<std::mutex> writing(Writing);
  std::string lines;
  size_t dropped;
  {
    std::lock_guard<std::mutex> hold(Lock);
    lines.swap(Lines);
    dropped = Dropped;
    Dropped = 0;
  }
  if (dropped > 0) lines += UtcNowText() + " - " + std::to_string(dropped) + " log lines dropped\n";
  if (lines.empty()) return;
  std::fwrite(lines.data(), 1, lines.size(), File);
  std::fflush(File);
}
