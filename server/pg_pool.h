// A pool of PostgreSQL connections to one database, opened as requests need them and at most a given
// number at once, and the pieces of a statement: its parameters and the fields of its result. A
// connection found broken, or left in a transaction by a failure, is closed and opened anew for the next
// request. Used by the PostgreSQL store and its admission; each object owns its pool.
//
// No wait on the database is longer than its time-out: a connection is made within the connect time-out
// and a statement answered within the statement time-out (which the database enforces too), or the
// request fails; the connection that did not answer is closed, its statement cancelled, and the pool
// remembers for a moment that the database does not answer, so that the requests meanwhile fail at once
// rather than each waiting for its own time-out (one request at a time tries again). StopWaiting, for a
// stop, ends every wait within a moment.
#pragma once

#include <libpq-fe.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

struct TResultFree {
  void operator()(PGresult* result) const { PQclear(result); }
};
using TResult = std::unique_ptr<PGresult, TResultFree>;

// One parameter of a statement: text, or bytes sent as they are.
struct TParam {
  std::string Value;
  bool Binary = false;
  bool Null = false;
};
inline TParam Text(const std::string& value) { return {value, false, false}; }
inline TParam Number(int64_t value) { return {std::to_string(value), false, false}; }
inline TParam Bytes(const std::string& value) { return {value, true, false}; }
inline TParam Null() { return {{}, false, true}; }

std::string Field(const PGresult* result, int row, int column);
int64_t NumberField(const PGresult* result, int row, int column);
std::string BytesField(const PGresult* result, int row, int column);  // a bytea field's bytes

class TPgPool {
 public:
  using TClock = std::chrono::steady_clock;

  // At most connections (at least 1) to uri at once; none is opened yet. connectSeconds: how long a new
  // connection may take; statementSeconds: how long one statement may.
  TPgPool(const std::string& uri, int connections, int connectSeconds = 2, int statementSeconds = 5);
  ~TPgPool();
  TPgPool(const TPgPool&) = delete;
  TPgPool& operator=(const TPgPool&) = delete;

  // The database's name as it may be shown (no password).
  const std::string& Name() const { return ShownName; }
  // Every wait, those under way and those to come, ends within milliseconds (EStoreError).
  void StopWaiting(int milliseconds);

 private:
  friend class TPgConnection;
  // An idle connection, or a new one; waits while all are in use, up to the statement time-out. Throws
  // EStoreError, at once while the database is known not to answer.
  PGconn* Acquire();
  void Release(PGconn* connection);
  PGconn* Connect();
  // Waits for the answer to what was sent on connection (sent: whether the send itself went): the first
  // failed result, else the last. A connection that does not answer in time (or by a stop) has its
  // statement cancelled and is closed (connection becomes null); throws EStoreError then.
  TResult Exchange(PGconn*& connection, const char* what, bool sent);
  // Waits until fd is ready for events or until (or a stop) passes; false when it did not get ready.
  bool WaitSocket(int fd, short events, TClock::time_point until) const;
  // The time by which a wait that starts now must end: its own limit, or sooner on a stop.
  TClock::time_point Deadline(TClock::duration limit) const;
  // Whether a stop's end has passed.
  bool Stopped() const { return TClock::now() >= TClock::time_point{TClock::duration(StopAt.load())}; }
  // The database did not answer (a time-out, a connection lost or refused): remembered for a moment.
  void NoteDown();
  void NoteUp();

  const std::string Uri;
  const std::string ShownName;
  const size_t MaxConnections;
  const std::chrono::seconds ConnectTimeout;
  const std::chrono::seconds StatementTimeout;
  std::mutex Lock;
  std::condition_variable Returned;
  std::vector<PGconn*> Idle;
  size_t Open = 0;  // connections made and not closed, idle or in use
  // Under Lock: the database did not answer the last try; until DownUntil every request fails at once,
  // after it one request at a time (Probing) tries again.
  bool Down = false;
  TClock::time_point DownUntil{};
  bool Probing = false;
  std::atomic<TClock::rep> StopAt{TClock::time_point::max().time_since_epoch().count()};
};

// A connection of the pool for one request; it goes back to the pool when done, or is closed when it
// broke meanwhile.
class TPgConnection {
 public:
  explicit TPgConnection(TPgPool& pool) : Pool(pool), Connection(pool.Acquire()) {}
  ~TPgConnection() { Pool.Release(Connection); }
  TPgConnection(const TPgConnection&) = delete;
  TPgConnection& operator=(const TPgConnection&) = delete;

  // Runs one statement; throws EStoreError saying what failed. what: "cannot WHAT the database".
  TResult Run(const char* what, const char* sql, const std::vector<TParam>& params = {});
  // Runs sql of several statements, without parameters.
  void RunScript(const char* what, const char* sql);

 private:
  TResult Check(const char* what, TResult result);

  TPgPool& Pool;
  PGconn* Connection;
};
