#include "server/pg_admission.h"

#include <functional>
#include <utility>

#include "server/admission.h"
#include "server/random.h"
#include "server/score_store.h"

namespace {

// The admission of servers sharing the database: every server hands out, takes and counts in it. Times
// are the database's clock, so that every server agrees on them.
class TPgAdmission final : public TAdmission {
 public:
  TPgAdmission(TPgPool& pool, std::function<void()> stored, const TAdmissionLimits& limits)
      : Pool(pool), Stored(std::move(stored)), Limits(limits) {}

  // A sliding minute per kind and address (pellorin_allow).
  bool Allow(TRequestKind kind, const std::string& address) override {
    if (Limits.MaxPerMinute == 0) return true;
    TPgConnection c(Pool);
    TResult r = c.Run("cannot count requests in", "SELECT pellorin_allow($1, $2, $3)",
                      {Text(kind == TRequestKind::rkHandshake ? "h"
                            : kind == TRequestKind::rkResult  ? "r"
                                                              : "c"),
                       Text(address), Number(Limits.MaxPerMinute)});
    return Field(r.get(), 0, 0) == "t";
  }

  // Past MaxTokensPerAddress tokens from address its oldest goes; a token goes, too, once MaxTokens newer
  // ones were issued; a few expired ones go on every call (pellorin_issue_token).
  std::string Handshake(const std::string& session, const std::string& address) override {
    const std::string token = RandomHex(16);
    TPgConnection c(Pool);
    c.Run("cannot issue a token in", "SELECT pellorin_issue_token($1, $2, $3, $4, $5, $6)",
          {Text(token), Text(session), Text(address), Number(Limits.TokenLifetime),
           Number(Limits.MaxTokensPerAddress), Number(Limits.MaxTokens)});
    return token;
  }

  // Once only, whichever server asks: the token is taken in the transaction that stores the entry.
  TTokenTake TakeAndStore(const std::string& token, const std::string& session, const std::string&,
                          const TStoredEntry& entry, TEntryProof& proof) override {
    // One statement, so one transaction: the entry is stored only when the token was taken, and the
    // challenge it quotes taken with it (of two results quoting one, the second waits for the first's
    // row lock, then finds the row gone).
    static const char* const kTakeAndStore =
        "WITH t AS (SELECT pellorin_take_token($1, $2) AS took), "
        "e AS (INSERT INTO scores (name, country, score, submitted) SELECT $3::text, $4::text, "
        "$5::integer, $6::bigint FROM t WHERE took = 0 RETURNING id), "
        "c AS (DELETE FROM challenges WHERE $9::boolean AND id = $10::text AND $7::text <> '' AND "
        "EXISTS (SELECT 1 FROM e) RETURNING seed, issued > extract(epoch FROM now())::bigint - "
        "$11::integer AS good), "
        "r AS (INSERT INTO replays (entry, ticket, expires, state, reason, seed) SELECT e.id, $7::text, "
        "CASE WHEN c.good THEN $8::bigint ELSE $6::bigint END, "
        "CASE WHEN c.good THEN $14::integer ELSE $15::integer END, "
        "CASE WHEN c.good THEN NULL WHEN $9::boolean THEN $12::text ELSE $13::text END, "
        "CASE WHEN c.good THEN c.seed END FROM e LEFT JOIN c ON true WHERE $7::text <> '') "
        "SELECT t.took, e.id, coalesce((SELECT good FROM c), false) FROM t LEFT JOIN e ON true";
    TPgConnection c(Pool);
    TResult r = c.Run("cannot store an entry in", kTakeAndStore,
                      {Text(token), Text(session), Text(entry.Name), Text(entry.Country), Number(entry.Score),
                       Number(entry.Submitted), Text(proof.Ticket), Number(proof.TicketExpires),
                       Text(proof.Quoted ? "true" : "false"), Text(proof.Challenge),
                       Number(proof.ChallengeLifetime), Text(kBadChallengeReason), Text(kNoChallengeReason),
                       Number(static_cast<int>(TReplayStatus::rsAwaiting)),
                       Number(static_cast<int>(TReplayStatus::rsUnchecked))});
    proof.Taken = false;
    switch (NumberField(r.get(), 0, 0)) {
      case 0:
        proof.Taken = !proof.Ticket.empty() && Field(r.get(), 0, 2) == "t";
        Stored();
        return TTokenTake::tkTaken;
      case 2:
        return TTokenTake::tkOtherSession;
      case 3:
        return TTokenTake::tkExpired;
      default:
        return TTokenTake::tkUnknown;
    }
  }

 private:
  TPgPool& Pool;
  const std::function<void()> Stored;  // called when an entry is stored
  const TAdmissionLimits Limits;
};

}  // namespace

std::unique_ptr<TAdmission> MakePgAdmission(TPgPool& pool, std::function<void()> stored,
                                            const TAdmissionLimits& limits) {
  return std::make_unique<TPgAdmission>(pool, std::move(stored), limits);
}
