// The world table on disk: one SQLite file in WAL mode, created on first start. Entries are stored in
// transactions, so the file is never left half written: each entry is whole in it or not there. One
// connection serves all request threads in turn; entries that come while another thread writes go in
// together, in the next transaction. Owned by the server for its whole run.
#pragma once

#include <condition_variable>
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

  // Stores one entry and returns once its transaction is committed (with the entries of other threads
  // that came meanwhile); throws EStoreError and stores nothing on failure.
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

  struct TPending {
    const TStoredEntry* Entry;
    bool Finished = false;
    std::string Error;  // empty when stored
  };

  TStatement Prepare(const char* sql);
  void Execute(const char* sql);
  [[noreturn]] void Fail(const char* what);
  // Writes batch in one transaction; the error message, or empty when all are stored.
  std::string WriteLocked(const std::vector<TPending*>& batch);

  std::string FilePath;
  std::mutex Lock;                  // one request at a time on the connection and its statements
  std::mutex QueueLock;             // Waiting and Writing
  std::condition_variable Written;  // a transaction is written
  std::vector<TPending*> Waiting;   // entries for the next transaction
  bool Writing = false;             // a thread is writing a transaction now
  // Declared before the statements, so that they are finalized first: the connection closes, and folds
  // the WAL back into the file, only once no statement is left.
  std::unique_ptr<sqlite3, TCloser> Db;
  TStatement InsertStatement;
  TStatement BeginStatement;
  TStatement CommitStatement;
  TStatement RollbackStatement;
  TStatement BestStatement;
  TStatement CountStatement;
};
