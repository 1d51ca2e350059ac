// pellorin-server-load: the real pellorin-server under hostile and heavy load on loopback, each phase
// bounded in time, with a line of figures per phase and a verdict against the server's targets. Clients
// come from many addresses of 127.0.0.0/8, as players and attackers come from many addresses.
//
//   pellorin-server-load --server build/server/pellorin-server [--phase all|slow|held|flood|fill]
//                        [--seconds N]
//
// slow:  500 connections trickle one header byte every 2 s and 1,000 more sit idle (each reopened when
//        the server closes it) while a normal client submits, handshake and result, on a kept
//        connection; its median must stay under 100 ms with no failure. Then SIGTERM, with all of them
//        connected, must stop the server within 2 s.
// held:  256 clients from addresses of their own each submit once and hold their connection open, as
//        the game does; all must be served, and a newcomer after them.
// flood: for N seconds (60 by default) 8 clients send 1 MB request lines and 10,000-field headers; the
//        server's resident memory after it must be within 32 MB of before, and the server still serves.
// fill:  the defaults at their fullest: 200,000 tokens from 50,000 addresses (each within the per-minute
//        limit), then 2,048 connections each holding an unfinished header of 15 KB (about what a
//        connection's memory takes before the server refuses the request); the peak
//        resident memory is reported (it must fit a service's 256 MB), and a newcomer still submits.
// Exit status 0 when every phase run met its targets.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "protocol/replies.h"
#include "protocol/score_record.h"

namespace {

using TClock = std::chrono::steady_clock;
using namespace std::chrono_literals;

double MillisecondsSince(TClock::time_point start) {
  return std::chrono::duration<double, std::milli>(TClock::now() - start).count();
}

// The i-th client address: 127.<base>.x.y, never ending in 0 or 255.
std::string AddressFor(int base, int i) {
  return "127." + std::to_string(base + i / (254 * 256)) + "." + std::to_string(i / 254 % 256) + "." +
         std::to_string(1 + i % 254);
}

// A TCP connection to the server from source; -1 on failure. blocking: with 10 s time-outs, else
// non-blocking.
int Connect(int port, const std::string& source, bool blocking) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  sockaddr_in from{};
  from.sin_family = AF_INET;
  inet_pton(AF_INET, source.c_str(), &from.sin_addr);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(static_cast<uint16_t>(port));
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int on = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  if (bind(fd, reinterpret_cast<sockaddr*>(&from), sizeof from) != 0 ||
      connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
    close(fd);
    return -1;
  }
  if (blocking) {
    timeval wait{10, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &wait, sizeof wait);
  } else {
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
  }
  return fd;
}

bool SendAll(int fd, const std::string& bytes) {
  size_t sent = 0;
  while (sent < bytes.size()) {
    ssize_t n = send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) return false;
    sent += static_cast<size_t>(n);
  }
  return true;
}

// ------------------------------------------------------------------------------------ the server

struct TServer {
  pid_t Pid = -1;
  int Port = 0;
  std::string Folder;

  long Memory(const char* field) const {  // kB of a line of /proc/PID/status
    std::ifstream status("/proc/" + std::to_string(Pid) + "/status");
    std::string line;
    while (std::getline(status, line))
      if (line.rfind(field, 0) == 0) return std::atol(line.c_str() + std::strlen(field));
    return -1;
  }
  long ResidentKb() const { return Memory("VmRSS:"); }
  long PeakKb() const { return Memory("VmHWM:"); }

  // SIGTERM; the milliseconds until it exited, or -1 when it did not within 10 s or failed.
  double Stop() {
    const auto start = TClock::now();
    kill(Pid, SIGTERM);
    int status = 0;
    while (waitpid(Pid, &status, WNOHANG) == 0) {
      if (TClock::now() - start > 10s) {
        kill(Pid, SIGKILL);
        waitpid(Pid, &status, 0);
        Pid = -1;
        return -1;
      }
      std::this_thread::sleep_for(1ms);
    }
    Pid = -1;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? MillisecondsSince(start) : -1;
  }
  ~TServer() {
    if (Pid > 0) Stop();
    std::error_code ignored;
    if (!Folder.empty()) std::filesystem::remove_all(Folder, ignored);
  }
};

