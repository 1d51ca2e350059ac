#include "server/pg_pool.h"

#include <poll.h>

#include <algorithm>
#include <cstdlib>
#include <thread>

#include "server/score_store.h"

namespace {

using TClock = TPgPool::TClock;

// How long a failure to answer is remembered: meanwhile requests fail at once.
constexpr auto kRememberDown = std::chrono::seconds(1);
// The longest a wait sleeps before it looks again whether a stop moved its end nearer.
constexpr auto kLookAgain = std::chrono::milliseconds(50);

// The first line of libpq's message.
std::string MessageOf(const char* message) {
  std::string text = message != nullptr ? message : "";
  size_t end = text.find('\n');
  return end == std::string::npos ? text : text.substr(0, end);
}

// Asks the database to cancel what connection runs, without waiting for it: a database that does not
// answer would hold the asker as long as it does not.
void CancelInBackground(PGconn* connection) {
  PGcancel* cancel = PQgetCancel(connection);
  if (cancel == nullptr) return;
  std::thread([cancel] {
    char error[256];
    PQcancel(cancel, error, sizeof error);
    PQfreeCancel(cancel);
  }).detach();
}

}  // namespace

std::string Field(const PGresult* result, int row, int column) {
  return std::string(PQgetvalue(result, row, column), static_cast<size_t>(PQgetlength(result, row, column)));
}

int64_t NumberField(const PGresult* result, int row, int column) {
  return std::strtoll(PQgetvalue(result, row, column), nullptr, 10);
}

std::string BytesField(const PGresult* result, int row, int column) {
  size_t length = 0;
  unsigned char* bytes =
      PQunescapeBytea(reinterpret_cast<const unsigned char*>(PQgetvalue(result, row, column)), &length);
  if (bytes == nullptr) return {};
  std::string data(reinterpret_cast<const char*>(bytes), length);
  PQfreemem(bytes);
  return data;
}

TPgPool::TPgPool(const std::string& uri, int connections, int connectSeconds, int statementSeconds)
    : Uri(uri),
      ShownName(ShownStoreName(uri)),
      MaxConnections(connections > 0 ? static_cast<size_t>(connections) : 1),
      ConnectTimeout(std::max(connectSeconds, 1)),
      StatementTimeout(std::max(statementSeconds, 1)) {}

TPgPool::~TPgPool() {
  for (PGconn* c : Idle) PQfinish(c);
}

void TPgPool::StopWaiting(int milliseconds) {
  const TClock::rep at = (TClock::now() + std::chrono::milliseconds(milliseconds)).time_since_epoch().count();
  TClock::rep now = StopAt.load();
  while (at < now && !StopAt.compare_exchange_weak(now, at)) {
  }
  std::lock_guard<std::mutex> hold(Lock);
  Returned.notify_all();
}

TClock::time_point TPgPool::Deadline(TClock::duration limit) const {
  const TClock::time_point stop{TClock::duration(StopAt.load())};
  return std::min(TClock::now() + limit, stop);
}

void TPgPool::NoteDown() {
  std::lock_guard<std::mutex> hold(Lock);
  Down = true;
  DownUntil = TClock::now() + kRememberDown;
  Probing = false;
  Returned.notify_all();
}

void TPgPool::NoteUp() {
  std::lock_guard<std::mutex> hold(Lock);
  Down = false;
  Probing = false;
}

bool TPgPool::WaitSocket(int fd, short events, TClock::time_point until) const {
  for (;;) {
    const TClock::time_point end = std::min(until, TClock::time_point{TClock::duration(StopAt.load())});
    const TClock::time_point now = TClock::now();
    if (now >= end) return false;
    const auto slice = std::min<TClock::duration>(end - now, kLookAgain);
    pollfd wanted{fd, events, 0};
    const int ready =
        poll(&wanted, 1, static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(slice).count()));
    if (ready > 0) return true;
  }
}

