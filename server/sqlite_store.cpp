// The world table in one SQLite file in WAL mode, created on first start. One connection serves all
// request threads in turn; entries and challenges that come while another thread writes go in together,
// in the next transaction. Several processes may open one file (a server and its verification workers): each
// transaction that claims or writes takes the file's write lock.
#include <sqlite3.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <ctime>
#include <memory>
#include <mutex>

#include "server/score_store.h"
#include "server/sqlite_wal_buffer.h"

namespace {

// 1: the scores; 2: and the replays uploaded for them (a table of its own, so a file of version 1 is
// taken over as it is); 3: and the leases of their checks; 4: and the challenges, and the seed of each
// entry's challenge beside its replay; 5: with fewer indexes, each written by fewer transactions (none
// on the challenges' issue times; those of the replays' states and addresses only over the rows the
// queue and the verified table look for), so that a challenge's or a result's commit writes fewer pages.
constexpr int kSchemaVersion = 5;
// The WAL's frames (of a page each) past which a commit copies them to the file.
constexpr int kCheckpointFrames = 8192;

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

class TSqliteStore final : public TScoreStore {
 public:
  TSqliteStore(const std::string& path, bool fullSync);
  ~TSqliteStore() override;

  std::vector<TStoredEntry> Best(int limit, bool verifiedOnly) override;
  int64_t Count() override;
  void IssueChallenge(const std::string& id, uint32_t seed, const std::string& address, int64_t now,
                      const TChallengeLimits& limits) override;
  int64_t QueuedCount() override;
  int64_t QueuedCountFrom(const std::string& address) override;
  bool ClaimReplay(int leaseSeconds, TReplayUpload& upload) override;
  void ReleaseReplay(int64_t entry) override;
  bool ReplayStateOf(int64_t entry, TReplayStatus& state, std::string& reason) override;
  bool VerifiedReplay(int64_t entry, std::string& data) override;

 private:
  int64_t InsertEntry(const TStoredEntry& entry, TEntryProof& proof) override;
  bool FindTicket(const std::string& ticket, TTicketRow& row) override;
  bool QueueReplay(int64_t entry, const std::string& data, const std::string& address) override;
  bool RefuseReplay(int64_t entry, const std::string& data, const std::string& reason, int64_t now) override;
  void WriteVerdict(int64_t entry, bool verified, const std::string& reason, int64_t now) override;

  struct TCloser {
    void operator()(sqlite3* db) const;
    void operator()(sqlite3_stmt* statement) const;
  };
  using TStatement = std::unique_ptr<sqlite3_stmt, TCloser>;

  // A challenge to store, as IssueChallenge was given it.
  struct TChallengeIssue {
    const std::string& Id;
    uint32_t Seed;
    const std::string& Address;
    int64_t Now;
    const TChallengeLimits& Limits;
  };

  // An entry (with its proof) or a challenge, waiting for its transaction.
  struct TPending {
    const TStoredEntry* Entry;
    TEntryProof* Proof;
    const TChallengeIssue* Challenge = nullptr;
    int64_t Id = 0;
    bool Seeded = false;  // its challenge is taken, once the transaction is committed
    bool Finished = false;
    std::string Error;  // empty when stored
  };

  TStatement Prepare(const std::string& sql);
  void Execute(const char* sql);
  // Whether table has column (under the write lock while the schema is set up).
  bool HasColumn(const char* table, const char* column);
  [[noreturn]] void Fail(const char* what);
  // Waits until pending is written in a transaction, by this thread or another; throws EStoreError
  // when it was not.
  void WriteInTurn(TPending& pending);
  // Writes batch in one transaction; the error message, or empty when all are stored.
  std::string WriteLocked(const std::vector<TPending*>& batch);
  // Stores the challenge within the transaction open; false on failure.
  bool WriteChallenge(const TChallengeIssue& challenge);

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
  TStatement TakeChallengeStatement;
  TStatement ExpireChallengesStatement;
  TStatement ShareChallengesStatement;
  TStatement InsertChallengeStatement;
  TStatement CapacityChallengesStatement;
  TStatement BestStatement;
  TStatement BestVerifiedStatement;
  TStatement CountStatement;
};

void TSqliteStore::TCloser::operator()(sqlite3* db) const { sqlite3_close(db); }
void TSqliteStore::TCloser::operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }

// SQLite's allocations, uncounted: counting takes a lock shared by every connection of the process at
// each one. Only before SQLite's first use in the process (else it stays as it was, counted).
void UncountAllocations() {
  static std::once_flag done;
  std::call_once(done, [] { sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0); });
}

TSqliteStore::TSqliteStore(const std::string& path, bool fullSync) : TScoreStore(path), FilePath(path) {
  UncountAllocations();
  sqlite3* db = nullptr;
  int rc =
      sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                      WalBufferVfsName());
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

  // A new file's pages: each transaction writes its B-trees' changed pages whole, and its rows are a
  // few dozen bytes, so the smaller the page the less is written (and checksummed) per result. A file
  // that exists keeps its own.
  Execute("PRAGMA page_size=1024");
  Execute("PRAGMA journal_mode=WAL");
  Execute(fullSync ? "PRAGMA synchronous=FULL" : "PRAGMA synchronous=NORMAL");
  // A checkpoint copies the WAL's pages to the file and, but with --full-sync, is the only time the
  // file is flushed to the disk (twice, a few milliseconds each), in the thread that committed last
  // while every other request waits. Far apart, it costs little per result; the pages it copies are
  // few, as most frames are new versions of the same pages. The WAL then grows to some 8 MB (32 MB
  // for a file of 4 KB pages).
  sqlite3_wal_autocheckpoint(db, kCheckpointFrames);
  // The write lock first, waited for: a transaction that reads and then writes fails at once when
  // another process (a worker on the same file) wrote in between. Under it, the version again, as
  // another process may have brought the file up to date meanwhile.
  Execute("BEGIN IMMEDIATE");
  if (sqlite3_prepare_v2(db, "PRAGMA user_version", -1, &raw, nullptr) != SQLITE_OK) Fail("cannot read");
  version.reset(raw);
  if (sqlite3_step(raw) != SQLITE_ROW) Fail("cannot read");
  found = sqlite3_column_int(raw, 0);
  version.reset();
  if (found == 2) Execute("ALTER TABLE replays ADD COLUMN leased INTEGER");
  if (found == 2 || found == 3) Execute("ALTER TABLE replays ADD COLUMN seed INTEGER");
  // Made anew, narrower, below.
  if (found < 5)
    Execute(
        "DROP INDEX IF EXISTS challenges_issued; DROP INDEX IF EXISTS replays_state;"
        "DROP INDEX IF EXISTS replays_address;");
  Execute(WithReplayStates(
              "CREATE TABLE IF NOT EXISTS scores ("
              "  id INTEGER PRIMARY KEY,"
              "  name TEXT NOT NULL CHECK (length(name) <= 10),"
              "  country TEXT NOT NULL CHECK (length(country) <= 10),"
              "  score INTEGER NOT NULL CHECK (score BETWEEN 0 AND 65535),"
              "  submitted INTEGER NOT NULL);"
              "CREATE INDEX IF NOT EXISTS scores_best ON scores (score DESC, id);"
              "CREATE TABLE IF NOT EXISTS replays ("
              "  entry INTEGER PRIMARY KEY REFERENCES scores (id),"
              "  ticket TEXT NOT NULL UNIQUE,"
              "  expires INTEGER NOT NULL,"          // the upload must come before, seconds since 1970
              "  data BLOB,"                         // the replay file; NULL until it comes
              "  state INTEGER NOT NULL DEFAULT 0,"  // TReplayStatus
              "  reason TEXT,"                       // why it was refused
              "  checked INTEGER,"                   // when the verifier's verdict came
              "  leased INTEGER,"                    // a worker checks it until then, seconds since 1970
              "  seed INTEGER);"  // the seed of the entry's challenge; NULL: none was taken
              "CREATE INDEX IF NOT EXISTS replays_state ON replays (state, entry) WHERE state = {queued} OR "
              "state = {verified};"
              // Handed out and not yet taken by a result; serial: the order of issue.
              "CREATE TABLE IF NOT EXISTS challenges ("
              "  serial INTEGER PRIMARY KEY AUTOINCREMENT,"
              "  id TEXT NOT NULL UNIQUE,"
              "  seed INTEGER NOT NULL,"
              "  address TEXT NOT NULL,"
              "  issued INTEGER NOT NULL);"  // seconds since 1970
              "CREATE INDEX IF NOT EXISTS challenges_address ON challenges (address, serial);"
              "PRAGMA user_version=5;")
              .c_str());
  // Each replay's uploading address, and when its latest check started (milliseconds since 1970), for
  // the addresses' turns at the workers; added to a table made without them.
  if (!HasColumn("replays", "address")) Execute("ALTER TABLE replays ADD COLUMN address TEXT");
  if (!HasColumn("replays", "started")) Execute("ALTER TABLE replays ADD COLUMN started INTEGER");
  Execute(
      "CREATE INDEX IF NOT EXISTS replays_address ON replays (address, started) WHERE address IS NOT NULL");
  Execute("COMMIT");
  InsertStatement = Prepare("INSERT INTO scores (name, country, score, submitted) VALUES (?, ?, ?, ?)");
  InsertTicketStatement =
      Prepare("INSERT INTO replays (entry, ticket, expires, state, reason, seed) VALUES (?, ?, ?, ?, ?, ?)");
  TakeChallengeStatement = Prepare("DELETE FROM challenges WHERE id = ? RETURNING seed, issued");
  // Of the 16 oldest, those expired: issues come in the order of their times (but for the clock set
  // back, which only puts an expired challenge's removal off).
  ExpireChallengesStatement = Prepare(
      "DELETE FROM challenges WHERE serial IN (SELECT serial FROM challenges ORDER BY serial LIMIT 16) AND "
      "issued <= ?");
  ShareChallengesStatement = Prepare(
      "DELETE FROM challenges WHERE serial IN (SELECT serial FROM challenges WHERE address = ? ORDER BY "
      "serial DESC LIMIT -1 OFFSET ?)");
  InsertChallengeStatement =
      Prepare("INSERT INTO challenges (id, seed, address, issued) VALUES (?, ?, ?, ?)");
  CapacityChallengesStatement = Prepare(
      "DELETE FROM challenges WHERE serial IN (SELECT serial FROM challenges WHERE serial <= ? ORDER BY "
      "serial LIMIT 64)");
  BeginStatement = Prepare("BEGIN IMMEDIATE");
  CommitStatement = Prepare("COMMIT");
  RollbackStatement = Prepare("ROLLBACK");
  BestStatement = Prepare(
      "SELECT s.id, s.name, s.country, s.score, s.submitted, r.state, r.expires FROM scores s LEFT JOIN "
      "replays r ON r.entry = s.id ORDER BY s.score DESC, s.id LIMIT ?");
  BestVerifiedStatement = Prepare(WithReplayStates(
      "SELECT s.id, s.name, s.country, s.score, s.submitted, r.state, r.expires FROM scores s JOIN replays r "
      "ON r.entry = s.id AND r.state = {verified} ORDER BY s.score DESC, s.id LIMIT ?"));
  CountStatement = Prepare("SELECT count(*) FROM scores");
}

