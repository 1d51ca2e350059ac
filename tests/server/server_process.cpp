#include "tests/server/server_process.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>

#include "protocol/replies.h"
#include "protocol/score_record.h"

namespace {

constexpr auto kStartTimeout = std::chrono::seconds(20);

}  // namespace

std::vector<std::string> GameVerifierArgs(const std::string& program) {
#if defined(__SANITIZE_ADDRESS__)
  return {"--verifier", program, "--verify-memory", "0"};
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
  return {"--verifier", program, "--verify-memory", "0"};
#else
  return {"--verifier", program};
#endif
#else
  return {"--verifier", program};
#endif
}

TTempFolder::TTempFolder() {
  std::string pattern = (std::filesystem::temp_directory_path() / "pellorin-server-test.XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) ADD_FAILURE() << "mkdtemp " << pattern;
  Folder = pattern;
}

TTempFolder::~TTempFolder() {
  std::error_code ignored;
  std::filesystem::remove_all(Folder, ignored);
}

TServerProcess::TServerProcess(const std::string& folder, const std::vector<std::string>& args,
                               bool listens) {
  std::vector<std::string> argv = {PELLORIN_SERVER_PROGRAM};
  if (listens) argv.insert(argv.end(), {"--listen", "127.0.0.1:0"});
  argv.insert(argv.end(), args.begin(), args.end());
  std::vector<char*> raw;
  for (std::string& a : argv) raw.push_back(a.data());
  raw.push_back(nullptr);

  // Closed on exec: a server started by another thread at the same moment must not keep this pipe open,
  // or the reader here would wait for its end as long as that other server runs.
  int pipeFds[2];
  if (pipe2(pipeFds, O_CLOEXEC) != 0) {
    ADD_FAILURE() << "pipe";
    return;
  }
  Child = fork();
  if (Child == 0) {
    // Only async-signal-safe calls between fork and exec.
    if (chdir(folder.c_str()) != 0) _exit(126);
    dup2(pipeFds[1], 2);
    close(pipeFds[0]);
    close(pipeFds[1]);
    execv(raw[0], raw.data());
    _exit(127);
  }
  close(pipeFds[1]);
  Reader = std::thread([this, fd = pipeFds[0]] { ReadErrors(fd); });

  std::unique_lock<std::mutex> hold(Lock);
  const std::string marker = listens ? "listening on http://127.0.0.1:" : "checking the replays queued in ";
  Changed.wait_for(hold, kStartTimeout,
                   [&] { return ErrorsClosed || Errors.find(marker) != std::string::npos; });
  size_t at = Errors.find(marker);
  if (at == std::string::npos) {
    ADD_FAILURE() << "pellorin-server did not start:\n" << Errors;
    return;
  }
  // A worker has no port; Started() still says it runs.
  ListenPort = listens ? std::atoi(Errors.c_str() + at + marker.size()) : 1;
}

TServerProcess::~TServerProcess() {
  if (Child > 0) {
    kill(Child, SIGKILL);
    waitpid(Child, nullptr, 0);
  }
  if (Reader.joinable()) Reader.join();
}

void TServerProcess::ReadErrors(int fd) {
  char buffer[4096];
  ssize_t n;
  while ((n = read(fd, buffer, sizeof buffer)) > 0) {
    std::lock_guard<std::mutex> hold(Lock);
    Errors.append(buffer, static_cast<size_t>(n));
    Changed.notify_all();
  }
  close(fd);
  std::lock_guard<std::mutex> hold(Lock);
  ErrorsClosed = true;
  Changed.notify_all();
}

int TServerProcess::Stop() {
  if (Child <= 0) return -1;
  kill(Child, SIGTERM);
  int status = 0;
  waitpid(Child, &status, 0);
  Child = -1;
  if (Reader.joinable()) Reader.join();
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void TServerProcess::Kill() {
  if (Child <= 0) return;
  kill(Child, SIGKILL);
  waitpid(Child, nullptr, 0);
  Child = -1;
  if (Reader.joinable()) Reader.join();
}

std::string TServerProcess::ErrorOutput() {
  std::lock_guard<std::mutex> hold(Lock);
  return Errors;
}

namespace {

// A TCP socket bound to a loopback source address, not yet connected; -1 on failure.
int SocketFrom(const std::string& source) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in from{};
  from.sin_family = AF_INET;
  if (fd < 0 || inet_pton(AF_INET, source.c_str(), &from.sin_addr) != 1 ||
      bind(fd, reinterpret_cast<sockaddr*>(&from), sizeof from) != 0) {
    ADD_FAILURE() << "cannot bind a socket to " << source;
    if (fd >= 0) close(fd);
    return -1;
  }
  return fd;
}

}  // namespace

TGameClient::TGameClient(int port, const std::string& source)
    : Http(std::make_unique<httplib::Client>("127.0.0.1", port)) {
  Http->set_url_encode(false);
  Http->set_read_timeout(10, 0);
  if (source != "127.0.0.1") {
    Http->set_socket_options([source](int fd) {
      sockaddr_in from{};
      from.sin_family = AF_INET;
      inet_pton(AF_INET, source.c_str(), &from.sin_addr);
      if (bind(fd, reinterpret_cast<sockaddr*>(&from), sizeof from) != 0)
        ADD_FAILURE() << "cannot bind a socket to " << source;
    });
  }
}

TGameClient::~TGameClient() = default;

TReply TGameClient::Get(const std::string& target) {
  httplib::Headers headers = {{"Accept", "text/html, */*"},
                              {"User-Agent", "Mozilla/3.0 (compatible; Indy Library)"}};
  if (!Cookie.empty()) headers.emplace("Cookie", Cookie);
  if (!ForwardedFor.empty()) headers.emplace("X-Forwarded-For", ForwardedFor);
  auto result = Http->Get(target.c_str(), headers);
  if (!result) return {};
  std::string setCookie = result->get_header_value("Set-Cookie");
  if (!setCookie.empty()) Cookie = setCookie.substr(0, setCookie.find(';'));
  return {result->status, result->body};
}

TReply TGameClient::Post(const std::string& target, const std::string& body) {
  httplib::Headers headers = {{"User-Agent", "Mozilla/3.0 (compatible; Indy Library)"}};
  if (!Cookie.empty()) headers.emplace("Cookie", Cookie);
  auto result = Http->Post(target.c_str(), headers, body, "application/octet-stream");
  if (!result) return {};
  return {result->status, result->body};
}

std::string TGameClient::Handshake() {
  TReply reply = Get(std::string(kScriptPath) + "?" + std::string(kHandshakeQuery));
  if (reply.Status != 200 || reply.Body.rfind("OK", 0) != 0) return {};
  return ServerTokenFromReply(reply.Body);
}

TReply TGameClient::SendInf(const std::string& inf) {
  return Get(std::string(kScriptPath) + "?hs&prg=Pellorin&inf=" + inf);
}

TReply TGameClient::Submit(const std::string& name, const std::string& country, int score, char key,
                           const std::string& after) {
  std::string token = Handshake();
  return Get(std::string(kScriptPath) + "?" +
             BuildResultQuery(name, country, static_cast<uint16_t>(score), key, token) + after);
}

std::string EncodeRecordText(const std::string& record) { return BitsToSymbols(BytesToBits(record)); }

std::string RawRequest(int port, const std::string& bytes) {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  std::string reply;
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
    timeval timeout{2, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    size_t sent = 0;
    while (sent < bytes.size()) {
      ssize_t n = send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
      if (n <= 0) break;
      sent += static_cast<size_t>(n);
    }
    char buffer[4096];
    ssize_t n;
    while ((n = recv(fd, buffer, sizeof buffer, 0)) > 0) {
      reply.append(buffer, static_cast<size_t>(n));
      // Done at the end of the first response, whether or not the server keeps the connection.
      size_t end = reply.find("\r\n\r\n");
      size_t length = reply.find("\r\nContent-Length: ");
      if (end != std::string::npos && length != std::string::npos && length < end &&
          reply.size() >= end + 4 + std::stoul(reply.substr(length + 18)))
        break;
    }
  }
  close(fd);
  return reply;
}

TRawConnection::TRawConnection(int port, const std::string& source) {
  int fd = SocketFrom(source);
  if (fd < 0) return;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    close(fd);
    return;
  }
  Fd = fd;
}