PGconn* TPgPool::Acquire() {
  std::unique_lock<std::mutex> hold(Lock);
  const TClock::time_point until = Deadline(StatementTimeout);
  for (;;) {
    const TClock::time_point now = TClock::now();
    if (Stopped())
      throw EStoreError("%s: cannot use the database: the server is stopping", ShownName.c_str());
    if (Down && (now < DownUntil || Probing))
      throw EStoreError("%s: cannot use the database: it did not answer a moment ago", ShownName.c_str());
    if (!Idle.empty() || Open < MaxConnections) break;
    if (now >= until)
      throw EStoreError("%s: cannot use the database: every connection stayed busy for %lld s",
                        ShownName.c_str(), static_cast<long long>(StatementTimeout.count()));
    Returned.wait_for(hold, kLookAgain);
  }
  // After a failure, this request alone tries the database again; the others fail at once meanwhile.
  if (Down) Probing = true;
  if (!Idle.empty()) {
    PGconn* c = Idle.back();
    Idle.pop_back();
    return c;
  }
  ++Open;
  hold.unlock();
  try {
    return Connect();
  } catch (...) {
    hold.lock();
    --Open;
    Returned.notify_one();
    throw;
  }
}

PGconn* TPgPool::Connect() {
  const TClock::time_point until = Deadline(ConnectTimeout);
  const std::string connectSeconds = std::to_string(ConnectTimeout.count());
  // TCP keepalives find a connection to a machine gone away; the URI's own settings come after ours and
  // win.
  const char* const keys[] = {
      "connect_timeout", "keepalives", "keepalives_idle", "keepalives_interval", "keepalives_count",
      "dbname",          nullptr};
  const char* const values[] = {connectSeconds.c_str(), "1", "10", "5", "3", Uri.c_str(), nullptr};
  PGconn* c = PQconnectStartParams(keys, values, 1);
  auto fail = [&](const std::string& why) {
    PQfinish(c);
    NoteDown();
    return EStoreError("%s: cannot connect to the database: %s", ShownName.c_str(), why.c_str());
  };
  if (c == nullptr) throw EStoreError("%s: cannot connect to the database: out of memory", ShownName.c_str());
  PostgresPollingStatusType state = PGRES_POLLING_WRITING;
  if (PQstatus(c) == CONNECTION_BAD) state = PGRES_POLLING_FAILED;
  while (state != PGRES_POLLING_OK) {
    if (state == PGRES_POLLING_FAILED) throw fail(MessageOf(PQerrorMessage(c)));
    if (!WaitSocket(PQsocket(c), state == PGRES_POLLING_READING ? POLLIN : POLLOUT, until)) {
      if (!Stopped()) throw fail("no answer within " + connectSeconds + " s");
      PQfinish(c);
      throw EStoreError("%s: cannot connect to the database: the server is stopping", ShownName.c_str());
    }
    state = PQconnectPoll(c);
  }
  // The server's notices ("already exists, skipping") are no concern of the log.
  PQsetNoticeProcessor(
      c, [](void*, const char*) {}, nullptr);
  PQsetnonblocking(c, 1);
  // The database ends a statement that runs too long by itself, too, so that it holds nothing past it.
  const std::string timeout =
      "SET statement_timeout = " + std::to_string(std::chrono::milliseconds(StatementTimeout).count());
  TResult set = Exchange(c, "cannot set up a connection to", PQsendQuery(c, timeout.c_str()) == 1);
  if (c == nullptr || PQresultStatus(set.get()) != PGRES_COMMAND_OK) {
    const std::string message = MessageOf(set ? PQresultErrorMessage(set.get()) : "no answer");
    if (c != nullptr) PQfinish(c);
    throw EStoreError("%s: cannot set up a connection to the database: %s", ShownName.c_str(),
                      message.c_str());
  }
  return c;
}

