// A pool of PostgreSQL connections to one database, opened as requests need them and at most a given
// number at once, and the pieces of a statement: its parameters and the fields of its result. A
// connection found broken, or left in a transaction by a failure, is closed and opened anew for the next
// request. Used by the PostgreSQL store and its admission; each object owns its pool.
#pragma once

#include <libpq-fe.h>

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
  // At most connections (at least 1) to uri at once; none is opened yet.
  TPgPool(const std::string& uri, int connections);
  ~TPgPool();
  TPgPool(const TPgPool&) = delete;
  TPgPool& operator=(const TPgPool&) = delete;

  // The database's name as it may be shown (no password).
  const std::string& Name() const { return ShownName; }

 private:
  friend class TPgConnection;
  // An idle connection, or a new one; waits while all are in use. Throws EStoreError.
  PGconn* Acquire();
  void Release(PGconn* connection);

  const std::string Uri;
  const std::string ShownName;
  const size_t MaxConnections;
  std::mutex Lock;
  std::condition_variable Returned;
  std::vector<PGconn*> Idle;
  size_t Open = 0;  // connections made and not closed, idle or in use
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
