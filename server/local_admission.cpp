// The admission of one server on its own: the token book and the two per-minute limiters in this
// process's memory, built only here.
#include <chrono>

#include "server/admission.h"
#include "server/score_store.h"
#include "server/tokens.h"

namespace {

class TLocalAdmission final : public TAdmission {
 public:
  TLocalAdmission(TScoreStore& store, const TAdmissionLimits& limits)
      : Store(store),
        Tokens(std::chrono::seconds(limits.TokenLifetime), static_cast<size_t>(limits.MaxTokens),
               static_cast<size_t>(limits.MaxTokensPerAddress)),
        HandshakeLimit(limits.MaxPerMinute, static_cast<size_t>(limits.MaxTrackedAddresses)),
        ResultLimit(limits.MaxPerMinute, static_cast<size_t>(limits.MaxTrackedAddresses)),
        ChallengeLimit(limits.MaxPerMinute, static_cast<size_t>(limits.MaxTrackedAddresses)) {}

  bool Allow(TRequestKind kind, const std::string& address) override {
    TRateLimiter& limiter = kind == TRequestKind::rkHandshake ? HandshakeLimit
                            : kind == TRequestKind::rkResult  ? ResultLimit
                                                              : ChallengeLimit;
    return limiter.Allow(address, TServerClock::now());
  }

  std::string Handshake(const std::string& session, const std::string& address) override {
    return Tokens.Issue(session, address, TServerClock::now());
  }

  // The token is taken first and put back when the entry cannot be stored.
  TTokenTake TakeAndStore(const std::string& token, const std::string& session, const std::string& address,
                          const TStoredEntry& entry, TEntryProof& proof) override {
    const auto now = TServerClock::now();
    const TTokenTake taken = Tokens.Take(token, session, now);
    if (taken != TTokenTake::tkTaken) return taken;
    try {
      Store.Insert(entry, proof);
    } catch (const EStoreError&) {
      Tokens.Return(token, session, address, now);
      throw;
    }
    return taken;
  }

 private:
  TScoreStore& Store;
  TTokenBook Tokens;
  TRateLimiter HandshakeLimit;
  TRateLimiter ResultLimit;
  TRateLimiter ChallengeLimit;
};

}  // namespace

std::unique_ptr<TAdmission> MakeLocalAdmission(TScoreStore& store, const TAdmissionLimits& limits) {
  return std::make_unique<TLocalAdmission>(store, limits);
}
