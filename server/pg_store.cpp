// The world table, the replays and their queue, the tokens and the rate counts in a PostgreSQL
// database that any number of servers and verification workers share, each store over a pool of its
// own (pg_pool.h); its admission (pg_admission.h) keeps the tokens and rate counts in the database too.
#include <cstring>
#include <ctime>
#include <memory>
#include <vector>

#include "server/pg_admission.h"
#include "server/pg_pool.h"
#include "server/score_store.h"

namespace {

// Held while the schema is created or updated, so that of servers starting together one does it.
constexpr int64_t kSchemaLock = 0x70656c6c6f72;

// The schema, one step per version: step i brings a database of version i to version i + 1. Each runs
// in the transaction that records its version.
const char* const kMigrations[] = {
    R"sql(
CREATE TABLE scores (
  id bigserial PRIMARY KEY,
  name text NOT NULL CHECK (length(name) <= 10),
  country text NOT NULL CHECK (length(country) <= 10),
  score integer NOT NULL CHECK (score BETWEEN 0 AND 65535),
  submitted bigint NOT NULL);
CREATE INDEX scores_best ON scores (score DESC, id);
-- expires, checked, leased: seconds since 1970; state: 0 awaiting, 1 queued, 2 verified, 3 refused.
CREATE TABLE replays (
  entry bigint PRIMARY KEY REFERENCES scores (id),
  ticket text NOT NULL UNIQUE,
  expires bigint NOT NULL,
  data bytea,
  state integer NOT NULL DEFAULT 0,
  reason text,
  checked bigint,
  leased bigint);
CREATE INDEX replays_state ON replays (state, entry);
CREATE TABLE tokens (
  token text PRIMARY KEY,
  session text NOT NULL,
  address text NOT NULL,
  expires timestamptz NOT NULL,
  serial bigserial NOT NULL);
CREATE INDEX tokens_address ON tokens (address, serial);
CREATE INDEX tokens_expires ON tokens (expires);
CREATE INDEX tokens_serial ON tokens (serial);
CREATE TABLE rate_hits (kind text NOT NULL, address text NOT NULL, at timestamptz NOT NULL);
CREATE INDEX rate_hits_address ON rate_hits (kind, address, at);
CREATE INDEX rate_hits_at ON rate_hits (at);

-- No row is shared by all handshakes: the capacity is kept by serial, a token going once capacity
-- newer ones were issued (a little sooner than a count would drop it, as tokens taken meanwhile are
-- counted too), and every deletion that may meet a row another transaction holds skips it.
CREATE FUNCTION pellorin_issue_token(p_token text, p_session text, p_address text, p_lifetime integer,
                                     p_per_address integer, p_capacity bigint) RETURNS void
LANGUAGE plpgsql AS $$
DECLARE
  issued bigint;
BEGIN
  PERFORM pg_advisory_xact_lock(hashtextextended('pellorin token ' || p_address, 0));
  DELETE FROM tokens WHERE token = ANY (ARRAY(
    SELECT token FROM tokens WHERE expires <= now() ORDER BY expires LIMIT 16 FOR UPDATE SKIP LOCKED));
  DELETE FROM tokens WHERE token = ANY (ARRAY(
    SELECT token FROM tokens WHERE address = p_address ORDER BY serial DESC OFFSET p_per_address - 1
    FOR UPDATE SKIP LOCKED));
  INSERT INTO tokens (token, session, address, expires)
    VALUES (p_token, p_session, p_address, now() + make_interval(secs => p_lifetime))
    ON CONFLICT (token) DO NOTHING
    RETURNING serial INTO issued;
  IF issued > p_capacity THEN
    DELETE FROM tokens WHERE token = ANY (ARRAY(
      SELECT token FROM tokens WHERE serial <= issued - p_capacity ORDER BY serial LIMIT 64
      FOR UPDATE SKIP LOCKED));
  END IF;
END $$;

-- 0 taken, 1 unknown, 2 another session's, 3 expired. Of two takers at once the second waits for the
-- first's row lock, then finds the row gone.
CREATE FUNCTION pellorin_take_token(p_token text, p_session text) RETURNS integer
LANGUAGE plpgsql AS $$
DECLARE
  owner text;
  until timestamptz;
BEGIN
  SELECT session, expires INTO owner, until FROM tokens WHERE token = p_token FOR UPDATE;
  IF NOT FOUND THEN
    RETURN 1;
  END IF;
  IF until > now() AND owner <> p_session THEN
    RETURN 2;
  END IF;
  DELETE FROM tokens WHERE token = p_token;
  IF until <= now() THEN
    RETURN 3;
  END IF;
  RETURN 0;
END $$;

-- A sliding minute per kind and address; the hits of the minute are its rows, and a few rows of
-- minutes gone are swept on every call.
CREATE FUNCTION pellorin_allow(p_kind text, p_address text, p_per_minute integer) RETURNS boolean
LANGUAGE plpgsql AS $$
DECLARE
  n integer;
BEGIN
  PERFORM pg_advisory_xact_lock(hashtextextended('pellorin rate ' || p_kind || ' ' || p_address, 0));
  DELETE FROM rate_hits WHERE ctid = ANY (ARRAY(
    SELECT ctid FROM rate_hits WHERE at <= now() - interval '1 minute' ORDER BY at LIMIT 16
    FOR UPDATE SKIP LOCKED));
  DELETE FROM rate_hits WHERE kind = p_kind AND address = p_address AND at <= now() - interval '1 minute';
  SELECT count(*) INTO n FROM rate_hits WHERE kind = p_kind AND address = p_address;
  IF n >= p_per_minute THEN
    RETURN false;
  END IF;
  INSERT INTO rate_hits VALUES (p_kind, p_address, now());
  RETURN true;
END $$;
)sql",
    // The challenges, and the seed of each entry's challenge beside its replay (NULL: none was taken;
    // state 4: stored unchecked, reason says why).
    R"sql(
ALTER TABLE replays ADD COLUMN seed bigint;
-- issued: seconds since 1970 by the database's clock; serial: the order of issue.
CREATE TABLE challenges (
  id text PRIMARY KEY,
  seed bigint NOT NULL,
  address text NOT NULL,
  issued bigint NOT NULL,
  serial bigserial NOT NULL);
CREATE INDEX challenges_address ON challenges (address, serial);
CREATE INDEX challenges_issued ON challenges (issued);
CREATE INDEX challenges_serial ON challenges (serial);

-- As pellorin_issue_token: a few expired ones go, then the address's oldest past its share; a
-- challenge goes once p_capacity newer ones were issued.
CREATE FUNCTION pellorin_issue_challenge(p_id text, p_seed bigint, p_address text, p_lifetime integer,
                                         p_per_address integer, p_capacity bigint) RETURNS void
LANGUAGE plpgsql AS $$
DECLARE
  issued_serial bigint;
  now_seconds bigint := extract(epoch FROM now())::bigint;
BEGIN
  PERFORM pg_advisory_xact_lock(hashtextextended('pellorin challenge ' || p_address, 0));
  DELETE FROM challenges WHERE id = ANY (ARRAY(
    SELECT id FROM challenges WHERE issued <= now_seconds - p_lifetime ORDER BY issued LIMIT 16
    FOR UPDATE SKIP LOCKED));
  DELETE FROM challenges WHERE id = ANY (ARRAY(
    SELECT id FROM challenges WHERE address = p_address ORDER BY serial DESC OFFSET p_per_address - 1
    FOR UPDATE SKIP LOCKED));
  INSERT INTO challenges (id, seed, address, issued) VALUES (p_id, p_seed, p_address, now_seconds)
    RETURNING serial INTO issued_serial;
  IF issued_serial > p_capacity THEN
    DELETE FROM challenges WHERE id = ANY (ARRAY(
      SELECT id FROM challenges WHERE serial <= issued_serial - p_capacity ORDER BY serial LIMIT 64
      FOR UPDATE SKIP LOCKED));
  END IF;
END $$;
)sql",
};
constexpr int kSchemaVersion = static_cast<int>(sizeof kMigrations / sizeof kMigrations[0]);

