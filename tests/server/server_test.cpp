// pellorin-server as a program: started on a free loopback port with a database of its own, spoken to
// over HTTP the way the game speaks to it.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <ctime>
#include <fstream>
#include <functional>
#include <memory>
#include <thread>

#include "protocol/replies.h"
#include "protocol/score_record.h"
#include "server/pages.h"
#include "server/score_store.h"
#include "tests/server/server_process.h"

namespace {

class ServerTest : public ::testing::Test {
 protected:
  std::string Db() const { return Folder.Path() + "/scores.db"; }

  // A server on Db() with the key P, no rate limit and no replays taken unless args say otherwise.
  std::unique_ptr<TServerProcess> Start(std::vector<std::string> args = {}) {
    std::vector<std::string> all = {"--db", Db(), "--key", "P", "--max-per-minute", "0", "--verify-workers",
                                    "0"};
    all.insert(all.end(), args.begin(), args.end());
    auto server = std::make_unique<TServerProcess>(Folder.Path(), all);
    EXPECT_TRUE(server->Started());
    return server;
  }

  int64_t StoredCount() { return OpenScoreStore(Db(), false)->Count(); }

  TTempFolder Folder;
};

std::string WorldTablePath(const std::string& extra = "") {
  return std::string(kScriptPath) + "?prg=Pellorin&show&type=0" + extra;
}

size_t CountOf(const std::string& text, const std::string& part) {
  size_t count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

std::string Today() { return DateText(static_cast<int64_t>(std::time(nullptr))); }

TEST_F(ServerTest, GameSubmissionsShowOnTheWorldTableBestFirst) {
  auto server = Start();
  TGameClient game(server->Port());

  TReply handshake = game.Get(std::string(kScriptPath) + "?" + std::string(kHandshakeQuery));
  EXPECT_EQ(handshake.Status, 200);
  ASSERT_EQ(handshake.Body.rfind("OK|", 0), 0u) << handshake.Body;
  EXPECT_EQ(ServerTokenFromReply(handshake.Body).size(), 32u) << handshake.Body;
  EXPECT_EQ(game.Cookie.rfind("pellorin_session=", 0), 0u) << game.Cookie;

  EXPECT_EQ(game.Submit("Ann Lee", "Wales", 1234).Body, "OK");
  EXPECT_EQ(game.Submit("Bo", "", 65535).Body, "OK");
  EXPECT_EQ(game.Submit("Cy", "Norway", 1234).Body, "OK");  // equal to Ann's: placed below it
  EXPECT_EQ(game.Submit("", "", 0).Body, "OK");

  const std::string day = Today();
  TReply json = game.Get(WorldTablePath("&format=json"));
  EXPECT_EQ(json.Status, 200);
  EXPECT_EQ(json.Body,
            "{\"entries\":["
            "{\"place\":1,\"name\":\"Bo\",\"country\":\"\",\"score\":65535,\"date\":\"" +
                day +
                "\",\"verified\":false,\"status\":\"unchecked\"},"
                "{\"place\":2,\"name\":\"Ann Lee\",\"country\":\"Wales\",\"score\":1234,\"date\":\"" +
                day +
                "\",\"verified\":false,\"status\":\"unchecked\"},"
                "{\"place\":3,\"name\":\"Cy\",\"country\":\"Norway\",\"score\":1234,\"date\":\"" +
                day +
                "\",\"verified\":false,\"status\":\"unchecked\"},"
                "{\"place\":4,\"name\":\"\",\"country\":\"\",\"score\":0,\"date\":\"" +
                day + "\",\"verified\":false,\"status\":\"unchecked\"}]}\n");

  TReply html = game.Get(WorldTablePath());
  EXPECT_EQ(html.Status, 200);
  const std::string ann =
      "<tr><td class=\"n\">2</td><td>Ann Lee</td><td>Wales</td><td class=\"n\">1234</td><td>" + day;
  EXPECT_NE(html.Body.find(ann), std::string::npos) << html.Body;
  EXPECT_LT(html.Body.find(">Bo<"), html.Body.find(">Ann Lee<"));
  EXPECT_LT(html.Body.find(">Ann Lee<"), html.Body.find(">Cy<"));
  EXPECT_NE(html.Body.find("name=\"viewport\""), std::string::npos);

  TReply home = game.Get("/");
  EXPECT_EQ(home.Status, 200);
  EXPECT_NE(home.Body.find("href=\"/cgi/version.pl?prg=Pellorin&amp;show&amp;type=0\""), std::string::npos);

  // The log is written while the server runs, soon after each request.
  const std::string logged = " 127.0.0.1 \"GET /\" 200 ";
  for (int i = 0; i < 40 && server->ErrorOutput().find(logged) == std::string::npos; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_NE(server->ErrorOutput().find(logged), std::string::npos) << server->ErrorOutput();
  EXPECT_EQ(server->Stop(), 0);
  const std::string log = server->ErrorOutput();
  EXPECT_EQ(CountOf(log, " 127.0.0.1 \"GET /cgi/version.pl?version&prg=Pellorin\" 200 "), 5u) << log;
  EXPECT_EQ(CountOf(log, " 127.0.0.1 \"GET /cgi/version.pl?hs&prg=Pellorin&inf="), 4u) << log;
  EXPECT_NE(log.find("stopped; table " + Db() + " has 4 entries"), std::string::npos) << log;
}

TEST_F(ServerTest, StoredTextIsEscapedOnEveryPage) {
  {
    // Written past the server, as a damaged or hand-edited table could hold it.
    const auto store = OpenScoreStore(Db(), false);
    store->Insert({"<i>x</i>", "a&b\"'", 7, 0});
    store->Insert({"\\\"\x01", "", 6, 86400});
    // Beyond ASCII: UTF-8 (two and four bytes), and Latin-1 bytes that are not UTF-8.
    store->Insert({"Zo\xC3\xAB\xF0\x9F\x98\x80", "\xE9t\xE9", 5, 0});
  }
  auto server = Start();
  TGameClient browser(server->Port());
  std::string html = browser.Get(WorldTablePath()).Body;
  EXPECT_NE(
      html.find(
          "<td>&lt;i&gt;x&lt;/i&gt;</td><td>a&amp;b&quot;&#39;</td><td class=\"n\">7</td><td>1970-01-01"),
      std::string::npos)
      << html;
  EXPECT_EQ(html.find("<i>"), std::string::npos);
  EXPECT_NE(html.find("<td>Zo\xC3\xAB\xF0\x9F\x98\x80</td><td>\xEF\xBF\xBDt\xEF\xBF\xBD</td>"),
            std::string::npos)
      << html;
  std::string json = browser.Get(WorldTablePath("&format=json")).Body;
  EXPECT_NE(json.find("\"name\":\"<i>x</i>\",\"country\":\"a&b\\\"'\""), std::string::npos) << json;
  EXPECT_NE(json.find("\"name\":\"\\\\\\\"\\u0001\",\"country\":\"\",\"score\":6,\"date\":\"1970-01-02\""),
            std::string::npos)
      << json;
  EXPECT_NE(json.find("\"name\":\"Zo\\u00eb\\ud83d\\ude00\",\"country\":\"\\ufffdt\\ufffd\""),
            std::string::npos)
      << json;
  for (char c : json) EXPECT_LT(static_cast<unsigned char>(c), 0x80) << json;
}

TEST_F(ServerTest, RefusedRequestsStoreNothingAndTheServerGoesOn) {
  auto server = Start();
  const int port = server->Port();
  auto inf = [](const std::string& token, const std::string& name = "Ann", const std::string& score = "5",
                const std::string& key = "P") {
    std::string record =
        "type=0|name=" + name + "|score=" + score + "|key=" + key + "|p=" + token + "|add=|z=";
    record.append((5 - record.size() % 5) % 5, '0');
    return EncodeRecordText(record);
  };
  int stored = 0;

  TGameClient a(port), b(port);
  const std::string tokenA = a.Handshake();
  ASSERT_FALSE(tokenA.empty());
  b.Handshake();
  const std::string goodA = inf(tokenA);

  struct TCase {
    const char* What;
    TReply Reply;
    int Status;
  };
  std::vector<TCase> cases;
  cases.push_back({"a token from another session", b.SendInf(goodA), 403});
  EXPECT_EQ(a.SendInf(goodA).Body, "OK");  // the owner's token was not spent by b
  ++stored;
  cases.push_back({"a token used twice", a.SendInf(goodA), 403});
  cases.push_back({"a token never issued", a.SendInf(inf(std::string(32, 'a'))), 403});
  TGameClient stranger(port);
  cases.push_back({"no session cookie", stranger.SendInf(inf(a.Handshake())), 403});

  const std::string token = a.Handshake();  // good for every case below; none of them spends it
  cases.push_back({"a wrong key", a.SendInf(inf(token, "Ann", "5", "Q")), 403});
  cases.push_back({"a name with a forbidden character", a.SendInf(inf(token, "Ann-Li")), 400});
  cases.push_back({"a name of 11 characters", a.SendInf(inf(token, "Annabel Lee")), 400});
  cases.push_back({"a score of 65536", a.SendInf(inf(token, "Ann", "65536")), 400});
  cases.push_back({"a negative score", a.SendInf(inf(token, "Ann", "-1")), 400});
  const std::string good = inf(token);
  cases.push_back({"inf cut by one symbol", a.SendInf(good.substr(0, good.size() - 1)), 400});
  cases.push_back({"inf cut by eight symbols", a.SendInf(good.substr(0, good.size() - 8)), 400});
  cases.push_back({"an empty inf", a.SendInf(""), 400});
  cases.push_back({"an I among the symbols", a.SendInf("I" + good.substr(1)), 400});
  cases.push_back({"a 0 among the symbols", a.SendInf(good.substr(0, 5) + "0" + good.substr(6)), 400});
  cases.push_back({"lower-case symbols", a.SendInf("a" + good.substr(1)), 400});
  cases.push_back({"percent-encoded symbols", a.SendInf("%41" + good.substr(1)), 400});
  cases.push_back({"no inf", a.Get(std::string(kScriptPath) + "?hs&prg=Pellorin"), 400});
  cases.push_back(
      {"inf twice", a.Get(std::string(kScriptPath) + "?hs&prg=Pellorin&inf=" + good + "&inf=" + good), 400});
  cases.push_back({"hs and version at once",
                   a.Get(std::string(kScriptPath) + "?hs&version&prg=Pellorin&inf=" + good), 400});
  cases.push_back({"another program", a.Get(std::string(kScriptPath) + "?hs&prg=Other&inf=" + good), 404});
  cases.push_back({"a request line over 2 KB", a.SendInf(good + std::string(2048, 'A')), 414});
  cases.push_back({"an unknown path", a.Get("/cgi/other.pl?hs&prg=Pellorin&inf=" + good), 404});
  cases.push_back({"an unknown table", a.Get(std::string(kScriptPath) + "?prg=Pellorin&show&type=1"), 404});

  for (const TCase& c : cases) {
    EXPECT_EQ(c.Reply.Status, c.Status) << c.What << ": " << c.Reply.Body;
    EXPECT_NE(c.Reply.Body.rfind("OK", 0), 0u) << c.What;
    EXPECT_FALSE(c.Reply.Body.empty()) << c.What;
  }

  // Methods other than GET and HEAD, HEAD where GET would change something, bytes no client sends.
  const std::string resultTarget = std::string(kScriptPath) + "?hs&prg=Pellorin&inf=" + good;
  const std::string headers =
      " HTTP/1.1\r\nHost: 127.0.0.1\r\nCookie: " + a.Cookie + "\r\nConnection: close\r\n";
  struct TRawCase {
    std::string Request;
    const char* StatusLine;
  } raw[] = {
      {"POST " + resultTarget + headers + "Content-Length: 3\r\n\r\nabc", "HTTP/1.1 405 "},
      {"DELETE /" + headers + "\r\n", "HTTP/1.1 405 "},
      {"BREW " + resultTarget + headers + "\r\n", "HTTP/1.1 405 "},
      {"HEAD " + resultTarget + headers + "\r\n", "HTTP/1.1 405 "},
      {"GET " + std::string(kScriptPath) + "?hs&prg=Pellorin&inf=\x01\xFF" + headers + "\r\n",
       "HTTP/1.1 400 "},
      {"GET /" + std::string(10000, 'a') + headers + "\r\n", "HTTP/1.1 414 "},
      {"GET / HTTP/1.1 extra" + headers.substr(9) + "\r\n", "HTTP/1.1 400 "},
      {"GET / HTTP/2.0" + headers.substr(9) + "\r\n", "HTTP/1.1 505 "},
      {"garbage\r\n\r\n", ""},  // not a request line at all: closed without an answer
  };
  for (const TRawCase& r : raw) {
    std::string reply = RawRequest(port, r.Request);
    EXPECT_EQ(reply.rfind(r.StatusLine, 0), 0u) << r.Request.substr(0, 60) << "\n" << reply;
    if (*r.StatusLine == '\0') {
      EXPECT_EQ(reply, "");
    }
  }

  // The token spent by none of the refusals is still good, and the server still serves.
  EXPECT_EQ(a.SendInf(good).Body, "OK");
  ++stored;
  EXPECT_EQ(server->Stop(), 0);
  EXPECT_EQ(StoredCount(), stored);
}

TEST_F(ServerTest, ATokenExpiresAfterItsLifetime) {
  auto server = Start({"--token-lifetime", "1"});
  TGameClient game(server->Port());
  EXPECT_EQ(game.Submit("Quick", "", 10).Body, "OK");
  const std::string token = game.Handshake();
  std::this_thread::sleep_for(std::chrono::milliseconds(1100));
  TReply late = game.SendInf(EncodeRecordText(BuildScoreRecord({"Slow", 20, 'P', token, ""})));
  EXPECT_EQ(late.Status, 403);
  EXPECT_NE(late.Body.find("expired"), std::string::npos) << late.Body;
  EXPECT_EQ(server->Stop(), 0);
  EXPECT_EQ(StoredCount(), 1);
}

TEST_F(ServerTest, EveryAnsweredResultOutlivesARestartOrAKill) {
  auto server = Start();
  {
    TGameClient game(server->Port());
    for (int i = 0; i < 5; ++i) EXPECT_EQ(game.Submit("Run one", "", 100 + i).Body, "OK");
  }
  EXPECT_EQ(server->Stop(), 0);

  server = Start();
  TGameClient game(server->Port());
  EXPECT_EQ(CountOf(game.Get(WorldTablePath("&format=json")).Body, "\"name\":\"Run one\""), 5u);
  EXPECT_NE(server->ErrorOutput().find("with 5 entries"), std::string::npos) << server->ErrorOutput();
  EXPECT_EQ(game.Submit("Run two", "", 7).Body, "OK");
  server.reset();  // SIGKILL: no chance to close the table
  EXPECT_EQ(StoredCount(), 6);
}

TEST_F(ServerTest, SixteenClientsAtOnceLoseNoResult) {
  auto server = Start();
  constexpr int kClients = 16;
  constexpr int kEach = 50;
  std::atomic<int> ok{0};
  std::vector<std::thread> clients;
  for (int c = 0; c < kClients; ++c) {
    clients.emplace_back([&, c] {
      TGameClient game(server->Port());
      for (int i = 0; i < kEach; ++i)
        if (game.Submit("Client " + std::to_string(c), "", c * 1000 + i).Body == "OK") ++ok;
    });
  }
  for (std::thread& t : clients) t.join();
  EXPECT_EQ(ok.load(), kClients * kEach);
  EXPECT_EQ(server->Stop(), 0);
  EXPECT_EQ(StoredCount(), ok.load());
}

TEST_F(ServerTest, EachClientAddressHasItsOwnLimitAMinute) {
  auto server = Start({"--max-per-minute", "3", "--trust-proxy"});
  TGameClient first(server->Port()), second(server->Port());
  // The proxy appends the address it saw; whatever the client wrote before it changes nothing.
  for (int i = 0; i < 3; ++i) {
    first.ForwardedFor =
        "203.0.113." + std::to_string(i) + ", 10.0.0." + std::to_string(i) + ", 198.51.100.7";
    EXPECT_EQ(first.Submit("First", "", i).Body, "OK");
  }
  first.ForwardedFor = "192.0.2.99, 198.51.100.7";
  TReply refused = first.Submit("First", "", 99);
  EXPECT_EQ(refused.Status, 429) << refused.Body;
  EXPECT_EQ(first.Handshake(), "");
  second.ForwardedFor = "203.0.113.0, 198.51.100.8";  // the first's forged entry, another proxy entry
  EXPECT_EQ(second.Submit("Second", "", 1).Body, "OK");
  EXPECT_EQ(server->Stop(), 0);
  EXPECT_EQ(StoredCount(), 4);
  EXPECT_NE(server->ErrorOutput().find(" 198.51.100.7 \"GET /cgi/version.pl?hs&"), std::string::npos);
}

TEST_F(ServerTest, AServerWithAnotherKeyTakesThatLetterOnly) {
  auto server = Start({"--key", "K"});
  TGameClient game(server->Port());
  EXPECT_EQ(game.Submit("Kay", "", 10, 'K').Body, "OK");
  TReply builtIn = game.Submit("Pea", "", 20, 'P');
  EXPECT_EQ(builtIn.Status, 403);
  EXPECT_NE(builtIn.Body.find("wrong key"), std::string::npos) << builtIn.Body;
  EXPECT_EQ(server->Stop(), 0);
  EXPECT_EQ(StoredCount(), 1);
}

// Connections that hold the server, or try to make it hold more than a request, each from an address of
// its own: each gets a refusal (or, sending nothing, is closed), the connection really closes, nothing is
// stored, and the server goes on serving, and stops promptly with such clients still connected.
TEST_F(ServerTest, HostileConnectionsAreRefusedAndClosedWhileTheServerGoesOn) {
  using namespace std::chrono_literals;
  auto server = Start({"--idle-timeout", "3", "--request-timeout", "4", "--max-headers", "20",
                       "--max-header-bytes", "4096", "--max-connections-per-address", "4"});
  const int port = server->Port();
  const std::string header = "Host: 127.0.0.1\r\nUser-Agent: test\r\n";
  auto fields = [](int count) {
    std::string text;
    for (int i = 0; i < count; ++i) text += "X-Field-" + std::to_string(i) + ": 1\r\n";
    return text;
  };
  auto sends = [](std::string bytes) { return [bytes](TRawConnection& c) { c.Send(bytes); }; };
  struct TCase {
    const char* What;
    std::function<void(TRawConnection&)> Act;
    const char* StatusLine;            // the refusal; "" for a close with no reply
    const char* Says;                  // in the reply
    std::chrono::seconds Within = 2s;  // the connection is closed by then (before it could idle out)
  };
  const std::vector<TCase> cases = {
      {"a header that trickles in a byte at a time",
       [](TRawConnection& c) {
         c.Send("GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Slow: ");
         for (int i = 0; i < 80 && c.Poll(); ++i) {
           c.Send("a");
           std::this_thread::sleep_for(100ms);
         }
       },
       "HTTP/1.1 408 ", "not whole within 4 s", 8s},
      {"a connection that sends nothing", [](TRawConnection&) {}, "", "", 6s},
      {"half a request line, then nothing", sends("GET /cgi/vers"), "", "", 6s},
      {"a request line of 1 MB",
       sends("GET /" + std::string(1 << 20, 'a') + " HTTP/1.1\r\n" + header + "\r\n"), "HTTP/1.1 414 ", ""},
      {"a request line over 2 KB",
       sends("GET /" + std::string(3000, 'a') + " HTTP/1.1\r\n" + header + "\r\n"), "HTTP/1.1 414 ",
       "longer than 2048 bytes"},
      {"21 header fields", sends("GET / HTTP/1.1\r\n" + fields(19) + header + "\r\n"), "HTTP/1.1 431 ",
       "more than 20 header fields"},
      {"10,000 header fields", sends("GET / HTTP/1.1\r\n" + header + fields(10000) + "\r\n"), "HTTP/1.1 431 ",
       ""},
      {"a header field of 5,000 bytes",
       sends("GET / HTTP/1.1\r\n" + header + "X-Big: " + std::string(5000, 'b') + "\r\n\r\n"),
       "HTTP/1.1 431 ", "longer than 4096 bytes"},
      {"an unknown method", sends("BREW / HTTP/1.1\r\n" + header + "\r\n"), "HTTP/1.1 405 ", "only GET"},
      {"a POST whose body never comes",
       sends("POST /cgi/version.pl?version&prg=Pellorin HTTP/1.1\r\n" + header +
             "Content-Length: 100000\r\n\r\nab"),
       "HTTP/1.1 405 ", "only GET"},
  };
  std::vector<std::unique_ptr<TRawConnection>> connections;
  std::vector<std::thread> clients;
  for (size_t i = 0; i < cases.size(); ++i) {
    connections.push_back(std::make_unique<TRawConnection>(port, "127.0.1." + std::to_string(i + 1)));
    // The connection itself, not its place in the vector, which moves as the vector grows.
    clients.emplace_back([&, i, connection = connections.back().get()] {
      const auto start = std::chrono::steady_clock::now();
      cases[i].Act(*connection);
      connection->ReadUntilClosed(std::chrono::duration_cast<std::chrono::milliseconds>(
          start + cases[i].Within - std::chrono::steady_clock::now()));
    });
  }
  // Past the limit of connections from one address, one more is closed at once, without a word. (The
  // server's threads take the five from the queue in any order: which one is not said.)
  std::vector<std::unique_ptr<TRawConnection>> crowd;
  for (int i = 0; i < 5; ++i) crowd.push_back(std::make_unique<TRawConnection>(port, "127.0.2.1"));
  std::this_thread::sleep_for(500ms);
  int crowdClosed = 0;
  for (auto& c : crowd) {
    crowdClosed += !c->Poll();
    EXPECT_EQ(c->Received, "");
  }
  EXPECT_EQ(crowdClosed, 1);
  for (std::thread& t : clients) t.join();

  for (size_t i = 0; i < cases.size(); ++i) {
    const TRawConnection& c = *connections[i];
    EXPECT_TRUE(c.Connected()) << cases[i].What;
    EXPECT_TRUE(c.Closed) << cases[i].What << ": the server kept the connection";
    EXPECT_EQ(c.Received.rfind(cases[i].StatusLine, 0), 0u) << cases[i].What << ":\n"
                                                            << c.Received.substr(0, 300);
    if (*cases[i].StatusLine == '\0') {
      EXPECT_EQ(c.Received, "") << cases[i].What;
    }
    EXPECT_NE(c.Received.find(cases[i].Says), std::string::npos) << cases[i].What << ":\n" << c.Received;
  }

  TGameClient game(port, "127.0.3.1");
  EXPECT_EQ(game.Submit("Still", "", 1).Body, "OK");
  // A stop with slow and silent clients connected.
  TRawConnection silent(port, "127.0.3.2"), slow(port, "127.0.3.3");
  slow.Send("GET / HTTP/1.1\r\nHo");
  const auto stopAsked = std::chrono::steady_clock::now();
  EXPECT_EQ(server->Stop(), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - stopAsked, 5s);
  EXPECT_EQ(StoredCount(), 1);
  const std::string log = server->ErrorOutput();
  EXPECT_NE(log.find(" 127.0.1.1 \"-\" 408 "), std::string::npos) << log;
  EXPECT_NE(log.find(" 127.0.1.6 \"GET /\" 431 "), std::string::npos) << log;
}

// Past --max-connections a new connection is closed at once, without an answer, however many more the
// process's files would allow; once one of those open closes, the next is served.
TEST_F(ServerTest, TheConnectionPastTheLimitIsClosedAtOnceAndTheNextServedOnceOneCloses) {
  using namespace std::chrono_literals;
  auto server = Start({"--max-connections", "4", "--max-connections-per-address", "0"});
  const int port = server->Port();
  const std::string request = "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
  // Sends the request on c and reads until its answer's status line has come, for up to wait.
  auto answered = [&request](TRawConnection& c, std::chrono::milliseconds wait) {
    c.Received.clear();
    if (!c.Send(request)) return false;
    const auto end = std::chrono::steady_clock::now() + wait;
    while (c.Received.find("\r\n\r\n") == std::string::npos && std::chrono::steady_clock::now() < end &&
           c.Poll())
      std::this_thread::sleep_for(10ms);
    return c.Received.rfind("HTTP/1.1 200 ", 0) == 0;
  };
  std::vector<std::unique_ptr<TRawConnection>> open;
  for (int i = 0; i < 4; ++i) {
    open.push_back(std::make_unique<TRawConnection>(port));
    ASSERT_TRUE(answered(*open.back(), 2s)) << "connection " << i + 1 << ": " << open.back()->Received;
  }

  TRawConnection fifth(port);
  ASSERT_TRUE(fifth.Connected());
  fifth.Send(request);
  const auto connected = std::chrono::steady_clock::now();
  EXPECT_TRUE(fifth.ReadUntilClosed(1s)) << "the connection past the limit is still open";
  EXPECT_LT(std::chrono::steady_clock::now() - connected, 1s);
  EXPECT_EQ(fifth.Received, "");
  for (auto& c : open) EXPECT_TRUE(c->Poll()) << "an open connection was closed";

  open.erase(open.begin());
  bool served = false;
  const auto closed = std::chrono::steady_clock::now();
  while (!served && std::chrono::steady_clock::now() - closed < 2s) {
    TRawConnection next(port);
    served = answered(next, 500ms);
  }
  EXPECT_TRUE(served) << "no connection was served after one of the four closed";
  for (auto& c : open) EXPECT_TRUE(answered(*c, 2s)) << c->Received;
}

TEST_F(ServerTest, AClientThatHalfClosesAfterItsRequestGetsItsAnswer) {
  auto server = Start({"--idle-timeout", "1"});
  TGameClient game(server->Port());
  const std::string token = game.Handshake();
  ASSERT_FALSE(token.empty());
  TRawConnection raw(server->Port());
  raw.Send("GET " + std::string(kScriptPath) + "?" + BuildResultQuery("Half", "", 77, 'P', token) +
           " HTTP/1.1\r\nHost: 127.0.0.1\r\nCookie: " + game.Cookie + "\r\n\r\n");
  raw.ShutdownWrite();
  EXPECT_TRUE(raw.ReadUntilClosed(std::chrono::seconds(5)));
  EXPECT_EQ(raw.Received.rfind("HTTP/1.1 200 ", 0), 0u) << raw.Received;
  EXPECT_EQ(raw.Received.rfind("\r\n\r\nOK"), raw.Received.size() - 6) << raw.Received;
  EXPECT_EQ(server->Stop(), 0);
  EXPECT_EQ(StoredCount(), 1);
}

// Handshakes from many addresses, far more than the book holds: every one is answered, the tokens that
// go are those of the addresses holding most, so an early player's token lives on, and a newcomer's
// submission goes through.
TEST_F(ServerTest, ATokenFloodFromManyAddressesLocksNoOneOut) {
  auto server = Start({"--max-tokens", "30", "--max-tokens-per-address", "3", "--max-per-minute", "10"});
  const int port = server->Port();
  TGameClient early(port);
  const std::string earlyToken = early.Handshake();
  ASSERT_FALSE(earlyToken.empty());

  // 20 addresses ask for 5 tokens each, and could keep 3 each: twice what the book holds.
  constexpr int kAddresses = 20, kEach = 5, kThreads = 4;
  std::atomic<int> issued{0};
  std::vector<std::thread> flood;
  for (int t = 0; t < kThreads; ++t) {
    flood.emplace_back([&, t] {
      for (int a = t; a < kAddresses; a += kThreads) {
        TGameClient client(port, "127.0.4." + std::to_string(a + 1));
        for (int i = 0; i < kEach; ++i)
          if (!client.Handshake().empty()) ++issued;
      }
    });
  }
  for (std::thread& t : flood) t.join();
  EXPECT_EQ(issued.load(), kAddresses * kEach);

  EXPECT_EQ(early.SendInf(EncodeRecordText(BuildScoreRecord({"Early", 5, 'P', earlyToken, ""}))).Body, "OK");
  TGameClient newcomer(port, "127.0.5.1");
  EXPECT_EQ(newcomer.Submit("New", "", 6).Body, "OK");
  EXPECT_EQ(server->Stop(), 0);
  EXPECT_EQ(StoredCount(), 2);
}

TEST_F(ServerTest, CommandLineAndDatabaseFailuresStopWithAMessage) {
  std::string output;
  EXPECT_EQ(RunProgram({PELLORIN_SERVER_PROGRAM, "--help"}, output), 0);
  EXPECT_NE(output.find("--max-per-minute"), std::string::npos) << output;
  EXPECT_EQ(RunProgram({PELLORIN_SERVER_PROGRAM, "--key", "p"}, output), 2);
  EXPECT_NE(output.find("--key"), std::string::npos) << output;
  EXPECT_EQ(RunProgram({PELLORIN_SERVER_PROGRAM, "--version"}, output), 0);
  EXPECT_EQ(output, "pellorin-server " PELLORIN_VERSION "\n");
  EXPECT_EQ(RunProgram({PELLORIN_SERVER_PROGRAM, "--bogus"}, output), 2);
  EXPECT_EQ(output, "pellorin-server: unknown option --bogus (see --help)\n");

  const std::string missing = Folder.Path() + "/no/such/folder/scores.db";
  EXPECT_EQ(RunProgram({PELLORIN_SERVER_PROGRAM, "--listen", "127.0.0.1:0", "--db", missing}, output), 1);
  EXPECT_NE(output.find(missing), std::string::npos) << output;

  std::ofstream(Db()) << "this is not a database, but it is long enough to have a header of one...........";
  EXPECT_EQ(RunProgram({PELLORIN_SERVER_PROGRAM, "--listen", "127.0.0.1:0", "--db", Db()}, output), 1);
  EXPECT_NE(output.find(Db()), std::string::npos) << output;

  // A port in use is refused, never shared, and the server on it goes on.
  {
    TServerProcess first(Folder.Path(), {"--db", Folder.Path() + "/first.db"});
    ASSERT_TRUE(first.Started());
    const std::string taken = "127.0.0.1:" + std::to_string(first.Port());
    EXPECT_EQ(RunProgram({"timeout", "10", PELLORIN_SERVER_PROGRAM, "--listen", taken, "--db",
                          Folder.Path() + "/second.db"},
                         output),
              1);
    EXPECT_NE(output.find("cannot listen on " + taken + ": Address already in use"), std::string::npos)
        << output;
    EXPECT_EQ(TGameClient(first.Port()).Get("/").Status, 200);
    EXPECT_EQ(first.Stop(), 0);
  }

  // Without --db the table is made in the current folder. The log counts its entries in words that
  // fit the count.
  TServerProcess server(Folder.Path(), {});
  ASSERT_TRUE(server.Started());
  EXPECT_EQ(TGameClient(server.Port()).Submit("One", "", 1).Body, "OK");
  EXPECT_EQ(server.Stop(), 0);
  EXPECT_NE(server.ErrorOutput().find(" with 0 entries\n"), std::string::npos) << server.ErrorOutput();
  EXPECT_NE(server.ErrorOutput().find(" has 1 entry\n"), std::string::npos) << server.ErrorOutput();
  EXPECT_TRUE(std::ifstream(Folder.Path() + "/pellorin-scores.db").good());
}

}  // namespace
