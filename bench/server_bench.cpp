// Whole world high-score submissions over loopback, each the handshake and the result as the game
// sends them, from N client threads at once. Submit runs against pellorin-server's own handlers, token
// book and SQLite table (a fresh file, the request log going to /dev/null); Submit_Peer sends the same
// two requests to a cpp-httplib server in the same process whose handler only answers "OK", which is
// the floor the HTTP library itself sets. Both servers have the same thread pool, accept queue and
// socket settings.
#include <benchmark/benchmark.h>
#include <httplib.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>

#include "online/score_record.h"
#include "server/http_server.h"
#include "server/score_server.h"

namespace {

constexpr int kServerThreads = 16;

const std::string kHandshakeTarget = std::string(kScriptPath) + "?" + std::string(kHandshakeQuery);

class TBenchScoreServer {
 public:
  TBenchScoreServer() {
    std::string pattern = (std::filesystem::temp_directory_path() / "pellorin-bench.XXXXXX").string();
    Folder = mkdtemp(pattern.data()) ? pattern : std::string();
    Log = std::fopen("/dev/null", "w");
    TServerOptions options;
    options.Port = 0;
    options.DatabasePath = Folder + "/scores.db";
    options.MaxPerMinute = 0;
    options.Threads = kServerThreads;
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

class TBenchPeerServer {
 public:
  TBenchPeerServer() {
    Http.new_task_queue = [] { return new httplib::ThreadPool(kServerThreads); };
    Http.set_tcp_nodelay(true);
    Http.Get(std::string(kScriptPath), [](const httplib::Request&, httplib::Response& res) {
      res.set_content("OK", "text/plain; charset=utf-8");
    });
    Port = Http.bind_to_any_port("127.0.0.1");
    Http.WidenBacklog();
    Runner = std::thread([this] { Http.listen_after_bind(); });
    while (!Http.is_running()) std::this_thread::yield();
  }
  ~TBenchPeerServer() {
    Http.stop();
    Runner.join();
  }
  int Port = 0;

 private:
  THttpServer Http;
  std::thread Runner;
};

// One submission as the game makes it: the handshake keeps the session cookie and gives the token.
bool SubmitOnce(httplib::Client& client, std::string& cookie, int score) {
  httplib::Headers headers = {{"Accept", "text/html, */*"}};
  if (!cookie.empty()) headers.emplace("Cookie", cookie);
  auto handshake = client.Get(kHandshakeTarget.c_str(), headers);
  if (!handshake || handshake->status != 200 || handshake->body.rfind("OK", 0) != 0) return false;
  std::string setCookie = handshake->get_header_value("Set-Cookie");
  if (!setCookie.empty()) {
    cookie = setCookie.substr(0, setCookie.find(';'));
    headers.erase("Cookie");
    headers.emplace("Cookie", cookie);
  }
  std::string target = std::string(kScriptPath) + "?" +
                       BuildResultQuery("Bench", "Loopback", static_cast<uint16_t>(score),
                                        TServerOptions().Key, ServerTokenFromReply(handshake->body));
  auto result = client.Get(target.c_str(), headers);
  return result && result->status == 200 && result->body.rfind("OK", 0) == 0;
}

void RunSubmissions(benchmark::State& state, int port) {
  httplib::Client client("127.0.0.1", port);
  client.set_keep_alive(true);
  client.set_tcp_nodelay(true);
  std::string cookie;
  int score = 0;
  for (auto _ : state) {
    if (!SubmitOnce(client, cookie, ++score & 0xFFFF)) {
      state.SkipWithError("a submission was refused or failed");
      break;
    }
  }
  state.SetItemsProcessed(state.iterations());
}

void Submit(benchmark::State& state) {
  static TBenchScoreServer server;
  RunSubmissions(state, server.Port);
}
BENCHMARK(Submit)->Threads(1)->Threads(4)->Threads(16)->UseRealTime()->Unit(benchmark::kMicrosecond);

void Submit_Peer(benchmark::State& state) {
  static TBenchPeerServer server;
  RunSubmissions(state, server.Port);
}
BENCHMARK(Submit_Peer)->Threads(1)->Threads(4)->Threads(16)->UseRealTime()->Unit(benchmark::kMicrosecond);

}  // namespace