// Each replay's uploading address, and when its latest check started (milliseconds since 1970), for the
// addresses' turns at the workers: added, whatever the version, to a table made without them.
const char* const kReplayAddressColumns = R"sql(
ALTER TABLE replays ADD COLUMN IF NOT EXISTS address text;
ALTER TABLE replays ADD COLUMN IF NOT EXISTS started bigint;
CREATE INDEX IF NOT EXISTS replays_address ON replays (address, started);
)sql";

class TPgStore final : public TScoreStore {
 public:
  // Connects to uri (at most connections at once). setUp: creates or updates the schema; otherwise
  // (a read replica) the schema must be there already. Throws EStoreError naming the database.
  TPgStore(const std::string& uri, int connections, bool setUp, const TDbTimeouts& timeouts);

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
  std::unique_ptr<TAdmission> MakeAdmission(const TAdmissionLimits& limits) override;
  void StopWaiting(int milliseconds) override {
    Pool.StopWaiting(milliseconds);
    if (Replica) Replica->StopWaiting(milliseconds);
  }

  // The world table is read from the replica at uri from now on.
  void ReadFrom(const std::string& uri, int connections, const TDbTimeouts& timeouts) {
    Replica = std::make_unique<TPgStore>(uri, connections, false, timeouts);
  }

