// The world table and the replays uploaded for it, kept by one of two stores behind this one interface:
// an SQLite file (the default: one server on one machine) or a PostgreSQL database (any number of
// servers and verification workers, each with a connection pool of its own). OpenScoreStore chooses by
// the name; each store lives in its own file behind its factory. Entries are stored in transactions:
// each is whole in the store or not there. Owned by the server, or a verification worker, for its run.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "common/error.h"

using EStoreError = EAreaError<struct TStoreArea>;

class TAdmission;
struct TAdmissionLimits;

struct TStoredEntry {
  std::string Name;
  std::string Country;
  uint16_t Score = 0;
  int64_t Submitted = 0;  // seconds since 1970-01-01 UTC
  int64_t Id = 0;         // the entry's row; filled when read or stored
  bool Verified = false;  // its replay played back to this score; filled when read
  // Where its check stands, as the world table says it; filled when read.
  enum TCheck { ckNone, ckChecking, ckVerified, ckRefused, ckNoChallenge, ckNoReplay } Check = ckNone;
};

// What became of an entry's replay; the values are those the stores keep in the replays' state column.
enum class TReplayStatus : int {
  rsAwaiting = 0,  // a ticket was handed out; no replay yet
  rsQueued = 1,    // the replay is stored and waits for the verifier
  rsVerified = 2,
  rsRefused = 3,    // Reason says why
  rsUnchecked = 4,  // the result came without a good challenge, so no replay is taken; Reason says why
};

// The reasons an entry is stored unchecked.
inline constexpr const char* kNoChallengeReason = "the result came without a challenge from this server";
inline constexpr const char* kBadChallengeReason =
    "the challenge was not issued by this server, or was used or expired";
// Why an upload whose seed is not its entry's challenge's is refused.
inline constexpr const char* kOtherSeedReason =
    "the replay does not start from the seed this server gave to this entry";

// A challenge: a seed handed out for one game, good for one result. Issued by IssueChallenge, taken
// by the result that quotes it (TEntryProof) in the transaction that stores the result's entry.
struct TChallengeLimits {
  int Lifetime = 86400;  // seconds a challenge stays good from its issue
  int MaxChallenges = 200000;
  int MaxPerAddress = 16;
};

// What an entry's replay row is to say, given with the entry to the store. With a ticket, the row is
// stored beside the entry: waiting for its replay when the result quoted a challenge that is taken
// now, else unchecked with the reason. Without a ticket (no replays taken) no row is stored.
struct TEntryProof {
  std::string Ticket;
  int64_t TicketExpires = 0;  // seconds since 1970
  bool Quoted = false;        // the result quoted a challenge
  std::string Challenge;      // its id
  int ChallengeLifetime = 0;  // seconds a challenge stays good from its issue
  // Filled by the store: the challenge was taken, and the ticket is good for the replay.
  bool Taken = false;
};

struct TReplayUpload {
  int64_t Entry = 0;
  uint16_t Score = 0;  // the entry's
  std::string Data;    // the replay file's bytes
};

// Why an upload was not stored. urRefused: it was stored refused at once (Reason says why) and is not
// queued.
enum class TUploadResult { urStored, urUnknown, urTaken, urExpired, urRefused };

class TScoreStore {
 public:
  virtual ~TScoreStore() = default;
  TScoreStore(const TScoreStore&) = delete;
  TScoreStore& operator=(const TScoreStore&) = delete;

  // Stores one entry and returns its id once its transaction is committed; throws EStoreError and stores
  // nothing on failure. With proof, its replay row as proof says, in the same transaction (which takes
  // the challenge proof quotes); proof's Taken is filled.
  int64_t Insert(const TStoredEntry& entry);
  int64_t Insert(const TStoredEntry& entry, TEntryProof& proof);
  // Stores a challenge id with seed for address at now (seconds since 1970). Past limits' per-address
  // count the address's oldest goes; a challenge goes, too, once MaxChallenges newer ones were issued;
  // a few expired ones go with every call. Throws EStoreError.
  virtual void IssueChallenge(const std::string& id, uint32_t seed, const std::string& address, int64_t now,
                              const TChallengeLimits& limits) = 0;
  // The best entries, highest score first; equal scores in the order they came. verifiedOnly: those
  // whose replay was verified. Read from the replica when there is one.
  virtual std::vector<TStoredEntry> Best(int limit, bool verifiedOnly = false) = 0;
  virtual int64_t Count() = 0;