// Starts the program with its defaults but args, in a scratch folder, its log in log.txt there.
bool StartServer(const std::string& program, const std::vector<std::string>& args, TServer& server) {
  std::string pattern = (std::filesystem::temp_directory_path() / "pellorin-load.XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) return false;
  server.Folder = pattern;
  const std::string log = server.Folder + "/log.txt";
  // The results are the plain ones the game's protocol defines: no replays are taken.
  std::vector<std::string> argv = {
      program, "--listen", "127.0.0.1:0", "--db", server.Folder + "/scores.db", "--verify-workers", "0"};
  argv.insert(argv.end(), args.begin(), args.end());
  std::vector<char*> raw;
  for (std::string& a : argv) raw.push_back(a.data());
  raw.push_back(nullptr);
  server.Pid = fork();
  if (server.Pid == 0) {
    int fd = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(fd, 2);
    execv(raw[0], raw.data());
    _exit(127);
  }
  const std::string marker = "listening on http://127.0.0.1:";
  for (int i = 0; i < 200; ++i) {
    std::ifstream in(log);
    std::stringstream text;
    text << in.rdbuf();
    size_t at = text.str().find(marker);
    if (at != std::string::npos) {
      server.Port = std::atoi(text.str().c_str() + at + marker.size());
      return true;
    }
    std::this_thread::sleep_for(50ms);
  }
  std::fprintf(stderr, "pellorin-server-load: %s did not start\n", program.c_str());
  return false;
}

// ------------------------------------------------------------------------------------ the player

// A client that speaks as the game does: GETs on one kept connection, which it opens again when the
// server has closed it, and the session cookie.
class TPlayer {
 public:
  TPlayer(int port, std::string source) : Port(port), Source(std::move(source)) {}
  ~TPlayer() { Close(); }

  struct TReply {
    int Status = 0;  // 0: no reply
    std::string Body;
  };

  TReply Get(const std::string& target) {
    for (int attempt = 0; attempt < 2; ++attempt) {
      const bool reused = Fd >= 0;
      if (Fd < 0) Fd = Connect(Port, Source, true);
      if (Fd < 0) return {};
      std::string request =
          "GET " + target +
          " HTTP/1.1\r\nContent-Type: text/html\r\nHost: 127.0.0.1:" + std::to_string(Port) +
          "\r\nAccept: text/html, */*\r\nUser-Agent: Mozilla/3.0 (compatible; Indy Library)\r\n";
      if (!Cookie.empty()) request += "Cookie: " + Cookie + "\r\n";
      request += "\r\n";
      TReply reply;
      bool gotAny = false;
      if (SendAll(Fd, request) && Read(reply, gotAny)) return reply;
      Close();
      if (!reused || gotAny) return {};  // a kept connection the server had closed: once more
    }
    return {};
  }

  // Handshake and result; true when both were answered "OK".
  bool Submit(int score) {
    TReply handshake = Get(std::string(kScriptPath) + "?" + std::string(kHandshakeQuery));
    if (handshake.Status != 200 || handshake.Body.rfind("OK", 0) != 0) return false;
    TReply result = Get(std::string(kScriptPath) + "?" +
                        BuildResultQuery("Load", "", static_cast<uint16_t>(score), 'P',
                                         ServerTokenFromReply(handshake.Body)));
    return result.Status == 200 && result.Body == "OK";
  }

  void Close() {
    if (Fd >= 0) close(Fd);
    Fd = -1;
  }

  std::string Cookie;

 private:
  bool Read(TReply& reply, bool& gotAny) {
    std::string data;
    size_t end;
    char buffer[16384];
    while ((end = data.find("\r\n\r\n")) == std::string::npos) {
      ssize_t n = recv(Fd, buffer, sizeof buffer, 0);
      if (n <= 0) return false;
      gotAny = true;
      data.append(buffer, static_cast<size_t>(n));
    }
    const std::string head = data.substr(0, end + 2);
    if (head.rfind("HTTP/1.1 ", 0) != 0) return false;
    reply.Status = std::atoi(head.c_str() + 9);
    size_t length = 0;
    bool close = false;
    std::istringstream lines(head);
    std::string line;
    while (std::getline(lines, line)) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      std::string lower = line;
      std::transform(lower.begin(), lower.end(), lower.begin(),
                     [](unsigned char c) { return std::tolower(c); });
      if (lower.rfind("content-length:", 0) == 0) length = std::strtoul(line.c_str() + 15, nullptr, 10);
      if (lower.rfind("connection:", 0) == 0 && lower.find("close") != std::string::npos) close = true;
      if (lower.rfind("set-cookie:", 0) == 0) {
        std::string value = line.substr(11);
        value.erase(0, value.find_first_not_of(' '));
        Cookie = value.substr(0, value.find(';'));
      }
    }
    reply.Body = data.substr(end + 4);
    while (reply.Body.size() < length) {
      ssize_t n = recv(Fd, buffer, sizeof buffer, 0);
      if (n <= 0) return false;
      reply.Body.append(buffer, static_cast<size_t>(n));
    }
    if (close) Close();
    return true;
  }

  int Port;
  std::string Source;
  int Fd = -1;
};

