// Whole world high-score submissions over loopback, each as the game makes one whose result is to be
// verified: the challenge, the handshake and the result quoting the challenge, from N client threads at
// once. Submit runs against pellorin-server's own HTTP layer, handlers, token book and SQLite table (a
// fresh file, the request log going to /dev/null), a server that takes replays (its verifier a script
// of the benchmark's own, never run: no replay is uploaded), so that every result is answered with a
// ticket. Submit_Peer sends the same three requests to a bare libmicrohttpd server in the same process
// whose handler only answers "OK", which is the floor the HTTP library itself sets. Both servers have
// the same threads, event loop and accept queue. SubmitNewConnection and its peer open a new connection
// for each submission, as a client that keeps none would. TokenIssue is one handshake's token on a full
// book. SubmitPostgresPair is Submit against two servers sharing one PostgreSQL database (a cluster of
// the benchmark's own, as the tests start it), each challenge and handshake sent to one and its result to
// the other, as a round-robin balancer would; its commits wait for the disk, as SQLite's do not (without
// --full-sync). WorldTable reads the world table's JSON page of a table of 1000 entries, on SQLite and on
// PostgreSQL, with the page kept for a second (the default) and read every time.
#include <benchmark/benchmark.h>
#include <httplib.h>
#include <microhttpd.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "protocol/replies.h"
#include "protocol/score_record.h"
#include "server/random.h"
#include "server/score_server.h"
#include "server/tokens.h"
#include "tests/server/pg_cluster.h"

namespace {

constexpr int kServerThreads = 16;

const std::string kHandshakeTarget = std::string(kScriptPath) + "?" + std::string(kHandshakeQuery);
const std::string kChallengeTarget = std::string(kScriptPath) + "?" + std::string(kChallengeQuery);
// What the peer's result quotes, its challenge reply having none: an id of a server's length.
const std::string kPeerChallengeId(32, 'c');

class TBenchScoreServer {
 public:
  // where: the store, empty for a fresh SQLite file. behindProxy: the client's address is the last of
  // X-Forwarded-For. takesReplays: with a verifier (which no benchmark gets to run), so that results that
  // quote a challenge are answered with a ticket.
  explicit TBenchScoreServer(const std::string& where = {}, int tableCacheSeconds = 1,
                             bool behindProxy = false, bool takesReplays = true) {
    std::string pattern = (std::filesystem::temp_directory_path() / "pellorin-bench.XXXXXX").string();
    Folder = mkdtemp(pattern.data()) ? pattern : std::string();
    Log = std::fopen("/dev/null", "w");
    TServerOptions options;
    options.VerifyWorkers = takesReplays ? 1 : 0;
    if (takesReplays) {
      options.VerifierPath = Folder + "/verifier";
      std::ofstream(options.VerifierPath) << "#!/bin/sh\nexit 1\n";
      chmod(options.VerifierPath.c_str(), 0755);
      // Every client of the benchmark comes from one address, each with a challenge out at a time.
      options.MaxChallengesPerAddress = 64;
    }
    options.Port = 0;
    options.DatabasePath = where.empty() ? Folder + "/scores.db" : where;
    options.TableCacheSeconds = tableCacheSeconds;
    options.TrustProxy = behindProxy;
    options.MaxPerMinute = 0;
    options.Http.Threads = kServerThreads;
    // Every client of the benchmark comes from 127.0.0.1, and a connection the client closed counts for
    // its address until the server has seen it close: new connections at this rate would pass the limit.
    options.Http.MaxConnectionsPerAddress = 0;
    Server = std::make_unique<TScoreServer>(options, Log);
    Port = Server->Bind();
    Runner = std::thread([this] { Server->Run(); });
  }
  ~TBenchScoreServer() {
    Server->Stop();
    Runner.join();
    Server.reset();
    std::fclose(Log);
    std::error_code ignored;
    std::filesystem::remove_all(Folder, ignored);
  }
  int Port = 0;
  std::unique_ptr<TScoreServer> Server;

 private:
  std::string Folder;
  FILE* Log = nullptr;
  std::thread Runner;
};

// libmicrohttpd as our layer runs it (an event loop in each of the threads, the system's accept queue),
// answering "OK" to every request when it is whole, so that the connection may be kept.
class TBenchPeerServer {
 public:
  TBenchPeerServer() {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    Daemon = MHD_start_daemon(MHD_USE_EPOLL_INTERNAL_THREAD | MHD_USE_ITC | MHD_USE_TURBO, 0, nullptr,
                              nullptr, &Answer, nullptr, MHD_OPTION_SOCK_ADDR, &address,
                              MHD_OPTION_THREAD_POOL_SIZE, static_cast<unsigned>(kServerThreads),
                              MHD_OPTION_CONNECTION_LIMIT, 2048u, MHD_OPTION_END);
    const MHD_DaemonInfo* info = Daemon ? MHD_get_daemon_info(Daemon, MHD_DAEMON_INFO_BIND_PORT) : nullptr;
    Port = info ? info->port : 0;
  }
  ~TBenchPeerServer() {
    if (Daemon) MHD_stop_daemon(Daemon);
  }
  int Port = 0;

