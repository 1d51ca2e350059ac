#include "server/http_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <microhttpd.h>
#include <netdb.h>
#include <netinet/in.h>
#include <strings.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <mutex>
#include <thread>
#include <unordered_map>

#include "server/request_parts.h"

namespace {

using TClock = std::chrono::steady_clock;

constexpr auto kReapInterval = std::chrono::milliseconds(250);
// How long a stop waits for the answers already being sent before it closes every connection.
constexpr auto kStopGrace = std::chrono::seconds(1);
// Files the process keeps besides its connections: the listening socket, each serving thread's event
// loop and wake-up pipe, the table and its journal, the standard streams.
constexpr rlim_t kOtherFiles = 64;
// Connections past the limit that libmicrohttpd may take at once besides one for each serving thread;
// each is held only from its acceptance until NotifyConnection closes it.
constexpr unsigned kSpareConnections = 16;

int64_t Ticks(TClock::time_point t) {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(t.time_since_epoch()).count();
}

std::string AddressText(const sockaddr* address) {
  char text[INET6_ADDRSTRLEN] = "";
  if (address == nullptr) return {};
  if (address->sa_family == AF_INET) {
    inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(address)->sin_addr, text, sizeof text);
  } else if (address->sa_family == AF_INET6) {
    const in6_addr& six = reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr;
    if (IN6_IS_ADDR_V4MAPPED(&six)) {
      inet_ntop(AF_INET, &six.s6_addr[12], text, sizeof text);
    } else {
      inet_ntop(AF_INET6, &six, text, sizeof text);
    }
  }
  return text;
}