// ------------------------------------------------------------------------------------ the phases

struct TVerdict {
  bool Passed = true;
  void Check(bool holds, const char* what) {
    std::printf("  %-68s %s\n", what, holds ? "yes" : "NO");
    Passed = Passed && holds;
  }
};

double Median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

double Percentile(std::vector<double> values, double p) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  return values[std::min(values.size() - 1, static_cast<size_t>(p * static_cast<double>(values.size())))];
}

bool SlowPhase(const std::string& program, int seconds, TVerdict& verdict) {
  std::printf("slow: 500 connections trickling a header byte every 2 s, 1,000 idle, for %d s\n", seconds);
  TServer server;
  if (!StartServer(program, {"--max-per-minute", "0"}, server)) return false;
  const long startKb = server.ResidentKb();

  struct THostile {
    int Fd = -1;
    bool Trickles = false;
    std::string Source;
    TClock::time_point NextByte;
  };
  std::vector<THostile> hostile(1500);
  int opened = 0, reopened = 0, refusedOpen = 0;
  auto open = [&](THostile& h) {
    h.Fd = Connect(server.Port, h.Source, false);
    if (h.Fd < 0) {
      ++refusedOpen;
      return;
    }
    ++opened;
    if (h.Trickles) SendAll(h.Fd, "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Slow: ");
  };
  const auto start = TClock::now();
  for (int i = 0; i < 1500; ++i) {
    THostile& h = hostile[static_cast<size_t>(i)];
    h.Trickles = i < 500;
    h.Source = AddressFor(10, i / 10);  // ten from each address
    h.NextByte = start + std::chrono::milliseconds(i * 4 % 2000);
    open(h);
  }
  std::printf("  opened %d connections in %.0f ms\n", opened, MillisecondsSince(start));

  std::atomic<bool> done{false};
  std::vector<double> latencies;
  int failures = 0;
  std::thread player([&] {
    TPlayer game(server.Port, "127.0.0.1");
    int score = 0;
    while (!done) {
      const auto begin = TClock::now();
      if (game.Submit(++score & 0xFFFF)) {
        latencies.push_back(MillisecondsSince(begin));
      } else {
        ++failures;
      }
      std::this_thread::sleep_for(20ms);
    }
  });

  const auto end = start + std::chrono::seconds(seconds);
  long highKb = 0;
  while (TClock::now() < end) {
    std::vector<pollfd> fds;
    for (const THostile& h : hostile) fds.push_back({h.Fd, POLLIN, 0});
    poll(fds.data(), fds.size(), 100);
    const auto now = TClock::now();
    for (size_t i = 0; i < hostile.size(); ++i) {
      THostile& h = hostile[i];
      bool closed = h.Fd < 0;
      if (!closed && (fds[i].revents & (POLLIN | POLLHUP | POLLERR))) {
        char buffer[4096];
        ssize_t n;
        while ((n = recv(h.Fd, buffer, sizeof buffer, MSG_DONTWAIT)) > 0) {
        }
        closed = n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK);
      }
      if (!closed && h.Trickles && now >= h.NextByte) {
        closed = send(h.Fd, "a", 1, MSG_NOSIGNAL) != 1;
        h.NextByte = now + 2s;
      }
      if (closed) {
        if (h.Fd >= 0) close(h.Fd);
        ++reopened;
        open(h);
      }
    }
    highKb = std::max(highKb, server.ResidentKb());
  }
  done = true;
  player.join();
  int connected = 0;
  for (const THostile& h : hostile) connected += h.Fd >= 0;

  const double stopMs = server.Stop();
  for (THostile& h : hostile)
    if (h.Fd >= 0) close(h.Fd);
  std::printf("  %zu submissions answered, %d failed; latency median %.1f ms, 99th %.1f ms, worst %.1f ms\n",
              latencies.size(), failures, Median(latencies), Percentile(latencies, 0.99),
              latencies.empty() ? 0.0 : *std::max_element(latencies.begin(), latencies.end()));
  std::printf(
      "  the server closed %d hostile connections (each opened again; %d could not be), %d connected "
      "at the end\n",
      reopened, refusedOpen, connected);
  std::printf("  resident memory %ld kB at the start, %ld kB at most; SIGTERM stopped it in %.0f ms\n",
              startKb, highKb, stopMs);
  verdict.Check(!latencies.empty() && failures == 0, "every submission answered OK");
  verdict.Check(Median(latencies) < 100, "median submission under 100 ms");
  verdict.Check(stopMs >= 0 && stopMs < 2000, "SIGTERM stops it within 2 s, hostile clients connected");
  return true;
}

