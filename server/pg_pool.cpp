#include "server/pg_pool.h"

#include <cstdlib>

#include "server/score_store.h"

namespace {

// The first line of libpq's message.
std::string MessageOf(const char* message) {
  std::string text = message != nullptr ? message : "";
  size_t end = text.find('\n');
  return end == std::string::npos ? text : text.substr(0, end);
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

TPgPool::TPgPool(const std::string& uri, int connections)
    : Uri(uri),
      ShownName(ShownStoreName(uri)),
      MaxConnections(connections > 0 ? static_cast<size_t>(connections) : 1) {}

TPgPool::~TPgPool() {
  for (PGconn* c : Idle) PQfinish(c);
}

PGconn* TPgPool::Acquire() {
  std::unique_lock<std::mutex> hold(Lock);
  Returned.wait(hold, [this] { return !Idle.empty() || Open < MaxConnections; });
  if (!Idle.empty()) {
    PGconn* c = Idle.back();
    Idle.pop_back();
    return c;
  }
  ++Open;
  hold.unlock();
  PGconn* c = PQconnectdb(Uri.c_str());
  if (c == nullptr || PQstatus(c) != CONNECTION_OK) {
    const std::string message = MessageOf(c != nullptr ? PQerrorMessage(c) : "out of memory");
    PQfinish(c);
    hold.lock();
    --Open;
    Returned.notify_one();
    throw EStoreError("%s: cannot connect to the database: %s", ShownName.c_str(), message.c_str());
  }
  // The server's notices ("already exists, skipping") are no concern of the log.
  PQsetNoticeProcessor(
      c, [](void*, const char*) {}, nullptr);
  return c;
}

void TPgPool::Release(PGconn* connection) {
  // A connection that broke, or was left inside a transaction by a failure, is not used again.
  const bool good = PQstatus(connection) == CONNECTION_OK && PQtransactionStatus(connection) == PQTRANS_IDLE;
  if (!good) PQfinish(connection);
  std::lock_guard<std::mutex> hold(Lock);
  if (good) {
    Idle.push_back(connection);
  } else {
    --Open;
  }
  Returned.notify_one();
}

TResult TPgConnection::Run(const char* what, const char* sql, const std::vector<TParam>& params) {
  std::vector<const char*> values;
  std::vector<int> lengths, formats;
  for (const TParam& p : params) {
    values.push_back(p.Null ? nullptr : p.Value.data());
    lengths.push_back(static_cast<int>(p.Value.size()));
    formats.push_back(p.Binary ? 1 : 0);
  }
  return Check(what, TResult(PQexecParams(Connection, sql, static_cast<int>(params.size()), nullptr,
                                          values.data(), lengths.data(), formats.data(), 0)));
}

void TPgConnection::RunScript(const char* what, const char* sql) {
  Check(what, TResult(PQexec(Connection, sql)));
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
