// Who may hand in a result: the handshake's token, taken by the one result it is good for, and the
// per-address limits on handshakes and results. One interface, chosen with the store
// (TScoreStore::MakeAdmission): a local admission keeps the tokens and counts in this process's memory,
// the shared one (PostgreSQL) in the database every server shares. The handlers never ask which.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

class TScoreStore;
struct TStoredEntry;
struct TEntryProof;

// As the server's options set them (server_options.h).
struct TAdmissionLimits {
  int TokenLifetime = 0;        // seconds a token is good for
  int MaxTokens = 0;            // tokens held at once, in all (at least 1)
  int MaxTokensPerAddress = 0;  // tokens held at once by one client address (at least 1)
  int MaxPerMinute = 0;         // handshakes, and results, per address and minute; 0: no limit
  int MaxTrackedAddresses = 0;  // addresses whose requests are counted at once (local only; at least 1)
};

// What became of a token a result showed.
enum class TTokenTake { tkTaken, tkUnknown, tkOtherSession, tkExpired };

// The requests counted per address, each kind on its own.
enum class TRequestKind { rkHandshake, rkResult, rkChallenge };

class TAdmission {
 public:
  virtual ~TAdmission() = default;
  // Counts one request of kind from address; false (and not counted) when it already sent its limit in
  // the minute before now. Throws EStoreError when it cannot count.
  virtual bool Allow(TRequestKind kind, const std::string& address) = 0;
  // A fresh token good for one result from session. When address holds too many its oldest goes, so a
  // handshake is never turned away. Throws EStoreError.
  virtual std::string Handshake(const std::string& session, const std::string& address) = 0;
  // Takes token for session and, when it was good, stores entry with its replay row as proof says (as
  // TScoreStore::Insert does, which fills proof's Taken): the token is spent only when the entry is
  // stored. A token shown from another session stays for its own; an expired one is dropped. Throws
  // EStoreError when the entry cannot be stored.
  virtual TTokenTake TakeAndStore(const std::string& token, const std::string& session,
                                  const std::string& address, const TStoredEntry& entry,
                                  TEntryProof& proof) = 0;
};

// The tokens and counts in this process's memory, the entries in store.
std::unique_ptr<TAdmission> MakeLocalAdmission(TScoreStore& store, const TAdmissionLimits& limits);