std::string HostPortText(const std::string& host, int port) {
  return (host.find(':') != std::string::npos ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

}  // namespace

std::vector<std::string> THttpRequest::HeaderValues(std::string_view name) const {
  std::vector<std::string> values;
  for (const auto& [key, value] : Headers)
    if (key.size() == name.size() && strncasecmp(key.data(), name.data(), name.size()) == 0)
      values.push_back(value);
  return values;
}

// ------------------------------------------------------------------------------------------------ TImpl

// One open connection. The reaper ends a request that is not whole by its deadline: it writes a 408 on
// the socket and shuts the socket down, after which libmicrohttpd finds it closed and lets it go.
struct TConnection {
  enum : int { kWaiting, kAnswering, kReaped };

  int Fd = -1;  // a duplicate of the connection's socket, so that its number is not reused while the
                // reaper may still use it; closed when the connection is
  std::string Address;
  std::atomic<int64_t> Deadline{0};  // Ticks of the steady clock by which the request must be whole
  std::atomic<int> Phase{kWaiting};  // kWaiting -> kAnswering (handler) or kReaped (reaper), never both
  bool PastLimit = false;            // shut down at its start, never answered; not in the ring
  TConnection* Next = nullptr;       // the ring of open connections, under TImpl::Lock
  TConnection* Previous = nullptr;
};

// One request, from its request line on.
struct TRequestState {
  std::string Target;  // as the request line had it
  bool HeaderSeen = false;
  bool Answered = false;
  int Refusal = 0;           // the layer's own refusal (411, 413), answered instead of the handler
  bool BodyFollows = false;  // the header announces a body: a Content-Length above 0, or chunks
  bool ReadingBody = false;  // a POST's body is coming, to be answered once it is whole
  size_t BodyLength = 0;     // its Content-Length, held in TImpl::BodyBytesHeld until the request ends
  std::string BodyAddress;   // the client's address it is held for
  std::string Body;
};

struct THttpServer::TImpl {
  TImpl(const THttpLimits& limits, THandler handler, TLogger logger)
      : Limits(limits), Handler(std::move(handler)), Logger(std::move(logger)) {}

  static void* StartRequest(void* self, const char* uri, MHD_Connection* connection);
  static MHD_Result Answer(void* self, MHD_Connection* connection, const char* url, const char* method,
                           const char* version, const char* upload, size_t* uploadSize, void** state);
  static void EndRequest(void* self, MHD_Connection* connection, void** state,
                         MHD_RequestTerminationCode how);
  static void NotifyConnection(void* self, MHD_Connection* connection, void** context,
                               MHD_ConnectionNotificationCode what);
  static TConnection* ConnectionOf(MHD_Connection* connection);
  // The request as the handler sees it, its header fields not yet read.
  static THttpRequest RequestOf(MHD_Connection* connection, const TRequestState& request, const char* method,
                                const char* version);
  static void ReadHeaders(MHD_Connection* connection, THttpRequest& request);

  // Takes length bytes of the body budget for address: false (nothing taken) when that would go past
  // the whole budget or the address's share. ReleaseBody gives them back.
  bool HoldBody(const std::string& address, size_t length, bool& pastShare);
  void ReleaseBody(const std::string& address, size_t length);

  // The whole answer to a request within the limits, or the layer's own refusal of one beyond them.
  void Respond(const THttpRequest& request, THttpResponse& response, MHD_Connection* connection);
  void RefuseAndClose(THttpResponse& response, int status, const std::string& why);
  void Queue(MHD_Connection* connection, const THttpRequest& request, const THttpResponse& response);
  void ReapLoop();
  void Reap(TConnection& connection);
  unsigned ConnectionLimit() const;
  // Whether a POST to target (path and query, as sent) has its body read: BodyPath's.
  bool TakesBody(const std::string& target) const;
  // The connections libmicrohttpd takes beyond ConnectionLimit, only to close them: with its limit at
  // ours, it would stop accepting at ours and leave new connections waiting in the listen queue.
  unsigned Headroom() const;

  const THttpLimits Limits;
  const THandler Handler;
  const TLogger Logger;
  int ListenFd = -1;
  MHD_Daemon* Daemon = nullptr;

  std::mutex Lock;  // StopRequested and the ring of connections
  std::condition_variable Changed;
  bool StopRequested = false;
  TConnection* Connections = nullptr;
  std::atomic<int> Answering{0};  // connections in kAnswering
  std::mutex BodyLock;            // BodyBytesHeld and BodyBytesByAddress
  size_t BodyBytesHeld = 0;
  std::unordered_map<std::string, size_t> BodyBytesByAddress;  // only addresses holding some
  unsigned Limit = 0;             // ConnectionLimit, as Run started the daemon with it
  std::atomic<unsigned> Open{0};  // connections within Limit, those past it not counted
};

void* THttpServer::TImpl::StartRequest(void*, const char* uri, MHD_Connection*) {
  auto* state = new TRequestState;
  state->Target = uri;
  return state;
}

TConnection* THttpServer::TImpl::ConnectionOf(MHD_Connection* connection) {
  const MHD_ConnectionInfo* info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_SOCKET_CONTEXT);
  return info == nullptr ? nullptr : static_cast<TConnection*>(info->socket_context);
}

THttpRequest THttpServer::TImpl::RequestOf(MHD_Connection* connection, const TRequestState& request,
                                           const char* method, const char* version) {
  THttpRequest http;
  http.Method = method;
  http.Target = request.Target;
  http.Version = version;
  if (TConnection* open = ConnectionOf(connection)) http.RemoteAddress = open->Address;
  return http;
}