 private:
  int64_t InsertEntry(const TStoredEntry& entry, TEntryProof& proof) override;
  bool FindTicket(const std::string& ticket, TTicketRow& row) override;
  bool QueueReplay(int64_t entry, const std::string& data, const std::string& address) override;
  bool RefuseReplay(int64_t entry, const std::string& data, const std::string& reason, int64_t now) override;
  void WriteVerdict(int64_t entry, bool verified, const std::string& reason, int64_t now) override;

  void SetUpSchema();

  TPgPool Pool;
  std::unique_ptr<TPgStore> Replica;  // where Best reads, or null for this database
};

TPgStore::TPgStore(const std::string& uri, int connections, bool setUp, const TDbTimeouts& timeouts)
    : TScoreStore(ShownStoreName(uri)),
      Pool(uri, connections, timeouts.ConnectSeconds, timeouts.StatementSeconds) {
  if (setUp) {
    SetUpSchema();
    return;
  }
  TPgConnection c(Pool);
  TResult version = c.Run("cannot read", "SELECT max(version) FROM pellorin_schema");
  if (PQntuples(version.get()) != 1 || NumberField(version.get(), 0, 0) > kSchemaVersion)
    throw EStoreError("%s: the table is of a version this server does not know", Path().c_str());
}

void TPgStore::SetUpSchema() {
  TPgConnection c(Pool);
  c.Run("cannot set up", "BEGIN");
  c.Run("cannot set up", "SELECT pg_advisory_xact_lock($1)", {Number(kSchemaLock)});
  c.Run("cannot set up", "CREATE TABLE IF NOT EXISTS pellorin_schema (version integer NOT NULL)");
  TResult found = c.Run("cannot set up", "SELECT coalesce(max(version), 0) FROM pellorin_schema");
  const int64_t version = NumberField(found.get(), 0, 0);
  if (version > kSchemaVersion)
    throw EStoreError("%s: the table is of a newer version (%lld) than this server knows (%d)",
                      Path().c_str(), static_cast<long long>(version), kSchemaVersion);
  for (int64_t step = version; step < kSchemaVersion; ++step) c.RunScript("cannot set up", kMigrations[step]);
  if (version < kSchemaVersion) {
    c.Run("cannot set up", "DELETE FROM pellorin_schema");
    c.Run("cannot set up", "INSERT INTO pellorin_schema VALUES ($1)", {Number(kSchemaVersion)});
  }
  // Altered only when a column is missing, so that a start takes no lock on the replays otherwise.
  TResult missing =
      c.Run("cannot set up",
            "SELECT count(*) FROM information_schema.columns WHERE table_schema = "
            "current_schema() AND table_name = 'replays' AND column_name IN ('address', 'started')");
  if (NumberField(missing.get(), 0, 0) < 2) c.RunScript("cannot set up", kReplayAddressColumns);
  // A failure leaves the connection in its failed transaction: it is closed when it goes back, which
  // rolls the transaction back.
  c.Run("cannot set up", "COMMIT");
}