  // Stores data as the replay of ticket's entry, queued for the verifier, when the ticket is known, has
  // no replay yet and has not expired at now (seconds since 1970); sets entry to the ticket's entry. A
  // replay that does not decode, or does not start from the seed of the entry's challenge, is stored
  // refused at once (urRefused, reason says why). address: the uploading client's, whose replays take
  // their turns (ClaimReplay).
  TUploadResult StoreReplay(const std::string& ticket, const std::string& data, int64_t now, int64_t& entry,
                            std::string& reason, const std::string& address = {});
  // Replays queued for the verifier, those being checked included.
  virtual int64_t QueuedCount() = 0;
  // Of those, the ones uploaded from address.
  virtual int64_t QueuedCountFrom(const std::string& address) = 0;
  // Claims a queued replay no one holds a lease on, for leaseSeconds: until then no other worker (of
  // any server sharing the store) is given it. The uploading addresses take turns: the replay claimed
  // is the oldest of the address whose last check started longest ago (or never), so that one address
  // with many replays queued delays another's by one check per worker at most. False when there is none.
  virtual bool ClaimReplay(int leaseSeconds, TReplayUpload& upload) = 0;
  // Gives up the lease on entry's replay, which stays queued (a check ended by a stop).
  virtual void ReleaseReplay(int64_t entry) = 0;
  // The verifier's verdict on entry's queued replay: verified, or refused for reason. A replay that
  // already has its verdict keeps it.
  void SetVerdict(int64_t entry, bool verified, const std::string& reason, int64_t now);
  // entry's replay state and reason; false when the entry has no ticket.
  virtual bool ReplayStateOf(int64_t entry, TReplayStatus& state, std::string& reason) = 0;
  // The bytes of entry's replay when it was verified; false otherwise.
  virtual bool VerifiedReplay(int64_t entry, std::string& data) = 0;

  // Who may hand in a result, with this store keeping the entries: the tokens and rate counts in this
  // process's memory (SQLite), or in the database every server shares (PostgreSQL).
  virtual std::unique_ptr<TAdmission> MakeAdmission(const TAdmissionLimits& limits);

  // Grows whenever this object stores an entry or a verdict: what was read before is out of date.
  uint64_t Changes() const { return ChangeCount.load(); }
  // The store's name as it may be shown (no password).
  const std::string& Path() const { return Name; }

  // For a stop: every wait on the database, those under way and those to come, ends within
  // milliseconds, failing with EStoreError. Statements under way are cancelled. (SQLite, a local file,
  // has nothing to wait for.)
  virtual void StopWaiting(int milliseconds) { (void)milliseconds; }

 protected:
  explicit TScoreStore(std::string shownName) : Name(std::move(shownName)) {}

  // A ticket's row as an upload finds it.
  struct TTicketRow {
    int64_t Entry = 0;
    int64_t Expires = 0;     // seconds since 1970
    bool HasReplay = false;  // one was uploaded with it already
    TReplayStatus State = TReplayStatus::rsAwaiting;
    bool HasSeed = false;  // its entry's challenge's seed
    uint32_t Seed = 0;
  };
  virtual int64_t InsertEntry(const TStoredEntry& entry, TEntryProof& proof) = 0;
  // False when no entry has this ticket.
  virtual bool FindTicket(const std::string& ticket, TTicketRow& row) = 0;
  // Stores data as entry's replay, queued, unless one is stored already (then false): of two uploads
  // with one ticket, the first to be written is the one kept.
  virtual bool QueueReplay(int64_t entry, const std::string& data, const std::string& address) = 0;
  // Stores data as entry's replay, refused for reason, unless one is stored already (then false).
  virtual bool RefuseReplay(int64_t entry, const std::string& data, const std::string& reason,
                            int64_t now) = 0;
  virtual void WriteVerdict(int64_t entry, bool verified, const std::string& reason, int64_t now) = 0;
  // For a store that stores entries in other ways too (a shared admission's).
  void NoteChange() { ++ChangeCount; }

  // sql with "{awaiting}", "{queued}", "{verified}", "{refused}" and "{unchecked}" replaced by
  // TReplayStatus's values.
  static std::string WithReplayStates(const char* sql);
  // What the world table says of an entry whose replay row has state (hasRow false: none), its ticket
  // good until expires, at now.
  static TStoredEntry::TCheck CheckOf(bool hasRow, int state, int64_t expires, int64_t now);

 private:
  const std::string Name;
  std::atomic<uint64_t> ChangeCount{0};
};

// How long a PostgreSQL store waits for its database: a request that needs it fails past these.
struct TDbTimeouts {
  int ConnectSeconds = 2;    // a new connection, from its start to its first statement
  int StatementSeconds = 5;  // one statement's answer (also the database's own statement_timeout)
};

// Opens where: a PostgreSQL URI, or else the path of an SQLite file, created when missing. The schema
// is created or brought up to date first (on PostgreSQL by the first server to start, under an advisory
// lock, the others waiting). fullSync (SQLite): each commit waits for the disk; otherwise a commit
// survives the process dying but the last ones may be lost if the machine does (PostgreSQL commits as
// its server is configured). readFrom: a PostgreSQL URI the world table is read from (a replica), empty
// for where itself. connections: the most PostgreSQL connections held at once, each. Throws EStoreError
// naming the store. timeouts: PostgreSQL's.
std::unique_ptr<TScoreStore> OpenScoreStore(const std::string& where, bool fullSync,
                                            const std::string& readFrom = {}, int connections = 8,
                                            const TDbTimeouts& timeouts = {});
// The two stores, each in its own file.
std::unique_ptr<TScoreStore> OpenSqliteStore(const std::string& path, bool fullSync);
std::unique_ptr<TScoreStore> OpenPgStore(const std::string& uri, const std::string& readFrom, int connections,
                                         const TDbTimeouts& timeouts);

// Whether where names a PostgreSQL database ("postgresql://..." or "postgres://...") rather than a file.
bool IsPostgresUri(const std::string& where);
// where as it may be shown: a URI's password replaced by "***".
std::string ShownStoreName(const std::string& where);
