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
  int64_t Id = 0;         // the entry's row; filled when read or stored
  bool Verified = false;  // its replay played back to this score; filled when read
};

// What became of an entry's replay.
enum class TReplayState : int {
  rsAwaiting = 0,  // a ticket was handed out; no replay yet
  rsQueued = 1,    // the replay is stored and waits for the verifier
  rsVerified = 2,
  rsRefused = 3,  // Reason says why
};

struct TReplayUpload {
  int64_t Entry = 0;
  uint16_t Score = 0;  // the entry's
  std::string Data;    // the replay file's bytes
};

// Why an upload was not stored.
enum class TUploadResult { urStored, urUnknown, urTaken, urExpired };

class TScoreStore {
 public:
  // Opens path, creating the file and its table when missing. fullSync: each commit waits for the disk;
  // otherwise a commit survives the process dying but the last ones may be lost if the machine does.
  // Throws EStoreError naming the file.
  TScoreStore(const std::string& path, bool fullSync);
  ~TScoreStore();
  TScoreStore(const TScoreStore&) = delete;
  TScoreStore& operator=(const TScoreStore&) = delete;

  // Stores one entry and returns its id once its transaction is committed (with the entries of other
  // threads that came meanwhile); throws EStoreError and stores nothing on failure. A non-empty ticket
  // is stored with it: the entry's replay may be uploaded with it until ticketExpires (seconds since
  // 1970).
  int64_t Insert(const TStoredEntry& entry, const std::string& ticket = {}, int64_t ticketExpires = 0);
  // The best entries, highest score first; equal scores in the order they came. verifiedOnly: those
  // whose replay was verified.
  std::vector<TStoredEntry> Best(int limit, bool verifiedOnly = false);
  int64_t Count();

  // Stores data as the replay of ticket's entry, queued for the verifier, when the ticket is known, has
  // no replay yet and has not expired at now (seconds since 1970); sets entry to the ticket's entry.
  TUploadResult StoreReplay(const std::string& ticket, const std::string& data, int64_t now, int64_t& entry);
  // The queued replays, oldest first, at most limit.
  std::vector<int64_t> QueuedReplays(int limit);
  // The queued replay of entry with its entry's score; false when entry has none queued.
  bool QueuedReplay(int64_t entry, TReplayUpload& upload);
  // The verifier's verdict on entry's replay: verified, or refused for reason.
  void SetVerdict(int64_t entry, bool verified, const std::string& reason, int64_t now);
  // entry's replay state and reason; false when the entry has no ticket.
  bool ReplayStateOf(int64_t entry, TReplayState& state, std::string& reason);
  // The bytes of entry's replay when it was verified; false otherwise.
  bool VerifiedReplay(int64_t entry, std::string& data);
  const std::string& Path() const { return FilePath; }

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