void TPgPool::Release(PGconn* connection) {
  // A connection that broke, or was left inside a transaction by a failure, is not used again.
  const bool good = connection != nullptr && PQstatus(connection) == CONNECTION_OK &&
                    PQtransactionStatus(connection) == PQTRANS_IDLE;
  if (!good && connection != nullptr) PQfinish(connection);
  std::lock_guard<std::mutex> hold(Lock);
  if (good) {
    Idle.push_back(connection);
  } else {
    --Open;
  }
  Returned.notify_one();
}

TResult TPgPool::Exchange(PGconn*& connection, const char* what, bool sent) {
  const TClock::time_point until = Deadline(StatementTimeout);
  const int fd = PQsocket(connection);
  // Gives up on the connection: its statement is cancelled and it is closed.
  auto abandon = [&]() -> EStoreError {
    const bool stopped = Stopped();
    CancelInBackground(connection);
    PQfinish(connection);
    connection = nullptr;
    if (stopped) return EStoreError("%s: %s the database: the server is stopping", ShownName.c_str(), what);
    NoteDown();
    return EStoreError("%s: %s the database: no answer within %lld s", ShownName.c_str(), what,
                       static_cast<long long>(StatementTimeout.count()));
  };
  auto broken = [&]() -> EStoreError {
    const std::string message = MessageOf(PQerrorMessage(connection));
    if (PQstatus(connection) == CONNECTION_BAD) NoteDown();
    return EStoreError("%s: %s the database: %s", ShownName.c_str(), what, message.c_str());
  };
  if (!sent || fd < 0) throw broken();
  // In non-blocking mode what does not fit the socket waits in libpq's buffer until flushed.
  for (int left; (left = PQflush(connection)) != 0;) {
    if (left < 0) throw broken();
    if (!WaitSocket(fd, POLLIN | POLLOUT, until)) throw abandon();
    if (PQconsumeInput(connection) == 0) throw broken();
  }
  TResult kept;
  bool keptFailed = false;
  for (;;) {
    while (PQisBusy(connection)) {
      if (!WaitSocket(fd, POLLIN, until)) throw abandon();
      if (PQconsumeInput(connection) == 0) throw broken();
    }
    TResult next(PQgetResult(connection));
    if (!next) break;
    const ExecStatusType status = PQresultStatus(next.get());
    const bool failed = status != PGRES_TUPLES_OK && status != PGRES_COMMAND_OK;
    if (!keptFailed) kept = std::move(next);
    keptFailed = keptFailed || failed;
  }
  NoteUp();
  return kept;
}

TResult TPgConnection::Run(const char* what, const char* sql, const std::vector<TParam>& params) {
  std::vector<const char*> values;
  std::vector<int> lengths, formats;
  for (const TParam& p : params) {
    values.push_back(p.Null ? nullptr : p.Value.data());
    lengths.push_back(static_cast<int>(p.Value.size()));
    formats.push_back(p.Binary ? 1 : 0);
  }
  const bool sent = PQsendQueryParams(Connection, sql, static_cast<int>(params.size()), nullptr,
                                      values.data(), lengths.data(), formats.data(), 0) == 1;
  return Check(what, Pool.Exchange(Connection, what, sent));
}

void TPgConnection::RunScript(const char* what, const char* sql) {
  const bool sent = PQsendQuery(Connection, sql) == 1;
  Check(what, Pool.Exchange(Connection, what, sent));
}

TResult TPgConnection::Check(const char* what, TResult result) {
  const ExecStatusType status = result ? PQresultStatus(result.get()) : PGRES_FATAL_ERROR;
  if (status != PGRES_TUPLES_OK && status != PGRES_COMMAND_OK) {
    throw EStoreError(
        "%s: %s the database: %s", Pool.Name().c_str(), what,
        MessageOf(result ? PQresultErrorMessage(result.get()) : PQerrorMessage(Connection)).c_str());
  }
  return result;
}
