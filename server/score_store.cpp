#include "server/score_store.h"

#include <sqlite3.h>

#include <cstdarg>
#include <cstdio>

namespace {

constexpr int kSchemaVersion = 1;

std::string FormatV(const char* format, va_list args) {
  char text[1024];
  std::vsnprintf(text, sizeof text, format, args);
  return text;
}

// Resets a statement whatever way its use ends.
struct TResetter {
  sqlite3_stmt* Statement;
  ~TResetter() {
    sqlite3_reset(Statement);
    sqlite3_clear_bindings(Statement);
  }
};

std::string ColumnText(sqlite3_stmt* statement, int column) {
  const unsigned char* text = sqlite3_column_text(statement, column);
  return text ? std::string(reinterpret_cast<const char*>(text),
                            static_cast<size_t>(sqlite3_column_bytes(statement, column)))
              : std::string();
}

}  // namespace

EStoreError::EStoreError(const char* format, ...) : std::runtime_error("") {
  va_list args;
  va_start(args, format);
  static_cast<std::runtime_error&>(*this) = std::runtime_error(FormatV(format, args));
  va_end(args);
}

void TScoreStore::TCloser::operator()(sqlite3* db) const { sqlite3_close(db); }
void TScoreStore::TCloser::operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }

TScoreStore::TScoreStore(const std::string& path, bool fullSync) : FilePath(path) {
  sqlite3* db = nullptr;
  int rc = sqlite3_open_v2(path.c_str(), &db,
                           SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
  Db.reset(db);
  if (rc != SQLITE_OK) Fail("cannot open");
  sqlite3_busy_timeout(db, 5000);
  // A file that is not a database fails here, on its first read.
  sqlite3_stmt* raw = nullptr;
  if (sqlite3_prepare_v2(db, "PRAGMA user_version", -1, &raw, nullptr) != SQLITE_OK) Fail("cannot read");
  TStatement version(raw);
  if (sqlite3_step(raw) != SQLITE_ROW) Fail("cannot read");
  int found = sqlite3_column_int(raw, 0);
  version.reset();
  if (found > kSchemaVersion)
    throw EStoreError("%s: the table is of a newer version (%d) than this server knows (%d)", path.c_str(),
                      found, kSchemaVersion);

  Execute("PRAGMA journal_mode=WAL");
  Execute(fullSync ? "PRAGMA synchronous=FULL" : "PRAGMA synchronous=NORMAL");
  Execute(
      "BEGIN;"
      "CREATE TABLE IF NOT EXISTS scores ("
      "  id INTEGER PRIMARY KEY,"
      "  name TEXT NOT NULL CHECK (length(name) <= 10),"
      "  country TEXT NOT NULL CHECK (length(country) <= 10),"
      "  score INTEGER NOT NULL CHECK (score BETWEEN 0 AND 65535),"
      "  submitted INTEGER NOT NULL);"
      "CREATE INDEX IF NOT EXISTS scores_best ON scores (score DESC, id);"
      "PRAGMA user_version=1;"
      "COMMIT;");
  InsertStatement = Prepare("INSERT INTO scores (name, country, score, submitted) VALUES (?, ?, ?, ?)");
  BeginStatement = Prepare("BEGIN IMMEDIATE");
  CommitStatement = Prepare("COMMIT");
  RollbackStatement = Prepare("ROLLBACK");
  BestStatement =
      Prepare("SELECT name, country, score, submitted FROM scores ORDER BY score DESC, id LIMIT ?");
  CountStatement = Prepare("SELECT count(*) FROM scores");
}

TScoreStore::~TScoreStore() = default;

void TScoreStore::Fail(const char* what) {
  throw EStoreError("%s: %s the database: %s", FilePath.c_str(), what,
                    Db ? sqlite3_errmsg(Db.get()) : "out of memory");
}

TScoreStore::TStatement TScoreStore::Prepare(const char* sql) {
  sqlite3_stmt* statement = nullptr;
  if (sqlite3_prepare_v2(Db.get(), sql, -1, &statement, nullptr) != SQLITE_OK)
    Fail("cannot prepare a statement on");
  return TStatement(statement);
}

void TScoreStore::Execute(const char* sql) {
  if (sqlite3_exec(Db.get(), sql, nullptr, nullptr, nullptr) != SQLITE_OK) {
    std::string message = sqlite3_errmsg(Db.get());
    sqlite3_exec(Db.get(), "ROLLBACK", nullptr, nullptr, nullptr);
    throw EStoreError("%s: cannot set up the database: %s", FilePath.c_str(), message.c_str());
  }
}

void TScoreStore::Insert(const TStoredEntry& entry) {
  // The first thread to find no transaction being written writes one with every entry waiting; the
  // others wait for theirs to be written, by it or by the next such thread. A commit costs about the
  // same for one entry as for many (with --full-sync, a flush to the disk each), so entries that come
  // while one is written share the next, and an entry alone waits for nothing.
  TPending pending{&entry, false, {}};
  std::unique_lock<std::mutex> queue(QueueLock);
  Waiting.push_back(&pending);
  while (!pending.Finished) {
    if (Writing) {
      Written.wait(queue);
      continue;
    }
    Writing = true;
    std::vector<TPending*> batch;
    batch.swap(Waiting);
    queue.unlock();
    std::string error;
    {
      std::lock_guard<std::mutex> hold(Lock);
      error = WriteLocked(batch);
    }
    queue.lock();
    for (TPending* p : batch) {
      p->Error = error;
      p->Finished = true;
    }
    Writing = false;
    Written.notify_all();
  }
  if (!pending.Error.empty()) throw EStoreError("%s", pending.Error.c_str());
}

std::string TScoreStore::WriteLocked(const std::vector<TPending*>& batch) {
  sqlite3* db = Db.get();
  auto step = [](sqlite3_stmt* statement) {
    TResetter reset{statement};
    return sqlite3_step(statement) == SQLITE_DONE;
  };
  // The message of the failure, after the transaction is rolled back if it is still open.
  auto failed = [&] {
    std::string error = FilePath;
    error += ": cannot store an entry in the database: ";
    error += sqlite3_errmsg(db);
    if (!sqlite3_get_autocommit(db)) step(RollbackStatement.get());
    return error;
  };
  if (!step(BeginStatement.get())) return failed();
  for (const TPending* p : batch) {
    sqlite3_stmt* s = InsertStatement.get();
    TResetter reset{s};
    const TStoredEntry& entry = *p->Entry;
    sqlite3_bind_text(s, 1, entry.Name.data(), static_cast<int>(entry.Name.size()), SQLITE_TRANSIENT);
    sqlite3_bind_text(s, 2, entry.Country.data(), static_cast<int>(entry.Country.size()), SQLITE_TRANSIENT);
    sqlite3_bind_int(s, 3, entry.Score);
    sqlite3_bind_int64(s, 4, entry.Submitted);
    if (sqlite3_step(s) != SQLITE_DONE) return failed();
  }
  if (!step(CommitStatement.get())) return failed();
  return {};
}

std::vector<TStoredEntry> TScoreStore::Best(int limit) {
  std::lock_guard<std::mutex> hold(Lock);
  sqlite3_stmt* s = BestStatement.get();
  TResetter reset{s};
  sqlite3_bind_int(s, 1, limit);
  std::vector<TStoredEntry> entries;
  int rc;
  while ((rc = sqlite3_step(s)) == SQLITE_ROW) {
    TStoredEntry e;
    e.Name = ColumnText(s, 0);
    e.Country = ColumnText(s, 1);
    e.Score = static_cast<uint16_t>(sqlite3_column_int(s, 2));
    e.Submitted = sqlite3_column_int64(s, 3);
    entries.push_back(std::move(e));
  }
  if (rc != SQLITE_DONE) Fail("cannot read the table of");
  return entries;
}

int64_t TScoreStore::Count() {
  std::lock_guard<std::mutex> hold(Lock);
  sqlite3_stmt* s = CountStatement.get();
  TResetter reset{s};
  if (sqlite3_step(s) != SQLITE_ROW) Fail("cannot count the entries of");
  return sqlite3_column_int64(s, 0);
}