TSqliteStore::~TSqliteStore() = default;

void TSqliteStore::Fail(const char* what) {
  throw EStoreError("%s: %s the database: %s", FilePath.c_str(), what,
                    Db ? sqlite3_errmsg(Db.get()) : "out of memory");
}

TSqliteStore::TStatement TSqliteStore::Prepare(const std::string& sql) {
  sqlite3_stmt* statement = nullptr;
  if (sqlite3_prepare_v2(Db.get(), sql.c_str(), -1, &statement, nullptr) != SQLITE_OK)
    Fail("cannot prepare a statement on");
  return TStatement(statement);
}

void TSqliteStore::Execute(const char* sql) {
  if (sqlite3_exec(Db.get(), sql, nullptr, nullptr, nullptr) != SQLITE_OK) {
    std::string message = sqlite3_errmsg(Db.get());
    sqlite3_exec(Db.get(), "ROLLBACK", nullptr, nullptr, nullptr);
    throw EStoreError("%s: cannot set up the database: %s", FilePath.c_str(), message.c_str());
  }
}

bool TSqliteStore::HasColumn(const char* table, const char* column) {
  TStatement info = Prepare(std::string("PRAGMA table_info(") + table + ")");
  int rc;
  while ((rc = sqlite3_step(info.get())) == SQLITE_ROW)
    if (ColumnText(info.get(), 1) == column) return true;
  if (rc != SQLITE_DONE) {
    std::string message = sqlite3_errmsg(Db.get());
    info.reset();
    sqlite3_exec(Db.get(), "ROLLBACK", nullptr, nullptr, nullptr);
    throw EStoreError("%s: cannot set up the database: %s", FilePath.c_str(), message.c_str());
  }
  return false;
}