MHD_Result THttpServer::TImpl::Answer(void* self, MHD_Connection* connection, const char*, const char* method,
                                      const char* version, const char* upload, size_t* uploadSize,
                                      void** state) {
  TImpl& impl = *static_cast<TImpl*>(self);
  if (const TConnection* open = ConnectionOf(connection); open != nullptr && open->PastLimit) return MHD_NO;
  auto* request = static_cast<TRequestState*>(*state);
  if (request == nullptr) {
    request = new TRequestState;
    *state = request;
  }
  if (request->Answered) {
    *uploadSize = 0;
    return MHD_YES;
  }
  // Takes the connection from the reaper for the answer; false when the reaper was first.
  const auto startAnswer = [&impl, connection] {
    TConnection* open = ConnectionOf(connection);
    if (open == nullptr) return true;
    int waiting = TConnection::kWaiting;
    if (!open->Phase.compare_exchange_strong(waiting, TConnection::kAnswering)) return false;
    ++impl.Answering;
    return true;
  };
  int& refusal = request->Refusal;
  if (request->ReadingBody) {
    // The body comes in pieces; the reaper may still end a request whose body is not whole in time.
    if (*uploadSize > 0) {
      const size_t take = std::min(*uploadSize, request->BodyLength - request->Body.size());
      request->Body.append(upload, take);
      if (take < *uploadSize) refusal = 413;  // more than Content-Length said: not taken
      *uploadSize = 0;
      if (refusal == 0) return MHD_YES;
    }
    if (!startAnswer()) return MHD_NO;  // reaped
  } else if (!request->HeaderSeen) {
    // The first call, with the header whole. The answer waits for the next call, which comes at once,
    // so that the connection can stay open for another request; a request with a body other than a
    // POST to BodyPath within the limit is answered now, and its body is never read: the connection
    // closes after the answer. A refusal decided here waits for that next call, too, when no body
    // follows.
    request->HeaderSeen = true;
    const char* length =
        MHD_lookup_connection_value(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_CONTENT_LENGTH);
    const bool chunked = MHD_lookup_connection_value(connection, MHD_HEADER_KIND,
                                                     MHD_HTTP_HEADER_TRANSFER_ENCODING) != nullptr;
    const bool body = (length != nullptr && std::strspn(length, "0") != std::strlen(length)) || chunked;
    request->BodyFollows = body;
    if (impl.Limits.MaxBodyBytes > 0 && std::strcmp(method, "POST") == 0 && impl.TakesBody(request->Target)) {
      if (chunked || length == nullptr) {
        refusal = 411;
      } else if (std::strlen(length) > 12 || std::strspn(length, "0123456789") != std::strlen(length) ||
                 std::strtoull(length, nullptr, 10) > impl.Limits.MaxBodyBytes) {
        refusal = 413;
      } else if (body) {
        const size_t wanted = static_cast<size_t>(std::strtoull(length, nullptr, 10));
        THttpRequest http = RequestOf(connection, *request, method, version);
        ReadHeaders(connection, http);
        const std::string address = ClientAddress(http, impl.Limits.TrustProxy);
        bool pastShare = false;
        if (!impl.HoldBody(address, wanted, pastShare)) {
          if (!startAnswer()) return MHD_NO;
          *uploadSize = 0;
          request->Answered = true;
          THttpResponse response;
          impl.RefuseAndClose(response, 503,
                              pastShare
                                  ? "too many bodies are arriving from this address just now; try again later"
                                  : "too many bodies are arriving just now; try again later");
          impl.Queue(connection, http, response);
          return MHD_YES;
        }
        request->BodyAddress = address;
        request->ReadingBody = true;
        request->BodyLength = static_cast<size_t>(std::strtoull(length, nullptr, 10));
        request->Body.reserve(request->BodyLength);
        return MHD_YES;
      }
    }
    if (!startAnswer()) return MHD_NO;  // reaped
    if (!body) return MHD_YES;
  }
  *uploadSize = 0;
  request->Answered = true;

  THttpRequest http = RequestOf(connection, *request, method, version);
  ReadHeaders(connection, http);
  THttpResponse response;
  if (refusal == 411) {
    impl.RefuseAndClose(response, 411, "a POST needs a Content-Length");
  } else if (refusal == 413) {
    impl.RefuseAndClose(
        response, 413,
        "the body is longer than " + std::to_string(impl.Limits.MaxBodyBytes) + " bytes or its length");
  } else {
    http.Body = std::move(request->Body);
    impl.Respond(http, response, connection);
    // What is left of an unread body would be taken for the next request.
    if (request->BodyFollows && !request->ReadingBody) response.Close = true;
  }
  impl.Queue(connection, http, response);
  return MHD_YES;
}

