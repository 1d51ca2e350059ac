#include "tests/support/scripted_http_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <utility>

namespace {

int BindLoopback(int& port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  const int one = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  socklen_t length = sizeof address;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  port = ntohs(address.sin_port);
  return fd;
}

// Reads one request head; false when the peer closed first or the server stops.
bool ReadHead(int fd, const std::atomic<bool>& stopping, std::string& head) {
  head.clear();
  char c = 0;
  while (head.find("\r\n\r\n") == std::string::npos) {
    pollfd ready{fd, POLLIN, 0};
    if (stopping) return false;
    if (::poll(&ready, 1, 50) <= 0) continue;
    if (::read(fd, &c, 1) != 1) return false;
    head += c;
  }
  return true;
}

// The body a head announces with Content-Length; false when the connection ends first.
bool ReadBody(int fd, const std::atomic<bool>& stopping, const std::string& head, std::string& body) {
  body.clear();
  std::string lower = head;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  const size_t at = lower.find("\r\ncontent-length:");
  if (at == std::string::npos) return true;
  const size_t length = std::strtoul(head.c_str() + at + 17, nullptr, 10);
  char buffer[4096];
  while (body.size() < length) {
    pollfd ready{fd, POLLIN, 0};
    if (stopping) return false;
    if (::poll(&ready, 1, 50) <= 0) continue;
    const ssize_t n = ::read(fd, buffer, std::min(sizeof buffer, length - body.size()));
    if (n <= 0) return false;
    body.append(buffer, static_cast<size_t>(n));
  }
  return true;
}

}  // namespace

TScriptedHttpServer::TScriptedHttpServer(std::vector<std::string> replies) : Replies(std::move(replies)) {
  Listener = BindLoopback(Port);
  ::listen(Listener, 16);
  Worker = std::thread(&TScriptedHttpServer::Serve, this);
}

TScriptedHttpServer::~TScriptedHttpServer() {
  Stopping = true;
  Worker.join();
  for (int fd : Held) ::close(fd);
  ::close(Listener);
}

std::vector<std::string> TScriptedHttpServer::Requests() {
  std::lock_guard<std::mutex> guard(Lock);
  return Received;
}

std::vector<std::string> TScriptedHttpServer::Bodies() {
  std::lock_guard<std::mutex> guard(Lock);
  return ReceivedBodies;
}

std::string TScriptedHttpServer::Reply(const std::string& status, const std::string& body,
                                       const std::string& headers) {
  return "HTTP/1.1 " + status + "\r\n" + headers + "Content-Length: " + std::to_string(body.size()) +
         "\r\nConnection: close\r\n\r\n" + body;
}

// One connection at a time: its requests are answered until it closes or a reply closes it.
void TScriptedHttpServer::Serve() {
  size_t next = 0;
  while (!Stopping) {
    pollfd ready{Listener, POLLIN, 0};
    if (::poll(&ready, 1, 50) <= 0) continue;
    const int fd = ::accept(Listener, nullptr, nullptr);
    if (fd < 0) continue;
    std::string head, body;
    if (!ReadHead(fd, Stopping, head) || !ReadBody(fd, Stopping, head, body)) {
      ::close(fd);
      continue;
    }
    {
      std::lock_guard<std::mutex> guard(Lock);
      Received.push_back(head);
      ReceivedBodies.push_back(body);
    }
    const std::string reply = next < Replies.size() ? Replies[next] : Reply("404 Not Found", "none left");
    ++next;
    for (int waited = 0; waited < AnswerDelayMs && !Stopping && !reply.empty(); waited += 10)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (reply.empty()) {
      Held.push_back(fd);
      continue;
    }
    for (size_t sent = 0; sent < reply.size();) {
      const ssize_t n = ::write(fd, reply.data() + sent, reply.size() - sent);
      if (n <= 0) break;
      sent += static_cast<size_t>(n);
    }
    ::close(fd);
  }
}

int ClosedPort() {
  int port = 0;
  ::close(BindLoopback(port));
  return port;
}
