#pragma once
// The service without its sockets and threads: the sessions, the counters and the roles behind
// their table. TService runs it on two sockets with a worker pool and a housekeeping thread;
// tests and the fuzzer drive it directly, with recording senders, a pool of no threads (answers
// come before Dispatch returns) and a manual clock.
#include <cstddef>
#include <cstdint>

#include "net/LREncrypt.h"
#include "service/Catalogue.h"
#include "service/RoleTable.h"
#include "service/ServiceContext.h"
#include "service/ServiceSecurity.h"
#include "service/SessionStore.h"

namespace mlsvc {

class TServiceCore {
public:
  // How often the service calls Housekeep at most.
  static constexpr int64_t HousekeepingMs = 50;

  // cfg must have the advertised address and port resolved and outlive the core, and so must
  // log; cfg.DbPath names store's database, to which the catalogue opens a connection of its own.
  // Restores the sessions of the database that are still alive.
  TServiceCore(const TServiceConfig& cfg, TServiceStore& store, const ml::TClock& clock,
               TDatagramSender& listSocket, TDatagramSender& mainSocket, TWorkPool& workers, TServiceLog& log);
  TServiceCore(const TServiceCore&) = delete;
  TServiceCore& operator=(const TServiceCore&) = delete;

  // One opened datagram from ip:port at a socket, sent to localIP (0: unknown), through the role
  // table; false when no role took it.
  bool Dispatch(TServer server, const ml::TOpenedEnvelope& env, uint32_t ip, uint16_t port, uint32_t localIP = 0);
  // What waits for time to pass: the roles' deadlines at every call, the sessions' expiry and
  // last-seen writes once a second. Returns how soon (ms, at most HousekeepingMs) it wants to be
  // called again.
  int64_t Housekeep();
  // Writes the last-seen times that changed (before the service goes).
  void WriteLastSeen() { sessions_.WriteLastSeen(); }

  TSessionStore& Sessions() { return sessions_; }
  const TServiceCounters& Counters() const { return counters_; }
  TCatalogue& Catalogue() { return catalogue_; }

private:
  TCatalogue catalogue_;  // before the roles, which write their last counts to it as they go
  TSessionStore sessions_;
  TServiceCounters counters_;
  TRateLimiter replyBudget_;
  TServiceContext ctx_;
  TRoleTable roles_;
  int64_t lastExpiryMs_;
};

}  // namespace mlsvc