int64_t TPgStore::InsertEntry(const TStoredEntry& entry, TEntryProof& proof) {
  // The entry, the taking of its challenge and its replay row in one statement, so in one transaction.
  static const std::string kInsert = WithReplayStates(
      "WITH e AS (INSERT INTO scores (name, country, score, submitted) VALUES ($1, $2, $3, $4) RETURNING "
      "id), "
      "c AS (DELETE FROM challenges WHERE $7::boolean AND id = $8::text AND $5::text <> '' "
      "RETURNING seed, issued > extract(epoch FROM now())::bigint - $9::integer AS good), "
      "t AS (INSERT INTO replays (entry, ticket, expires, state, reason, seed) SELECT e.id, $5::text, "
      "CASE WHEN c.good THEN $6::bigint ELSE $4::bigint END, "
      "CASE WHEN c.good THEN {awaiting} ELSE {unchecked} END, "
      "CASE WHEN c.good THEN NULL WHEN $7::boolean THEN $10::text ELSE $11::text END, "
      "CASE WHEN c.good THEN c.seed END FROM e LEFT JOIN c ON true WHERE $5::text <> '') "
      "SELECT e.id, coalesce((SELECT good FROM c), false) FROM e");
  TPgConnection c(Pool);
  TResult r = c.Run("cannot store an entry in", kInsert.c_str(),
                    {Text(entry.Name), Text(entry.Country), Number(entry.Score), Number(entry.Submitted),
                     Text(proof.Ticket), Number(proof.TicketExpires), Text(proof.Quoted ? "true" : "false"),
                     Text(proof.Challenge), Number(proof.ChallengeLifetime), Text(kBadChallengeReason),
                     Text(kNoChallengeReason)});
  proof.Taken = !proof.Ticket.empty() && Field(r.get(), 0, 1) == "t";
  return NumberField(r.get(), 0, 0);
}

void TPgStore::IssueChallenge(const std::string& id, uint32_t seed, const std::string& address, int64_t,
                              const TChallengeLimits& limits) {
  TPgConnection c(Pool);
  c.Run("cannot issue a challenge in", "SELECT pellorin_issue_challenge($1, $2, $3, $4, $5, $6)",
        {Text(id), Number(seed), Text(address), Number(limits.Lifetime), Number(limits.MaxPerAddress),
         Number(limits.MaxChallenges)});
}