bool HeldPhase(const std::string& program, TVerdict& verdict) {
  constexpr int kClients = 256;
  std::printf("held: %d clients submit once each and hold their connection open\n", kClients);
  TServer server;
  if (!StartServer(program, {}, server)) return false;
  std::vector<std::unique_ptr<TPlayer>> players;
  for (int i = 0; i < kClients; ++i)
    players.push_back(std::make_unique<TPlayer>(server.Port, AddressFor(20, i)));
  std::atomic<int> served{0};
  std::vector<double> latencies(kClients);
  const auto start = TClock::now();
  std::vector<std::thread> threads;
  for (int i = 0; i < kClients; ++i) {
    threads.emplace_back([&, i] {
      const auto begin = TClock::now();
      if (players[static_cast<size_t>(i)]->Submit(i)) ++served;
      latencies[static_cast<size_t>(i)] = MillisecondsSince(begin);
    });
  }
  for (std::thread& t : threads) t.join();
  const double allMs = MillisecondsSince(start);
  TPlayer newcomer(server.Port, AddressFor(21, 0));
  const bool newcomerServed = newcomer.Submit(1);  // while all 256 still hold theirs
  std::printf("  %d of %d served in %.0f ms (slowest %.1f ms); a newcomer %s\n", served.load(), kClients,
              allMs, *std::max_element(latencies.begin(), latencies.end()), newcomerServed ? "too" : "NOT");
  verdict.Check(served == kClients, "all 256 served");
  verdict.Check(newcomerServed, "a newcomer served while they hold their connections");
  players.clear();
  verdict.Check(server.Stop() >= 0, "the server stops cleanly on SIGTERM");
  return true;
}

bool FloodPhase(const std::string& program, int seconds, TVerdict& verdict) {
  std::printf("flood: 1 MB request lines and 10,000 header fields from 8 clients for %d s\n", seconds);
  TServer server;
  if (!StartServer(program, {"--max-per-minute", "0"}, server)) return false;
  {
    TPlayer warm(server.Port, "127.0.0.1");
    for (int i = 0; i < 50; ++i) warm.Submit(i);
  }
  std::this_thread::sleep_for(500ms);
  const long beforeKb = server.ResidentKb();

  std::string longLine = "GET /" + std::string(1 << 20, 'a') + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
  std::string manyFields = "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\n";
  for (int i = 0; i < 10000; ++i) manyFields += "X-Field-" + std::to_string(i) + ": 1\r\n";
  manyFields += "\r\n";

  std::atomic<int> sent{0}, refused{0};
  std::atomic<bool> done{false};
  std::vector<std::thread> flooders;
  for (int t = 0; t < 8; ++t) {
    flooders.emplace_back([&, t] {
      for (int i = 0; !done; ++i) {
        int fd = Connect(server.Port, AddressFor(30 + t, i % 1000), true);
        if (fd < 0) continue;
        SendAll(fd, i % 2 ? longLine : manyFields);
        char buffer[4096];
        ssize_t n = recv(fd, buffer, sizeof buffer, 0);
        if (n > 12 &&
            (std::strncmp(buffer, "HTTP/1.1 414", 12) == 0 || std::strncmp(buffer, "HTTP/1.1 431", 12) == 0))
          ++refused;
        ++sent;
        close(fd);
      }
    });
  }
  long highKb = 0;
  const auto end = TClock::now() + std::chrono::seconds(seconds);
  while (TClock::now() < end) {
    highKb = std::max(highKb, server.ResidentKb());
    std::this_thread::sleep_for(100ms);
  }
  done = true;
  for (std::thread& t : flooders) t.join();
  std::this_thread::sleep_for(1s);
  const long afterKb = server.ResidentKb();
  TPlayer after(server.Port, "127.0.0.1");
  const bool serves = after.Submit(7);
  std::printf(
      "  %d floods sent, %d refused with 414 or 431; resident %ld kB before, %ld kB at most, %ld kB "
      "after\n",
      sent.load(), refused.load(), beforeKb, highKb, afterKb);
  verdict.Check(sent > 0 && refused == sent, "every flood refused with 414 or 431");
  verdict.Check(afterKb - beforeKb <= 32 * 1024 && highKb - beforeKb <= 32 * 1024,
                "resident memory within 32 MB of where it started, throughout");
  verdict.Check(serves, "the server still serves");
  verdict.Check(server.Stop() >= 0, "the server stops cleanly on SIGTERM");
  return true;
}