void THttpServer::TImpl::ReadHeaders(MHD_Connection* connection, THttpRequest& request) {
  MHD_get_connection_values(
      connection, MHD_HEADER_KIND,
      [](void* headers, MHD_ValueKind, const char* key, const char* value) {
        static_cast<THttpRequest*>(headers)->Headers.emplace_back(key, value == nullptr ? "" : value);
        return MHD_YES;
      },
      &request);
}

bool THttpServer::TImpl::HoldBody(const std::string& address, size_t length, bool& pastShare) {
  std::lock_guard<std::mutex> hold(BodyLock);
  auto found = BodyBytesByAddress.find(address);
  const size_t own = found == BodyBytesByAddress.end() ? 0 : found->second;
  pastShare = own + length > Limits.MaxBodyBytesHeldPerAddress;
  if (pastShare || BodyBytesHeld + length > Limits.MaxBodyBytesHeld) return false;
  BodyBytesHeld += length;
  BodyBytesByAddress[address] = own + length;
  return true;
}

void THttpServer::TImpl::ReleaseBody(const std::string& address, size_t length) {
  std::lock_guard<std::mutex> hold(BodyLock);
  BodyBytesHeld -= length;
  auto found = BodyBytesByAddress.find(address);
  if (found == BodyBytesByAddress.end()) return;
  found->second -= std::min(found->second, length);
  if (found->second == 0) BodyBytesByAddress.erase(found);
}

void THttpServer::TImpl::Respond(const THttpRequest& request, THttpResponse& response,
                                 MHD_Connection* connection) {
  size_t headerBytes = request.Method.size() + request.Target.size() + request.Version.size() + 4;
  const MHD_ConnectionInfo* size =
      MHD_get_connection_info(connection, MHD_CONNECTION_INFO_REQUEST_HEADER_SIZE);
  if (size != nullptr) {
    headerBytes = size->header_size;
  } else {
    for (const auto& [key, value] : request.Headers) headerBytes += key.size() + value.size() + 4;
  }
  const size_t lineBytes = request.Method.size() + request.Target.size() + request.Version.size() + 2;
  if (lineBytes > Limits.MaxRequestLine)
    return RefuseAndClose(
        response, 414, "the request line is longer than " + std::to_string(Limits.MaxRequestLine) + " bytes");
  if (request.Headers.size() > Limits.MaxHeaderCount)
    return RefuseAndClose(response, 431,
                          "more than " + std::to_string(Limits.MaxHeaderCount) + " header fields");
  if (headerBytes > Limits.MaxHeaderBytes)
    return RefuseAndClose(
        response, 431,
        "the request's header is longer than " + std::to_string(Limits.MaxHeaderBytes) + " bytes");
  try {
    Handler(request, response);
  } catch (const std::exception&) {
    response = THttpResponse();
    RefuseAndClose(response, 500, "the server failed on this request");
  }
}

void Refuse(THttpResponse& res, int status, const std::string& why) {
  res.Status = status;
  res.ContentType = "text/plain; charset=utf-8";
  res.Body = "Error: " + why + "\n";
}

void THttpServer::TImpl::RefuseAndClose(THttpResponse& response, int status, const std::string& why) {
  Refuse(response, status, why);
  response.Close = true;
}

void THttpServer::TImpl::Queue(MHD_Connection* connection, const THttpRequest& request,
                               const THttpResponse& response) {
  MHD_Response* answer = MHD_create_response_from_buffer(
      response.Body.size(), const_cast<char*>(response.Body.data()), MHD_RESPMEM_MUST_COPY);
  if (answer == nullptr) return;
  MHD_add_response_header(answer, MHD_HTTP_HEADER_CONTENT_TYPE, response.ContentType.c_str());
  for (const auto& [name, value] : response.Headers)
    MHD_add_response_header(answer, name.c_str(), value.c_str());
  if (response.Close) MHD_add_response_header(answer, MHD_HTTP_HEADER_CONNECTION, "close");
  MHD_queue_response(connection, static_cast<unsigned>(response.Status), answer);
  MHD_destroy_response(answer);
  if (Logger) Logger(request, response);
}

