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
    TResult r = c.Run(
        "cannot count requests in", "SELECT pellorin_allow($1, $2, $3)",
        {Text(kind == TRequestKind::rkHandshake ? "h" : "r"), Text(address), Number(Limits.MaxPerMinute)});
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
                          const TStoredEntry& entry, const std::string& ticket,
                          int64_t ticketExpires) override {
    TPgConnection c(Pool);
    // One statement, so one transaction: the entry is stored only when the token was taken.
    TResult r =
        c.Run("cannot store an entry in",
              "WITH t AS (SELECT pellorin_take_token($1, $2) AS took), "
              "e AS (INSERT INTO scores (name, country, score, submitted) SELECT $3::text, $4::text, "
              "$5::integer, $6::bigint FROM t WHERE took = 0 RETURNING id), "
              "r AS (INSERT INTO replays (entry, ticket, expires) SELECT id, $7::text, $8::bigint FROM e "
              "WHERE $7::text <> '') "
              "SELECT t.took, e.id FROM t LEFT JOIN e ON true",
              {Text(token), Text(session), Text(entry.Name), Text(entry.Country), Number(entry.Score),
               Number(entry.Submitted), Text(ticket), Number(ticketExpires)});
    switch (NumberField(r.get(), 0, 0)) {
      case 0:
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