 private:
  static MHD_Result Answer(void*, MHD_Connection* connection, const char*, const char*, const char*,
                           const char*, size_t* uploadSize, void** state) {
    static int seen;
    if (*state == nullptr) {
      *state = &seen;
      return MHD_YES;
    }
    *uploadSize = 0;
    static const char kOk[] = "OK";
    MHD_Response* response =
        MHD_create_response_from_buffer(2, const_cast<char*>(kOk), MHD_RESPMEM_PERSISTENT);
    MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, "text/plain; charset=utf-8");
    MHD_Result queued = MHD_queue_response(connection, MHD_HTTP_OK, response);
    MHD_destroy_response(response);
    return queued;
  }
  MHD_Daemon* Daemon = nullptr;
};

std::unique_ptr<httplib::Client> NewClient(int port) {
  auto client = std::make_unique<httplib::Client>("127.0.0.1", port);
  client->set_keep_alive(true);
  client->set_tcp_nodelay(true);
  return client;
}

// One submission as the game makes it, the challenge and the handshake on first and the result on
// second (which may be the same): the challenge gives the id the result quotes, the handshake keeps the
// session cookie and gives the token. ticketed: the result must be answered with a ticket (a server
// that takes replays); otherwise (the peer) a plain "OK" will do, and the result quotes an id of the
// same length.
// address: the client's, as a reverse proxy in front names it (empty: none named).
bool SubmitAcross(httplib::Client& first, httplib::Client& second, std::string& cookie, int score,
                  bool ticketed, const std::string& address = {}) {
  httplib::Headers headers = {{"Accept", "text/html, */*"}};
  if (!address.empty()) headers.emplace("X-Forwarded-For", address);
  if (!cookie.empty()) headers.emplace("Cookie", cookie);
  auto challenge = first.Get(kChallengeTarget.c_str(), headers);
  if (!challenge || challenge->status != 200 || challenge->body.rfind("OK", 0) != 0) return false;
  const std::optional<TChallenge> issued = ChallengeFromReply(challenge->body);
  if (ticketed && !issued) return false;
  auto handshake = first.Get(kHandshakeTarget.c_str(), headers);
  if (!handshake || handshake->status != 200 || handshake->body.rfind("OK", 0) != 0) return false;
  std::string setCookie = handshake->get_header_value("Set-Cookie");
  if (!setCookie.empty()) {
    cookie = setCookie.substr(0, setCookie.find(';'));
    headers.erase("Cookie");
    headers.emplace("Cookie", cookie);
  }
  std::string target = std::string(kScriptPath) + "?" +
                       BuildResultQuery("Bench", "Loopback", static_cast<uint16_t>(score),
                                        TServerOptions().Key, ServerTokenFromReply(handshake->body)) +
                       std::string(kChallengeParameter) + (issued ? issued->Id : kPeerChallengeId);
  auto result = second.Get(target.c_str(), headers);
  if (!result || result->status != 200 || result->body.rfind("OK", 0) != 0) return false;
  return !ticketed || !ReplayTicketFromReply(result->body).empty();
}

// newConnection: each submission on a connection of its own, closed after it.
// ticketed: as SubmitAcross.
void RunSubmissions(benchmark::State& state, int port, bool newConnection, bool ticketed) {
  auto client = NewClient(port);
  std::string cookie;
  int score = 0;
  for (auto _ : state) {
    if (newConnection) client = NewClient(port);
    if (!SubmitAcross(*client, *client, cookie, ++score & 0xFFFF, ticketed)) {
      state.SkipWithError("a submission was refused or failed");
      break;
    }
  }
  state.SetItemsProcessed(state.iterations());
}

void Submit(benchmark::State& state) {
  static TBenchScoreServer server;
  RunSubmissions(state, server.Port, false, true);
}
BENCHMARK(Submit)->Threads(1)->Threads(4)->Threads(16)->UseRealTime()->Unit(benchmark::kMicrosecond);

void Submit_Peer(benchmark::State& state) {
  static TBenchPeerServer server;
  RunSubmissions(state, server.Port, false, false);
}
BENCHMARK(Submit_Peer)->Threads(1)->Threads(4)->Threads(16)->UseRealTime()->Unit(benchmark::kMicrosecond);