void THttpServer::TImpl::EndRequest(void* self, MHD_Connection* connection, void** state,
                                    MHD_RequestTerminationCode how) {
  TImpl& impl = *static_cast<TImpl*>(self);
  std::unique_ptr<TRequestState> request(static_cast<TRequestState*>(*state));
  *state = nullptr;
  if (request && request->ReadingBody) impl.ReleaseBody(request->BodyAddress, request->BodyLength);
  TConnection* open = ConnectionOf(connection);
  if (open != nullptr && open->PastLimit) return;
  if (open != nullptr) {
    open->Deadline = Ticks(TClock::now() + std::chrono::seconds(impl.Limits.RequestTimeout));
    int answering = TConnection::kAnswering;
    if (open->Phase.compare_exchange_strong(answering, TConnection::kWaiting)) --impl.Answering;
  }
  if (!request || request->Answered || !impl.Logger) return;
  if (open != nullptr && open->Phase == TConnection::kReaped) return;  // the reaper said so already

  THttpRequest http;
  http.Target = request->Target;
  if (open != nullptr) http.RemoteAddress = open->Address;
  THttpResponse response;
  const MHD_ConnectionInfo* status = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_HTTP_STATUS);
  if (status != nullptr && status->http_status != 0) {
    response.Status = static_cast<int>(status->http_status);
    response.Body = "Error: refused by the HTTP layer (too long or malformed)";
  } else {
    response.Status = 0;
    switch (how) {
      case MHD_REQUEST_TERMINATED_TIMEOUT_REACHED:
        response.Body = "closed: silent for " + std::to_string(impl.Limits.IdleTimeout) + " s";
        break;
      case MHD_REQUEST_TERMINATED_DAEMON_SHUTDOWN:
        response.Body = "closed: the server stopped";
        break;
      case MHD_REQUEST_TERMINATED_READ_ERROR:
      case MHD_REQUEST_TERMINATED_CLIENT_ABORT:
        response.Body = "closed by the client before the request was whole";
        break;
      default:
        response.Body = "closed on an error";
    }
  }
  impl.Logger(http, response);
}

void THttpServer::TImpl::NotifyConnection(void* self, MHD_Connection* connection, void** context,
                                          MHD_ConnectionNotificationCode what) {
  TImpl& impl = *static_cast<TImpl*>(self);
  if (what == MHD_CONNECTION_NOTIFY_STARTED) {
    auto* open = new TConnection;
    *context = open;
    const MHD_ConnectionInfo* fd = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD);
    unsigned count = impl.Open.load();
    do {
      if (count >= impl.Limit) break;
    } while (!impl.Open.compare_exchange_weak(count, count + 1));
    if (count >= impl.Limit) {
      // Past the limit: shut down at once, so that the client learns it now rather than after a wait in
      // the queue. libmicrohttpd then finds the socket closed and lets the connection go; should a
      // request have come whole before, Answer refuses it unanswered.
      open->PastLimit = true;
      if (fd != nullptr) shutdown(fd->connect_fd, SHUT_RDWR);
      return;
    }
    if (fd != nullptr) open->Fd = fcntl(fd->connect_fd, F_DUPFD_CLOEXEC, 3);
    const MHD_ConnectionInfo* peer = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
    if (peer != nullptr) open->Address = AddressText(peer->client_addr);
    open->Deadline = Ticks(TClock::now() + std::chrono::seconds(impl.Limits.RequestTimeout));
    std::lock_guard<std::mutex> hold(impl.Lock);
    if (impl.Connections == nullptr) {
      open->Next = open->Previous = open;
    } else {
      open->Next = impl.Connections;
      open->Previous = impl.Connections->Previous;
      open->Previous->Next = open;
      impl.Connections->Previous = open;
    }
    impl.Connections = open;
    return;
  }
  auto* open = static_cast<TConnection*>(*context);
  if (open == nullptr) return;
  *context = nullptr;
  if (open->PastLimit) {
    delete open;
    return;
  }
  {
    std::lock_guard<std::mutex> hold(impl.Lock);
    if (open->Next == open) {
      impl.Connections = nullptr;
    } else {
      open->Previous->Next = open->Next;
      open->Next->Previous = open->Previous;
      if (impl.Connections == open) impl.Connections = open->Next;
    }
    if (open->Fd >= 0) close(open->Fd);
  }
  if (open->Phase == TConnection::kAnswering) --impl.Answering;
  delete open;
  --impl.Open;
}

