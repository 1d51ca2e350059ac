// The world table on disk: one SQLite file in WAL mode, created on first start. Every change is one
// transaction, so the file is never left half written; one connection serves all request threads in
// turn. Owned by the server for its whole run.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

class EStoreError : public std::runtime_error {
 public:
  explicit EStoreError(const char* format, ...) __attribute__((format(printf, 2, 3)));
};

struct TStoredEntry {
  std::string Name;
  std::string Country;
  uint16_t Score = 0;
  int64_t Submitted = 0;  // seconds since 1970-01-01 UTC
};

class TScoreStore {
 public:
  // Opens path, creating the file and its table when missing. fullSync: each commit waits for the disk;
  // otherwise a commit survives the process dying but the last ones may be lost if the machine does.
  // Throws EStoreError naming the file.
  TScoreStore(const std::string& path, bool fullSync);
  ~TScoreStore();
  TScoreStore(const TScoreStore&) = delete;
  TScoreStore& operator=(const TScoreStore&) = delete;

  // Stores one entry in a transaction of its own; throws EStoreError and stores nothing on failure.
  void Insert(const TStoredEntry& entry);
  // The best entries, highest score first; equal scores in the order they came.
  std::vector<TStoredEntry> Best(int limit);
  int64_t Count();
  const std::string& Path() const { return FilePath; }

 private:
  struct TCloser {
    void operator()(sqlite3* db) const;
    void operator()(sqlite3_stmt* statement) const;
  };
  using TStatement = std::unique_ptr<sqlite3_stmt, TCloser>;

  TStatement Prepare(const char* sql);
  void Execute(const char* sql);
  [[noreturn]] void Fail(const char* what);

  std::string FilePath;
  std::mutex Lock;  // one request at a time on the connection and its statements
  // Declared before the statements, so that they are finalized first: the connection closes, and folds
  // the WAL back into the file, only once no statement is left.
  std::unique_ptr<sqlite3, TCloser> Db;
  TStatement InsertStatement;
  TStatement BestStatement;
  TStatement CountStatement;
};