int64_t TSqliteStore::InsertEntry(const TStoredEntry& entry, TEntryProof& proof) {
  TPending pending{&entry, &proof, nullptr, 0, false, false, {}};
  WriteInTurn(pending);
  return pending.Id;
}

void TSqliteStore::WriteInTurn(TPending& pending) {
  // The first thread to find no transaction being written writes one with every entry and challenge
  // waiting; the others wait for theirs to be written, by it or by the next such thread. A commit costs
  // about the same for one as for many (with --full-sync, a flush to the disk each), so what comes while
  // one is written shares the next, and what comes alone waits for nothing.
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

std::string TSqliteStore::WriteLocked(const std::vector<TPending*>& batch) {
  sqlite3* db = Db.get();
  auto step = [](sqlite3_stmt* statement) {
    TResetter reset{statement};
    return sqlite3_step(statement) == SQLITE_DONE;
  };
  // The message of the failure, after the transaction is rolled back if it is still open.
  auto failed = [&] {
    std::string error = FilePath;
    error += ": cannot store an entry or a challenge in the database: ";
    error += sqlite3_errmsg(db);
    if (!sqlite3_get_autocommit(db)) step(RollbackStatement.get());
    return error;
  };
  if (!step(BeginStatement.get())) return failed();
  for (TPending* p : batch) {
    if (p->Challenge != nullptr) {
      if (!WriteChallenge(*p->Challenge)) return failed();
      continue;
    }
    {
      sqlite3_stmt* s = InsertStatement.get();
      TResetter reset{s};
      const TStoredEntry& entry = *p->Entry;
      sqlite3_bind_text(s, 1, entry.Name.data(), static_cast<int>(entry.Name.size()), SQLITE_TRANSIENT);
      sqlite3_bind_text(s, 2, entry.Country.data(), static_cast<int>(entry.Country.size()), SQLITE_TRANSIENT);
      sqlite3_bind_int(s, 3, entry.Score);
      sqlite3_bind_int64(s, 4, entry.Submitted);
      if (sqlite3_step(s) != SQLITE_DONE) return failed();
      p->Id = sqlite3_last_insert_rowid(db);
    }
    TEntryProof& proof = *p->Proof;
    p->Seeded = false;
    if (proof.Ticket.empty()) continue;
    // The challenge is used up whether it is still good or not; of two entries quoting it, in this
    // transaction or another, only the first finds it.
    bool seeded = false;
    int64_t seed = 0;
    if (proof.Quoted) {
      sqlite3_stmt* c = TakeChallengeStatement.get();
      TResetter reset{c};
      sqlite3_bind_text(c, 1, proof.Challenge.data(), static_cast<int>(proof.Challenge.size()),
                        SQLITE_TRANSIENT);
      int rc = sqlite3_step(c);
      if (rc == SQLITE_ROW) {
        seed = sqlite3_column_int64(c, 0);
        seeded = sqlite3_column_int64(c, 1) > p->Entry->Submitted - proof.ChallengeLifetime;
        rc = sqlite3_step(c);
      }
      if (rc != SQLITE_DONE) return failed();
    }
    sqlite3_stmt* t = InsertTicketStatement.get();
    TResetter reset{t};
    sqlite3_bind_int64(t, 1, p->Id);
    sqlite3_bind_text(t, 2, proof.Ticket.data(), static_cast<int>(proof.Ticket.size()), SQLITE_TRANSIENT);
    // An unchecked entry's ticket is never handed out, and has expired with its entry's storing.
    sqlite3_bind_int64(t, 3, seeded ? proof.TicketExpires : p->Entry->Submitted);
    sqlite3_bind_int(t, 4, static_cast<int>(seeded ? TReplayStatus::rsAwaiting : TReplayStatus::rsUnchecked));
    if (seeded) {
      sqlite3_bind_null(t, 5);
      sqlite3_bind_int64(t, 6, seed);
    } else {
      sqlite3_bind_text(t, 5, proof.Quoted ? kBadChallengeReason : kNoChallengeReason, -1, SQLITE_STATIC);
      sqlite3_bind_null(t, 6);
    }
    if (sqlite3_step(t) != SQLITE_DONE) return failed();
    p->Seeded = seeded;
  }
  if (!step(CommitStatement.get())) return failed();
  for (TPending* p : batch)
    if (p->Proof != nullptr) p->Proof->Taken = p->Seeded;
  return {};
}

std::vector<TStoredEntry> TSqliteStore::Best(int limit, bool verifiedOnly) {
  const int64_t now = static_cast<int64_t>(std::time(nullptr));
  std::lock_guard<std::mutex> hold(Lock);
  sqlite3_stmt* s = verifiedOnly ? BestVerifiedStatement.get() : BestStatement.get();
  TResetter reset{s};
  sqlite3_bind_int(s, 1, limit);
  std::vector<TStoredEntry> entries;
  int rc;
  while ((rc = sqlite3_step(s)) == SQLITE_ROW) {
    TStoredEntry e;
    e.Id = sqlite3_column_int64(s, 0);
    e.Name = ColumnText(s, 1);
    e.Country = ColumnText(s, 2);
    e.Score = static_cast<uint16_t>(sqlite3_column_int(s, 3));
    e.Submitted = sqlite3_column_int64(s, 4);
    e.Verified = sqlite3_column_type(s, 5) != SQLITE_NULL &&
                 sqlite3_column_int(s, 5) == static_cast<int>(TReplayStatus::rsVerified);
    e.Check = CheckOf(sqlite3_column_type(s, 5) != SQLITE_NULL, sqlite3_column_int(s, 5),
                      sqlite3_column_int64(s, 6), now);
    entries.push_back(std::move(e));
  }
  if (rc != SQLITE_DONE) Fail("cannot read the table of");
  return entries;
}

int64_t TSqliteStore::Count() {
  std::lock_guard<std::mutex> hold(Lock);
  sqlite3_stmt* s = CountStatement.get();
  TResetter reset{s};
  if (sqlite3_step(s) != SQLITE_ROW) Fail("cannot count the entries of");
  return sqlite3_column_int64(s, 0);
}

// -------------------------------------------------------------------------------------- the challenges

// In the transaction of the entries and challenges that come with it: a few expired challenges go,
// then the address's oldest past its share, then the one that the new one pushes past the capacity
// (counted by serial: a challenge goes once MaxChallenges newer ones were issued, so no issue counts the
// table). Each step follows an index.
void TSqliteStore::IssueChallenge(const std::string& id, uint32_t seed, const std::string& address,
                                  int64_t now, const TChallengeLimits& limits) {
  const TChallengeIssue challenge{id, seed, address, now, limits};
  TPending pending{nullptr, nullptr, &challenge, 0, false, false, {}};
  WriteInTurn(pending);
}

bool TSqliteStore::WriteChallenge(const TChallengeIssue& challenge) {
  auto run = [](sqlite3_stmt* statement) {
    TResetter reset{statement};
    return sqlite3_step(statement) == SQLITE_DONE;
  };
  sqlite3_stmt* expired = ExpireChallengesStatement.get();
  sqlite3_bind_int64(expired, 1, challenge.Now - challenge.Limits.Lifetime);
  if (!run(expired)) return false;
  sqlite3_stmt* share = ShareChallengesStatement.get();
  sqlite3_bind_text(share, 1, challenge.Address.data(), static_cast<int>(challenge.Address.size()),
                    SQLITE_TRANSIENT);
  sqlite3_bind_int(share, 2, challenge.Limits.MaxPerAddress - 1);
  if (!run(share)) return false;
  sqlite3_stmt* insert = InsertChallengeStatement.get();
  sqlite3_bind_text(insert, 1, challenge.Id.data(), static_cast<int>(challenge.Id.size()), SQLITE_TRANSIENT);
  sqlite3_bind_int64(insert, 2, challenge.Seed);
  sqlite3_bind_text(insert, 3, challenge.Address.data(), static_cast<int>(challenge.Address.size()),
                    SQLITE_TRANSIENT);
  sqlite3_bind_int64(insert, 4, challenge.Now);
  if (!run(insert)) return false;
  sqlite3_stmt* capacity = CapacityChallengesStatement.get();
  sqlite3_bind_int64(capacity, 1, sqlite3_last_insert_rowid(Db.get()) - challenge.Limits.MaxChallenges);
  return run(capacity);
}

// ------------------------------------------------------------------------------------------ the replays
// Rare next to the table's reads, so their statements are prepared when used.

bool TSqliteStore::FindTicket(const std::string& ticket, TTicketRow& row) {
  std::lock_guard<std::mutex> hold(Lock);
  TStatement find =
      Prepare("SELECT entry, expires, data IS NOT NULL, state, seed FROM replays WHERE ticket = ?");
  sqlite3_bind_text(find.get(), 1, ticket.data(), static_cast<int>(ticket.size()), SQLITE_TRANSIENT);
  int rc = sqlite3_step(find.get());
  if (rc == SQLITE_DONE) return false;
  if (rc != SQLITE_ROW) Fail("cannot read the replays of");
  row.Entry = sqlite3_column_int64(find.get(), 0);
  row.Expires = sqlite3_column_int64(find.get(), 1);
  row.HasReplay = sqlite3_column_int(find.get(), 2) != 0;
  row.State = static_cast<TReplayStatus>(sqlite3_column_int(find.get(), 3));
  row.HasSeed = sqlite3_column_type(find.get(), 4) != SQLITE_NULL;
  row.Seed = static_cast<uint32_t>(sqlite3_column_int64(find.get(), 4));
  return true;
}

bool TSqliteStore::QueueReplay(int64_t entry, const std::string& data, const std::string& address) {
  std::lock_guard<std::mutex> hold(Lock);
  TStatement store = Prepare(WithReplayStates(
      "UPDATE replays SET data = ?, state = {queued}, address = ? WHERE entry = ? AND data IS NULL"));
  sqlite3_bind_blob(store.get(), 1, data.data(), static_cast<int>(data.size()), SQLITE_TRANSIENT);
  sqlite3_bind_text(store.get(), 2, address.data(), static_cast<int>(address.size()), SQLITE_TRANSIENT);
  sqlite3_bind_int64(store.get(), 3, entry);
  if (sqlite3_step(store.get()) != SQLITE_DONE) Fail("cannot store a replay in");
  return sqlite3_changes(Db.get()) == 1;
}

bool TSqliteStore::RefuseReplay(int64_t entry, const std::string& data, const std::string& reason,
                                int64_t now) {
  std::lock_guard<std::mutex> hold(Lock);
  TStatement store = Prepare(WithReplayStates(
      "UPDATE replays SET data = ?, state = {refused}, reason = ?, checked = ? WHERE entry = "
      "? AND data IS NULL AND state = {awaiting}"));
  sqlite3_bind_blob(store.get(), 1, data.data(), static_cast<int>(data.size()), SQLITE_TRANSIENT);
  sqlite3_bind_text(store.get(), 2, reason.data(), static_cast<int>(reason.size()), SQLITE_TRANSIENT);
  sqlite3_bind_int64(store.get(), 3, now);
  sqlite3_bind_int64(store.get(), 4, entry);
  if (sqlite3_step(store.get()) != SQLITE_DONE) Fail("cannot store a replay in");
  return sqlite3_changes(Db.get()) == 1;
}

int64_t TSqliteStore::QueuedCount() {
  std::lock_guard<std::mutex> hold(Lock);
  TStatement s = Prepare(WithReplayStates("SELECT count(*) FROM replays WHERE state = {queued}"));
  if (sqlite3_step(s.get()) != SQLITE_ROW) Fail("cannot count the replays of");
  return sqlite3_column_int64(s.get(), 0);
}

int64_t TSqliteStore::QueuedCountFrom(const std::string& address) {
  std::lock_guard<std::mutex> hold(Lock);
  TStatement s =
      Prepare(WithReplayStates("SELECT count(*) FROM replays WHERE address = ? AND state = {queued}"));
  sqlite3_bind_text(s.get(), 1, address.data(), static_cast<int>(address.size()), SQLITE_TRANSIENT);
  if (sqlite3_step(s.get()) != SQLITE_ROW) Fail("cannot count the replays of");
  return sqlite3_column_int64(s.get(), 0);
}

bool TSqliteStore::ClaimReplay(int leaseSeconds, TReplayUpload& upload) {
  std::lock_guard<std::mutex> hold(Lock);
  const int64_t now = static_cast<int64_t>(std::time(nullptr));
  const int64_t startedAt = std::chrono::duration_cast<std::chrono::milliseconds>(
                                std::chrono::system_clock::now().time_since_epoch())
                                .count();
  // The write lock first, so that of two processes on the file only one finds a replay free.
  if (sqlite3_exec(Db.get(), "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) != SQLITE_OK)
    Fail("cannot claim a replay in");
  struct TEnd {
    sqlite3* Db;
    bool Committed = false;
    ~TEnd() {
      if (!Committed) sqlite3_exec(Db, "ROLLBACK", nullptr, nullptr, nullptr);
    }
  } end{Db.get()};
  // The addresses in turn: the one whose last check started longest ago, or never, first.
  TStatement find = Prepare(WithReplayStates(
      "SELECT r.entry, s.score, r.data FROM replays r JOIN scores s ON s.id = r.entry WHERE r.state = "
      "{queued} AND (r.leased IS NULL OR r.leased <= ?) ORDER BY (SELECT max(x.started) FROM replays x "
      "WHERE x.address = r.address) NULLS FIRST, r.entry LIMIT 1"));
  sqlite3_bind_int64(find.get(), 1, now);
  int rc = sqlite3_step(find.get());
  if (rc == SQLITE_DONE) return false;
  if (rc != SQLITE_ROW) Fail("cannot claim a replay in");
  upload.Entry = sqlite3_column_int64(find.get(), 0);
  upload.Score = static_cast<uint16_t>(sqlite3_column_int(find.get(), 1));
  const void* blob = sqlite3_column_blob(find.get(), 2);
  upload.Data.assign(static_cast<const char*>(blob),
                     blob ? static_cast<size_t>(sqlite3_column_bytes(find.get(), 2)) : 0);
  find.reset();
  TStatement lease = Prepare("UPDATE replays SET leased = ?, started = ? WHERE entry = ?");
  sqlite3_bind_int64(lease.get(), 1, now + leaseSeconds);
  sqlite3_bind_int64(lease.get(), 2, startedAt);
  sqlite3_bind_int64(lease.get(), 3, upload.Entry);
  if (sqlite3_step(lease.get()) != SQLITE_DONE) Fail("cannot claim a replay in");
  lease.reset();
  if (sqlite3_exec(Db.get(), "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK)
    Fail("cannot claim a replay in");
  end.Committed = true;
  return true;
}

void TSqliteStore::ReleaseReplay(int64_t entry) {
  std::lock_guard<std::mutex> hold(Lock);
  TStatement s =
      Prepare(WithReplayStates("UPDATE replays SET leased = NULL WHERE entry = ? AND state = {queued}"));
  sqlite3_bind_int64(s.get(), 1, entry);
  if (sqlite3_step(s.get()) != SQLITE_DONE) Fail("cannot release a replay in");
}

void TSqliteStore::WriteVerdict(int64_t entry, bool verified, const std::string& reason, int64_t now) {
  std::lock_guard<std::mutex> hold(Lock);
  TStatement s =
      Prepare(WithReplayStates("UPDATE replays SET state = ?, reason = ?, checked = ?, leased = NULL WHERE "
                               "entry = ? AND state = {queued}"));
  sqlite3_bind_int(s.get(), 1,
                   static_cast<int>(verified ? TReplayStatus::rsVerified : TReplayStatus::rsRefused));
  if (verified) {
    sqlite3_bind_null(s.get(), 2);
  } else {
    sqlite3_bind_text(s.get(), 2, reason.data(), static_cast<int>(reason.size()), SQLITE_TRANSIENT);
  }
  sqlite3_bind_int64(s.get(), 3, now);
  sqlite3_bind_int64(s.get(), 4, entry);
  if (sqlite3_step(s.get()) != SQLITE_DONE) Fail("cannot store a verdict in");
}

bool TSqliteStore::ReplayStateOf(int64_t entry, TReplayStatus& state, std::string& reason) {
  std::lock_guard<std::mutex> hold(Lock);
  TStatement s = Prepare("SELECT state, reason FROM replays WHERE entry = ?");
  sqlite3_bind_int64(s.get(), 1, entry);
  int rc = sqlite3_step(s.get());
  if (rc == SQLITE_DONE) return false;
  if (rc != SQLITE_ROW) Fail("cannot read the replays of");
  state = static_cast<TReplayStatus>(sqlite3_column_int(s.get(), 0));
  reason = ColumnText(s.get(), 1);
  return true;
}

bool TSqliteStore::VerifiedReplay(int64_t entry, std::string& data) {
  std::lock_guard<std::mutex> hold(Lock);
  TStatement s = Prepare(WithReplayStates("SELECT data FROM replays WHERE entry = ? AND state = {verified}"));
  sqlite3_bind_int64(s.get(), 1, entry);
  int rc = sqlite3_step(s.get());
  if (rc == SQLITE_DONE) return false;
  if (rc != SQLITE_ROW) Fail("cannot read the replays of");
  const void* blob = sqlite3_column_blob(s.get(), 0);
  data.assign(static_cast<const char*>(blob),
              blob ? static_cast<size_t>(sqlite3_column_bytes(s.get(), 0)) : 0);
  return true;
}

}  // namespace

std::unique_ptr<TScoreStore> OpenSqliteStore(const std::string& path, bool fullSync) {
  return std::make_unique<TSqliteStore>(path, fullSync);
}
