// The world table in one SQLite file in WAL mode, created on first start. One connection serves all
// request threads in turn; entries that come while another thread writes go in together, in the next
// transaction. Several processes may open one file (a server and its verification workers): each
// transaction that claims or writes takes the file's write lock.
#pragma once

#include <condition_variable>
#include <memory>
#include <mutex>

#include "server/score_store.h"

struct sqlite3;
struct sqlite3_stmt;

class TSqliteStore final : public TStoreBackend {
 public:
  TSqliteStore(const std::string& path, bool fullSync);
  ~TSqliteStore() override;

  int64_t Insert(const TStoredEntry& entry, const std::string& ticket, int64_t ticketExpires) override;
  std::vector<TStoredEntry> Best(int limit, bool verifiedOnly) override;
  int64_t Count() override;
  TUploadResult StoreReplay(const std::string& ticket, const std::string& data, int64_t now,
                            int64_t& entry) override;
  int64_t QueuedCount() override;
  bool ClaimReplay(int leaseSeconds, TReplayUpload& upload) override;
  void ReleaseReplay(int64_t entry) override;
  void SetVerdict(int64_t entry, bool verified, const std::string& reason, int64_t now) override;
  bool ReplayStateOf(int64_t entry, TReplayState& state, std::string& reason) override;
  bool VerifiedReplay(int64_t entry, std::string& data) override;

 private:
  struct TCloser {
    void operator()(sqlite3* db) const;
    void operator()(sqlite3_stmt* statement) const;
  };
  using TStatement = std::unique_ptr<sqlite3_stmt, TCloser>;

  struct TPending {
    const TStoredEntry* Entry;
    const std::string* Ticket;
    int64_t TicketExpires;
    int64_t Id = 0;
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
  TStatement InsertTicketStatement;
  TStatement BestStatement;
  TStatement BestVerifiedStatement;
  TStatement CountStatement;
};
