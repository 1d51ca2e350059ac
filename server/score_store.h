// The world table and the replays uploaded for it, kept by one of two stores behind one interface: an
// SQLite file (the default: one server on one machine) or a PostgreSQL database (any number of servers
// and verification workers, each with a connection pool of its own; there the tokens and rate counts
// live in the database too, see TSharedState). Entries are stored in transactions: each is whole in the
// store or not there. Owned by the server, or a verification worker, for its whole run.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "server/tokens.h"

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

// What the servers sharing a database keep there instead of in memory: the handshakes' tokens and the
// per-address request counts. Times are the database's clock, so that every server agrees on them.
class TSharedState {
 public:
  virtual ~TSharedState() = default;
  // Records token as good for one result from session for lifetimeSeconds. Past perAddress tokens from
  // address its oldest goes; a token goes, too, once capacity newer ones were issued; a few expired ones
  // go on every call.
  virtual void IssueToken(const std::string& token, const std::string& session, const std::string& address,
                          int lifetimeSeconds, int perAddress, int capacity) = 0;
  // Takes token out if it is good for session, and stores entry (with ticket, as Insert does) in the
  // same transaction: once only, whichever server asks, and the token is spent only when the entry is
  // stored. A token shown from another session stays for its own; an expired one is dropped. Sets id.
  virtual TTokenBook::TTake InsertWithToken(const std::string& token, const std::string& session,
                                            const TStoredEntry& entry, const std::string& ticket,
                                            int64_t ticketExpires, int64_t& id) = 0;
  // Counts one request of kind ("h" handshakes, "r" results) from address; false (and not counted) when
  // it already sent perMinute (at least 1) in the minute before now.
  virtual bool AllowRequest(const char* kind, const std::string& address, int perMinute) = 0;
};

// One store's operations; see TScoreStore for what each does.
class TStoreBackend {
 public:
  virtual ~TStoreBackend() = default;
  virtual int64_t Insert(const TStoredEntry& entry, const std::string& ticket, int64_t ticketExpires) = 0;
  virtual std::vector<TStoredEntry> Best(int limit, bool verifiedOnly) = 0;
  virtual int64_t Count() = 0;
  virtual TUploadResult StoreReplay(const std::string& ticket, const std::string& data, int64_t now,
                                    int64_t& entry) = 0;
  virtual int64_t QueuedCount() = 0;
  virtual bool ClaimReplay(int leaseSeconds, TReplayUpload& upload) = 0;
  virtual void ReleaseReplay(int64_t entry) = 0;
  virtual void SetVerdict(int64_t entry, bool verified, const std::string& reason, int64_t now) = 0;
  virtual bool ReplayStateOf(int64_t entry, TReplayState& state, std::string& reason) = 0;
  virtual bool VerifiedReplay(int64_t entry, std::string& data) = 0;
  virtual TSharedState* Shared() { return nullptr; }
};

// Whether where names a PostgreSQL database ("postgresql://..." or "postgres://...") rather than a file.
bool IsPostgresUri(const std::string& where);
// where as it may be shown: a URI's password replaced by "***".
std::string ShownStoreName(const std::string& where);

class TScoreStore {
 public:
  // Opens where: a PostgreSQL URI, or else the path of an SQLite file, created when missing. The
  // schema is created or brought up to date first (on PostgreSQL by the first server to start, under an
  // advisory lock, the others waiting). fullSync (SQLite): each commit waits for the disk; otherwise a
  // commit survives the process dying but the last ones may be lost if the machine does (PostgreSQL
  // commits as its server is configured). readFrom: a PostgreSQL URI the world table is read from (a
  // replica), empty for where itself. connections: the most PostgreSQL connections held at once, each.
  // Throws EStoreError naming the store.
  TScoreStore(const std::string& where, bool fullSync, const std::string& readFrom = {}, int connections = 8);
  ~TScoreStore();
  TScoreStore(const TScoreStore&) = delete;
  TScoreStore& operator=(const TScoreStore&) = delete;

  // Stores one entry and returns its id once its transaction is committed; throws EStoreError and stores
  // nothing on failure. A non-empty ticket is stored with it: the entry's replay may be uploaded with it
  // until ticketExpires (seconds since 1970).
  int64_t Insert(const TStoredEntry& entry, const std::string& ticket = {}, int64_t ticketExpires = 0);
  // The best entries, highest score first; equal scores in the order they came. verifiedOnly: those
  // whose replay was verified. Read from the replica when there is one.
  std::vector<TStoredEntry> Best(int limit, bool verifiedOnly = false);
  int64_t Count();

  // Stores data as the replay of ticket's entry, queued for the verifier, when the ticket is known, has
  // no replay yet and has not expired at now (seconds since 1970); sets entry to the ticket's entry.
  TUploadResult StoreReplay(const std::string& ticket, const std::string& data, int64_t now, int64_t& entry);
  // Replays queued for the verifier, those being checked included.
  int64_t QueuedCount();
  // Claims the oldest queued replay no one holds a lease on, for leaseSeconds: until then no other
  // worker (of any server sharing the store) is given it. False when there is none.
  bool ClaimReplay(int leaseSeconds, TReplayUpload& upload);
  // Gives up the lease on entry's replay, which stays queued (a check ended by a stop).
  void ReleaseReplay(int64_t entry);
  // The verifier's verdict on entry's queued replay: verified, or refused for reason. A replay that
  // already has its verdict keeps it.
  void SetVerdict(int64_t entry, bool verified, const std::string& reason, int64_t now);
  // entry's replay state and reason; false when the entry has no ticket.
  bool ReplayStateOf(int64_t entry, TReplayState& state, std::string& reason);
  // The bytes of entry's replay when it was verified; false otherwise.
  bool VerifiedReplay(int64_t entry, std::string& data);

  // The tokens and rate counts kept in the store; null when they are this process's own (SQLite).
  TSharedState* Shared() { return Writer->Shared(); }
  // Shared()'s InsertWithToken, counted as a change when the entry is stored.
  TTokenBook::TTake InsertWithToken(const std::string& token, const std::string& session,
                                    const TStoredEntry& entry, const std::string& ticket,
                                    int64_t ticketExpires);
  // Grows whenever this object stores an entry or a verdict: what was read before is out of date.
  uint64_t Changes() const { return ChangeCount.load(); }
  // The store's name as it may be shown (no password).
  const std::string& Path() const { return Name; }

 private:
  std::string Name;
  std::unique_ptr<TStoreBackend> Writer;
  std::unique_ptr<TStoreBackend> Reader;  // the replica, or null
  std::atomic<uint64_t> ChangeCount{0};
};