TRawConnection::~TRawConnection() {
  if (Fd >= 0) close(Fd);
}

bool TRawConnection::Send(const std::string& bytes) {
  size_t sent = 0;
  while (Fd >= 0 && sent < bytes.size()) {
    ssize_t n = send(Fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) return false;
    sent += static_cast<size_t>(n);
  }
  return Fd >= 0;
}

void TRawConnection::ShutdownWrite() {
  if (Fd >= 0) shutdown(Fd, SHUT_WR);
}

bool TRawConnection::Read(int timeoutMs) {
  if (Fd < 0 || Closed) return false;
  pollfd wait{Fd, POLLIN, 0};
  if (poll(&wait, 1, timeoutMs) <= 0) return true;
  for (;;) {
    char buffer[65536];
    ssize_t n = recv(Fd, buffer, sizeof buffer, MSG_DONTWAIT);
    if (n > 0) {
      Received.append(buffer, static_cast<size_t>(n));
    } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
      return true;
    } else {
      Closed = true;
      return false;
    }
  }
}

bool TRawConnection::Poll() { return Read(0); }

bool TRawConnection::ReadUntilClosed(std::chrono::milliseconds wait) {
  const auto end = std::chrono::steady_clock::now() + wait;
  while (!Closed && std::chrono::steady_clock::now() < end) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
    Read(static_cast<int>(std::max<int64_t>(left.count(), 1)));
  }
  return Closed;
}