bool FillPhase(const std::string& program, TVerdict& verdict) {
  constexpr int kAddresses = 50000, kHandshakes = 5;
  std::printf(
      "fill: %d handshakes from %d addresses (one result each), then 2,048 connections with an "
      "unfinished 15 KB header\n",
      kAddresses * kHandshakes, kAddresses);
  TServer server;
  if (!StartServer(program, {}, server)) return false;
  const long startKb = server.ResidentKb();
  std::atomic<int> tokens{0}, stored{0}, failed{0};
  const auto start = TClock::now();
  std::vector<std::thread> threads;
  constexpr int kThreads = 8;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int a = t; a < kAddresses; a += kThreads) {
        TPlayer player(server.Port, AddressFor(40, a));
        for (int h = 0; h < kHandshakes - 1; ++h) {
          auto reply = player.Get(std::string(kScriptPath) + "?" + std::string(kHandshakeQuery));
          (reply.Status == 200 ? tokens : failed)++;
        }
        (player.Submit(a) ? stored : failed)++;  // one more handshake and its result
      }
    });
  }
  for (std::thread& t : threads) t.join();
  std::printf(
      "  %d tokens left waiting, %d results stored, %d failed, in %.0f s; resident %ld kB -> %ld kB\n",
      tokens.load(), stored.load(), failed.load(), MillisecondsSince(start) / 1000, startKb,
      server.ResidentKb());

  // A newcomer with the book and the per-minute tables full.
  TPlayer newcomer(server.Port, AddressFor(51, 0));
  const auto begin = TClock::now();
  const bool newcomerServed = newcomer.Submit(3);
  const double newcomerMs = MillisecondsSince(begin);

  std::vector<int> held;
  const std::string unfinished = "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Pad: " + std::string(15000, 'p');
  for (int i = 0; i < 2048; ++i) {
    int fd = Connect(server.Port, AddressFor(50, i / 16), false);
    if (fd < 0) continue;
    SendAll(fd, unfinished);
    held.push_back(fd);
  }
  std::this_thread::sleep_for(2s);
  const long peakKb = server.PeakKb();
  int open = 0;
  for (int fd : held) {
    char byte;
    open += recv(fd, &byte, 1, MSG_DONTWAIT) < 0 && errno == EAGAIN;
    close(fd);
  }
  std::printf("  a newcomer %s in %.1f ms; %d connections held open; peak resident memory %ld kB (%.0f MB)\n",
              newcomerServed ? "submitted" : "NOT served", newcomerMs, open, peakKb,
              static_cast<double>(peakKb) / 1024);
  verdict.Check(failed == 0, "every handshake and result of the fill answered");
  verdict.Check(newcomerServed, "a newcomer submits with the token book full");
  verdict.Check(peakKb < 256 * 1024, "peak resident memory under 256 MB");
  verdict.Check(server.Stop() >= 0, "the server stops cleanly on SIGTERM");
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  std::string program, phase = "all";
  int seconds = 60;
  for (int i = 1; i + 1 < argc; i += 2) {
    std::string name = argv[i];
    if (name == "--server")
      program = argv[i + 1];
    else if (name == "--phase")
      phase = argv[i + 1];
    else if (name == "--seconds")
      seconds = std::max(5, std::atoi(argv[i + 1]));
  }
  if (program.empty()) {
    std::fprintf(
        stderr,
        "usage: pellorin-server-load --server PATH [--phase all|slow|held|flood|fill] [--seconds N]\n");
    return 2;
  }
  // Thousands of connections: the soft limit on open files goes up to the hard one.
  rlimit files{};
  getrlimit(RLIMIT_NOFILE, &files);
  files.rlim_cur = files.rlim_max;
  setrlimit(RLIMIT_NOFILE, &files);
  if (files.rlim_cur < 5000)
    std::printf("warning: only %lu files may be open\n", static_cast<unsigned long>(files.rlim_cur));
  signal(SIGPIPE, SIG_IGN);

  TVerdict verdict;
  bool ran = true;
  if (phase == "all" || phase == "slow") ran = SlowPhase(program, std::min(seconds, 45), verdict) && ran;
  if (phase == "all" || phase == "held") ran = HeldPhase(program, verdict) && ran;
  if (phase == "all" || phase == "flood") ran = FloodPhase(program, seconds, verdict) && ran;
  if (phase == "all" || phase == "fill") ran = FillPhase(program, verdict) && ran;
  std::printf("%s\n", ran && verdict.Passed ? "all targets met" : "TARGETS MISSED");
  return ran && verdict.Passed ? 0 : 1;
}