std::vector<TStoredEntry> TPgStore::Best(int limit, bool verifiedOnly) {
  static const std::string kBestVerified = WithReplayStates(
      "SELECT s.id, s.name, s.country, s.score, s.submitted, r.state, r.expires FROM scores s JOIN replays r "
      "ON r.entry "
      "= "
      "s.id AND r.state = {verified} ORDER BY s.score DESC, s.id LIMIT $1");
  if (Replica) return Replica->Best(limit, verifiedOnly);
  TPgConnection c(Pool);
  TResult r =
      c.Run("cannot read the table of",
            verifiedOnly ? kBestVerified.c_str()
                         : "SELECT s.id, s.name, s.country, s.score, s.submitted, r.state, r.expires FROM "
                           "scores s "
                           "LEFT JOIN replays r ON r.entry = s.id ORDER BY s.score DESC, s.id LIMIT $1",
            {Number(limit)});
  const int64_t now = static_cast<int64_t>(std::time(nullptr));
  std::vector<TStoredEntry> entries;
  for (int row = 0; row < PQntuples(r.get()); ++row) {
    TStoredEntry e;
    e.Id = NumberField(r.get(), row, 0);
    e.Name = Field(r.get(), row, 1);
    e.Country = Field(r.get(), row, 2);
    e.Score = static_cast<uint16_t>(NumberField(r.get(), row, 3));
    e.Submitted = NumberField(r.get(), row, 4);
    e.Verified = !PQgetisnull(r.get(), row, 5) &&
                 NumberField(r.get(), row, 5) == static_cast<int>(TReplayStatus::rsVerified);
    e.Check = CheckOf(!PQgetisnull(r.get(), row, 5), static_cast<int>(NumberField(r.get(), row, 5)),
                      NumberField(r.get(), row, 6), now);
    entries.push_back(std::move(e));
  }
  return entries;
}

int64_t TPgStore::Count() {
  TPgConnection c(Pool);
  return NumberField(c.Run("cannot count the entries of", "SELECT count(*) FROM scores").get(), 0, 0);
}

bool TPgStore::FindTicket(const std::string& ticket, TTicketRow& row) {
  TPgConnection c(Pool);
  TResult found = c.Run("cannot read the replays of",
                        "SELECT entry, expires, data IS NOT NULL, state, seed FROM replays WHERE ticket = $1",
                        {Text(ticket)});
  if (PQntuples(found.get()) == 0) return false;
  row.Entry = NumberField(found.get(), 0, 0);
  row.Expires = NumberField(found.get(), 0, 1);
  row.HasReplay = Field(found.get(), 0, 2) == "t";
  row.State = static_cast<TReplayStatus>(NumberField(found.get(), 0, 3));
  row.HasSeed = !PQgetisnull(found.get(), 0, 4);
  row.Seed = static_cast<uint32_t>(NumberField(found.get(), 0, 4));
  return true;
}

bool TPgStore::QueueReplay(int64_t entry, const std::string& data, const std::string& address) {
  static const std::string kQueue = WithReplayStates(
      "UPDATE replays SET data = $1, state = {queued}, address = $3 WHERE entry = $2 AND data IS NULL");
  TPgConnection c(Pool);
  TResult stored =
      c.Run("cannot store a replay in", kQueue.c_str(), {Bytes(data), Number(entry), Text(address)});
  return std::strcmp(PQcmdTuples(stored.get()), "1") == 0;
}

bool TPgStore::RefuseReplay(int64_t entry, const std::string& data, const std::string& reason, int64_t now) {
  static const std::string kRefuse = WithReplayStates(
      "UPDATE replays SET data = $1, state = {refused}, reason = $2, checked = $3 WHERE entry = $4 AND data "
      "IS NULL AND state = {awaiting}");
  TPgConnection c(Pool);
  TResult stored = c.Run("cannot store a replay in", kRefuse.c_str(),
                         {Bytes(data), Text(reason), Number(now), Number(entry)});
  return std::strcmp(PQcmdTuples(stored.get()), "1") == 0;
}

int64_t TPgStore::QueuedCount() {
  static const std::string kCount = WithReplayStates("SELECT count(*) FROM replays WHERE state = {queued}");
  TPgConnection c(Pool);
  return NumberField(c.Run("cannot count the replays of", kCount.c_str()).get(), 0, 0);
}

int64_t TPgStore::QueuedCountFrom(const std::string& address) {
  static const std::string kCount =
      WithReplayStates("SELECT count(*) FROM replays WHERE address = $1 AND state = {queued}");
  TPgConnection c(Pool);
  return NumberField(c.Run("cannot count the replays of", kCount.c_str(), {Text(address)}).get(), 0, 0);
}

