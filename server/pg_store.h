// The world table, the replays and their queue, the tokens and the rate counts in a PostgreSQL
// database that any number of servers and verification workers share. Each object keeps a pool of
// connections, opened as requests need them; a connection found broken is opened anew for the next
// request. Owned by TScoreStore.
#pragma once

#include <condition_variable>
#include <mutex>
#include <vector>

#include "server/score_store.h"

struct pg_conn;

class TPgStore final : public TStoreBackend, public TSharedState {
 public:
  // Connects to uri (at most connections at once). setUp: creates or updates the schema; otherwise
  // (a read replica) the schema must be there already. Throws EStoreError naming the database.
  TPgStore(const std::string& uri, int connections, bool setUp);
  ~TPgStore() override;

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
  TSharedState* Shared() override { return this; }

  void IssueToken(const std::string& token, const std::string& session, const std::string& address,
                  int lifetimeSeconds, int perAddress, int capacity) override;
  TTokenBook::TTake InsertWithToken(const std::string& token, const std::string& session,
                                    const TStoredEntry& entry, const std::string& ticket,
                                    int64_t ticketExpires, int64_t& id) override;
  bool AllowRequest(const char* kind, const std::string& address, int perMinute) override;

  class TConnection;  // a pooled connection, given back when it goes

 private:
  pg_conn* Acquire();
  void Release(pg_conn* connection);
  void SetUpSchema();

  const std::string Uri;
  const std::string Name;  // Uri as shown
  const size_t MaxConnections;
  std::mutex Lock;
  std::condition_variable Returned;
  std::vector<pg_conn*> Idle;
  size_t Open = 0;  // connections made and not closed, idle or in use
};