void THttpServer::TImpl::ReapLoop() {
  std::unique_lock<std::mutex> hold(Lock);
  while (!StopRequested) {
    Changed.wait_for(hold, kReapInterval);
    const int64_t now = Ticks(TClock::now());
    TConnection* open = Connections;
    if (open == nullptr) continue;
    do {
      if (open->Deadline.load() < now) Reap(*open);
      open = open->Next;
    } while (open != Connections);
  }
}

void THttpServer::TImpl::Reap(TConnection& open) {
  int waiting = TConnection::kWaiting;
  if (open.Fd < 0 || !open.Phase.compare_exchange_strong(waiting, TConnection::kReaped)) return;
  THttpResponse response;
  RefuseAndClose(response, 408,
                 "the request was not whole within " + std::to_string(Limits.RequestTimeout) + " s");
  const std::string reply =
      "HTTP/1.1 408 Request Timeout\r\nConnection: close\r\nContent-Type: " + response.ContentType +
      "\r\nContent-Length: " + std::to_string(response.Body.size()) + "\r\n\r\n" + response.Body;
  // The socket waits for the request, so nothing else is being written to it.
  [[maybe_unused]] ssize_t sent = send(open.Fd, reply.data(), reply.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
  shutdown(open.Fd, SHUT_RDWR);
  if (Logger) {
    THttpRequest request;
    request.RemoteAddress = open.Address;
    Logger(request, response);
  }
}

bool THttpServer::TImpl::TakesBody(const std::string& target) const {
  if (Limits.BodyPath.empty()) return true;
  return std::string_view(target).substr(0, target.find('?')) == Limits.BodyPath;
}

unsigned THttpServer::TImpl::ConnectionLimit() const {
  rlimit files{};
  if (getrlimit(RLIMIT_NOFILE, &files) != 0 || files.rlim_cur == RLIM_INFINITY) return Limits.MaxConnections;
  // Two files a connection: its socket and the reaper's duplicate; one for each of the headroom's.
  const rlim_t reserved = kOtherFiles + 4 * static_cast<rlim_t>(Limits.Threads) + Headroom();
  const rlim_t fit = files.rlim_cur > reserved ? (files.rlim_cur - reserved) / 2 : 1;
  return static_cast<unsigned>(std::min<rlim_t>(Limits.MaxConnections, std::max<rlim_t>(fit, 1)));
}

unsigned THttpServer::TImpl::Headroom() const {
  // libmicrohttpd divides its limit among the serving threads, and a thread at its share stops
  // accepting: one more a thread keeps some thread accepting while ours are all taken.
  return static_cast<unsigned>(std::max(Limits.Threads, 1)) + kSpareConnections;
}

// ------------------------------------------------------------------------------------------ THttpServer

THttpServer::THttpServer(const THttpLimits& limits, THandler handler, TLogger logger)
    : Impl(std::make_unique<TImpl>(limits, std::move(handler), std::move(logger))) {}

THttpServer::~THttpServer() {
  if (Impl->ListenFd >= 0) close(Impl->ListenFd);
}

unsigned THttpServer::ConnectionLimit() const { return Impl->ConnectionLimit(); }

int THttpServer::Bind(const std::string& host, int port) {
  const std::string where = HostPortText(host, port);
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
  addrinfo* found = nullptr;
  int error = getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found);
  if (error != 0) throw EHttpError("cannot listen on " + where + ": " + gai_strerror(error));
  std::unique_ptr<addrinfo, void (*)(addrinfo*)> hold(found, freeaddrinfo);

  std::string why = "no address";
  for (addrinfo* a = found; a != nullptr; a = a->ai_next) {
    int fd = socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, a->ai_protocol);
    if (fd < 0) {
      why = std::strerror(errno);
      continue;
    }
    // SO_REUSEADDR lets a restart bind while old connections linger in TIME_WAIT; unlike SO_REUSEPORT it
    // never lets two listening sockets share the port.
    int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (bind(fd, a->ai_addr, a->ai_addrlen) == 0 && listen(fd, SOMAXCONN) == 0) {
      sockaddr_storage bound{};
      socklen_t length = sizeof bound;
      getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &length);
      if (Impl->ListenFd >= 0) close(Impl->ListenFd);
      Impl->ListenFd = fd;
      return ntohs(bound.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&bound)->sin6_port
                                               : reinterpret_cast<sockaddr_in*>(&bound)->sin_port);
    }
    why = std::strerror(errno);
    close(fd);
  }
  throw EHttpError("cannot listen on " + where + ": " + why);
}