bool TPgStore::ClaimReplay(int leaseSeconds, TReplayUpload& upload) {
  // A replay another worker is claiming at this moment is skipped, not waited for. The addresses in
  // turn: the one whose last check started longest ago, or never, first.
  static const std::string kClaim = WithReplayStates(
      "UPDATE replays r SET leased = extract(epoch FROM now())::bigint + $1, "
      "started = (extract(epoch FROM clock_timestamp()) * 1000)::bigint FROM scores s "
      "WHERE r.entry = (SELECT q.entry FROM replays q WHERE q.state = {queued} AND (q.leased IS NULL OR "
      "q.leased <= extract(epoch FROM now())::bigint) ORDER BY (SELECT max(x.started) FROM replays x WHERE "
      "x.address = q.address) NULLS FIRST, q.entry LIMIT 1 FOR UPDATE OF q SKIP LOCKED) AND s.id = r.entry "
      "RETURNING r.entry, s.score, r.data");
  TPgConnection c(Pool);
  TResult r = c.Run("cannot claim a replay in", kClaim.c_str(), {Number(leaseSeconds)});
  if (PQntuples(r.get()) == 0) return false;
  upload.Entry = NumberField(r.get(), 0, 0);
  upload.Score = static_cast<uint16_t>(NumberField(r.get(), 0, 1));
  upload.Data = BytesField(r.get(), 0, 2);
  return true;
}

void TPgStore::ReleaseReplay(int64_t entry) {
  static const std::string kRelease =
      WithReplayStates("UPDATE replays SET leased = NULL WHERE entry = $1 AND state = {queued}");
  TPgConnection c(Pool);
  c.Run("cannot release a replay in", kRelease.c_str(), {Number(entry)});
}

void TPgStore::WriteVerdict(int64_t entry, bool verified, const std::string& reason, int64_t now) {
  static const std::string kVerdict = WithReplayStates(
      "UPDATE replays SET state = $1, reason = $2, checked = $3, leased = NULL WHERE entry = $4 AND state = "
      "{queued}");
  TPgConnection c(Pool);
  c.Run("cannot store a verdict in", kVerdict.c_str(),
        {Number(static_cast<int>(verified ? TReplayStatus::rsVerified : TReplayStatus::rsRefused)),
         verified ? Null() : Text(reason), Number(now), Number(entry)});
}

bool TPgStore::ReplayStateOf(int64_t entry, TReplayStatus& state, std::string& reason) {
  TPgConnection c(Pool);
  TResult r = c.Run("cannot read the replays of", "SELECT state, reason FROM replays WHERE entry = $1",
                    {Number(entry)});
  if (PQntuples(r.get()) == 0) return false;
  state = static_cast<TReplayStatus>(NumberField(r.get(), 0, 0));
  reason = Field(r.get(), 0, 1);
  return true;
}

bool TPgStore::VerifiedReplay(int64_t entry, std::string& data) {
  TPgConnection c(Pool);
  static const std::string kVerified =
      WithReplayStates("SELECT data FROM replays WHERE entry = $1 AND state = {verified}");
  TResult r = c.Run("cannot read the replays of", kVerified.c_str(), {Number(entry)});
  if (PQntuples(r.get()) == 0) return false;
  data = BytesField(r.get(), 0, 0);
  return true;
}

// ---------------------------------------------------------------------------- tokens and rate counts

std::unique_ptr<TAdmission> TPgStore::MakeAdmission(const TAdmissionLimits& limits) {
  return MakePgAdmission(
      Pool, [this] { NoteChange(); }, limits);
}

}  // namespace

std::unique_ptr<TScoreStore> OpenPgStore(const std::string& uri, const std::string& readFrom, int connections,
                                         const TDbTimeouts& timeouts) {
  auto store = std::make_unique<TPgStore>(uri, connections, true, timeouts);
  if (!readFrom.empty()) store->ReadFrom(readFrom, connections, timeouts);
  return store;
}