void SubmitNewConnection(benchmark::State& state) {
  static TBenchScoreServer server;
  RunSubmissions(state, server.Port, true, true);
}
BENCHMARK(SubmitNewConnection)->Threads(1)->Threads(16)->UseRealTime()->Unit(benchmark::kMicrosecond);

void SubmitNewConnection_Peer(benchmark::State& state) {
  static TBenchPeerServer server;
  RunSubmissions(state, server.Port, true, false);
}
BENCHMARK(SubmitNewConnection_Peer)->Threads(1)->Threads(16)->UseRealTime()->Unit(benchmark::kMicrosecond);

// A handshake's token when the book is full at its default size, 200,000 tokens from 20,000 addresses:
// each issue drops the oldest token of the address holding most.
void TokenIssue(benchmark::State& state) {
  const TServerOptions defaults;
  TTokenBook book(std::chrono::seconds(defaults.TokenLifetime), static_cast<size_t>(defaults.MaxTokens),
                  static_cast<size_t>(defaults.MaxTokensPerAddress));
  const std::string session = RandomHex(16);
  const auto now = TServerClock::now();
  for (int i = 0; i < defaults.MaxTokens; ++i) book.Issue(session, "10.0." + std::to_string(i % 20000), now);
  int next = 0;
  for (auto _ : state)
    benchmark::DoNotOptimize(book.Issue(session, "10.1." + std::to_string(next++ % 20000), now));
  state.counters["tokens"] = static_cast<double>(book.Size());
}
BENCHMARK(TokenIssue)->Unit(benchmark::kMicrosecond);

// A new database in the benchmark's own PostgreSQL cluster; empty (and the reason in error) when it cannot
// start.
std::string NewPostgresDatabase(std::string& error) {
  static TPgCluster cluster(true);
  std::string uri = cluster.NewDatabase();
  if (uri.empty()) error = cluster.Failure();
  return uri;
}

void SubmitPostgresPair(benchmark::State& state) {
  static std::string error;
  static const std::string uri = NewPostgresDatabase(error);
  if (uri.empty()) {
    state.SkipWithError(("PostgreSQL did not start: " + error).c_str());
    return;
  }
  // Behind a balancer, each client thread with an address of its own: a server takes one handshake of
  // an address at a time, to hold it to its tokens.
  static TBenchScoreServer first(uri, 1, true), second(uri, 1, true);
  const std::string address = "10.0.0." + std::to_string(state.thread_index() + 1);
  const bool even = state.thread_index() % 2 == 0;
  auto a = NewClient(even ? first.Port : second.Port);
  auto b = NewClient(even ? second.Port : first.Port);
  std::string cookie;
  int score = 0;
  for (auto _ : state) {
    if (!SubmitAcross(*a, *b, cookie, ++score & 0xFFFF, true, address)) {
      state.SkipWithError("a submission was refused or failed");
      break;
    }
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(SubmitPostgresPair)
    ->Threads(1)
    ->Threads(4)
    ->Threads(16)
    ->UseRealTime()
    ->Unit(benchmark::kMicrosecond);

// state.range(0): 0 SQLite, 1 PostgreSQL; state.range(1): the seconds the page is kept.
void WorldTable(benchmark::State& state) {
  static std::map<std::pair<int64_t, int64_t>, std::unique_ptr<TBenchScoreServer>> servers;
  static std::mutex lock;
  TBenchScoreServer* server;
  {
    std::lock_guard<std::mutex> hold(lock);
    auto& slot = servers[{state.range(0), state.range(1)}];
    if (!slot) {
      std::string where, error;
      if (state.range(0) == 1) {
        where = NewPostgresDatabase(error);
        if (where.empty()) {
          state.SkipWithError(("PostgreSQL did not start: " + error).c_str());
          return;
        }
      }
      slot = std::make_unique<TBenchScoreServer>(where, static_cast<int>(state.range(1)), false, false);
      for (int i = 0; i < 1000; ++i)
        slot->Server->Store().Insert(
            {"Player" + std::to_string(i), "Land", static_cast<uint16_t>(i * 37 % 65536), 0});
    }
    server = slot.get();
  }
  auto client = NewClient(server->Port);
  const std::string target = std::string(kScriptPath) + "?prg=Pellorin&show&type=0&format=json";
  for (auto _ : state) {
    auto page = client->Get(target.c_str());
    if (!page || page->status != 200) {
      state.SkipWithError("the table could not be read");
      break;
    }
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(WorldTable)
    ->ArgNames({"postgres", "cache"})
    ->Args({0, 1})
    ->Args({0, 0})
    ->Args({1, 1})
    ->Args({1, 0})
    ->Threads(1)
    ->Threads(16)
    ->UseRealTime()
    ->Unit(benchmark::kMicrosecond);

}  // namespace