void THttpServer::Run() {
  TImpl& impl = *Impl;
  {
    std::lock_guard<std::mutex> hold(impl.Lock);
    if (impl.StopRequested) return;
  }
  if (impl.ListenFd < 0) throw EHttpError("the server has no listening socket");
  const THttpLimits& limits = impl.Limits;
  // The connection's memory holds the request's header as read and parsed, then the answer's header:
  // twice the header limit lets every request within it reach the check above, and stops reading one
  // far beyond it.
  const size_t memory = std::max<size_t>(2 * limits.MaxHeaderBytes, 8192);
  impl.Limit = impl.ConnectionLimit();
  impl.Daemon = MHD_start_daemon(
      MHD_USE_EPOLL_INTERNAL_THREAD | MHD_USE_ITC | MHD_USE_TURBO, 0, nullptr, nullptr, &TImpl::Answer, &impl,
      MHD_OPTION_LISTEN_SOCKET, impl.ListenFd, MHD_OPTION_THREAD_POOL_SIZE,
      static_cast<unsigned>(limits.Threads > 1 ? limits.Threads : 0), MHD_OPTION_CONNECTION_LIMIT,
      impl.Limit + impl.Headroom(), MHD_OPTION_PER_IP_CONNECTION_LIMIT, limits.MaxConnectionsPerAddress,
      MHD_OPTION_CONNECTION_TIMEOUT, limits.IdleTimeout, MHD_OPTION_CONNECTION_MEMORY_LIMIT, memory,
      MHD_OPTION_URI_LOG_CALLBACK, &TImpl::StartRequest, &impl, MHD_OPTION_NOTIFY_COMPLETED,
      &TImpl::EndRequest, &impl, MHD_OPTION_NOTIFY_CONNECTION, &TImpl::NotifyConnection, &impl,
      MHD_OPTION_END);
  if (impl.Daemon == nullptr) throw EHttpError("the HTTP server's threads could not start");

  std::thread reaper([&impl] { impl.ReapLoop(); });
  {
    std::unique_lock<std::mutex> hold(impl.Lock);
    impl.Changed.wait(hold, [&impl] { return impl.StopRequested; });
  }
  reaper.join();
  MHD_quiesce_daemon(impl.Daemon);
  const auto giveUp = TClock::now() + kStopGrace;
  while (impl.Answering > 0 && TClock::now() < giveUp)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  MHD_stop_daemon(impl.Daemon);
  impl.Daemon = nullptr;
  close(impl.ListenFd);
  impl.ListenFd = -1;
}

void THttpServer::Stop() {
  std::lock_guard<std::mutex> hold(Impl->Lock);
  Impl->StopRequested = true;
  Impl->Changed.notify_all();
}
