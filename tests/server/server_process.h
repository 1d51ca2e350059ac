// The real pellorin-server as the tests run it: a child process in a folder of its own, on a free
// loopback port, its standard error kept; and a client that talks to it the way the game does (the
// handshake, its cookie and token, then the result).
#pragma once

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace httplib {
class Client;
}

// The options a server needs to check replays with PELLORIN_GAME_PROGRAM: the program, and in a
// build with AddressSanitizer (whose program reserves far more address space than any limit) no memory
// limit.
std::vector<std::string> GameVerifierArgs(const std::string& program);

// A fresh empty folder, removed with everything in it at the end.
class TTempFolder {
 public:
  TTempFolder();
  ~TTempFolder();
  const std::string& Path() const { return Folder; }

 private:
  std::string Folder;
};

class TServerProcess {
 public:
  // Starts the server in folder with args (a --listen on port 0 of 127.0.0.1 comes first), and waits
  // until it says where it listens. Fails the test when it does not. listens false: a server with
  // --verify-only, waited for until it says it checks replays.
  TServerProcess(const std::string& folder, const std::vector<std::string>& args, bool listens = true);
  ~TServerProcess();  // kills a server still running

  int Port() const { return ListenPort; }
  bool Started() const { return ListenPort > 0; }
  // SIGTERM, then the exit status (-1 when it did not exit normally).
  int Stop();
  // SIGKILL, as a machine that dies would stop it; waits until it is gone.
  void Kill();
  pid_t Pid() const { return Child; }
  // Everything the server wrote to standard error so far.
  std::string ErrorOutput();

 private:
  void ReadErrors(int fd);

  pid_t Child = -1;
  int ListenPort = 0;
  std::mutex Lock;
  std::condition_variable Changed;
  std::string Errors;
  bool ErrorsClosed = false;
  std::thread Reader;
};

// Runs a program to its end; returns its exit status and puts its standard output and error in output.
int RunProgram(const std::vector<std::string>& args, std::string& output);

struct TReply {
  int Status = 0;  // 0: no reply
  std::string Body;
};

class TGameClient {
 public:
  // source: the loopback address the client's connections come from (127.0.0.0/8 all reach the server).
  explicit TGameClient(int port, const std::string& source = "127.0.0.1");
  ~TGameClient();

  // GET of path and query as given, with the session cookie once there is one.
  TReply Get(const std::string& target);
  // POST of body as application/octet-stream, with the session cookie once there is one.
  TReply Post(const std::string& target, const std::string& body);
  // The handshake; keeps the session cookie the server sets. Returns the reply's token as the game
  // reads it, empty when the reply does not begin with "OK".
  std::string Handshake();
  // The result request for an inf value.
  TReply SendInf(const std::string& inf);
  // A whole submission as the game makes it: handshake, then the result with the token, and after it
  // after (such as a challenge: kChallengeParameter and its id).
  TReply Submit(const std::string& name, const std::string& country, int score, char key = 'P',
                const std::string& after = "");

  std::string Cookie;        // "pellorin_session=..." or empty
  std::string ForwardedFor;  // sent as X-Forwarded-For when set, as a reverse proxy would

 private:
  std::unique_ptr<httplib::Client> Http;
};

// The encoded record text, for records the game could not build (BuildScoreRecord's output, or any).
std::string EncodeRecordText(const std::string& record);
// A raw request on a new connection; returns the first response, or what came back before the server
// closed or 2 s passed.
std::string RawRequest(int port, const std::string& bytes);

// A connection spoken to byte by byte, for what no HTTP client sends: a header that trickles in, a
// request followed by a half close, a silence.
class TRawConnection {
 public:
  TRawConnection(int port, const std::string& source = "127.0.0.1");
  ~TRawConnection();
  TRawConnection(const TRawConnection&) = delete;
  TRawConnection& operator=(const TRawConnection&) = delete;

  bool Connected() const { return Fd >= 0; }
  // False once the server no longer takes bytes.
  bool Send(const std::string& bytes);
  void ShutdownWrite();
  // Reads what has come without waiting; true while the server has not closed.
  bool Poll();
  // Reads until the server closes or wait passes; true when it closed.
  bool ReadUntilClosed(std::chrono::milliseconds wait);

  std::string Received;
  bool Closed = false;  // the server ended the connection (an end of stream or a reset)

 private:
  bool Read(int timeoutMs);
  int Fd = -1;
};
