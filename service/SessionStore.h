#pragma once
// The live sessions. They are kept in memory for the hot path (a keep-alive never touches the
// database) and written through: a login inserts, a logout deletes, the last-seen times go out
// once a second, and a restart reloads those that have not yet expired.
//
// One lock guards the sessions. Helpers that work under it take the caller's lock as a
// parameter, so a role holds the lock exactly as long as it looks at a session, and a call
// without it does not compile; whole operations take the lock themselves and reach the
// database only after letting it go.
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <unordered_map>

#include "service/ServiceConfig.h"

namespace mlsvc {

class TServiceStore;

struct TSession {
  int32_t LoginKey = 0;
  uint32_t IP = 0;  // network order, as the service saw the client at login
  uint16_t Port = 0;
  uint32_t LocalIP = 0;  // as the client reported it
  uint8_t NetKind = 0;
  bool Account = false;  // false: an anonymous connect
  int64_t LastSeenMs = 0;
  bool Dirty = false;  // LastSeenMs not yet written
};

class TSessionStore {
public:
  using TLock = std::unique_lock<std::mutex>;
  // Anonymous numbers come from a range of their own, above every account number.
  static constexpr uint32_t AnonymousLow = 100000000, AnonymousHigh = 536870910;

  // Only the periods of cfg are read (and kept).
  TSessionStore(TServiceStore& db, const TServiceConfig& cfg);
  TSessionStore(const TSessionStore&) = delete;
  TSessionStore& operator=(const TSessionStore&) = delete;

  [[nodiscard]] TLock Lock() { return TLock(mutex_); }
  // Under the caller's lock: the session of user, or null.
  TSession* Find(const TLock& lock, int32_t user);
  // Under the caller's lock: the session of user if key matches and ip and port are where it
  // logged in from, or null.
  TSession* Bound(const TLock& lock, int32_t user, int32_t key, uint32_t ip, uint16_t port);

  // Reloads the sessions of the database that are alive at nowMs and deletes the others.
  void Restore(int64_t nowMs);
  // A random anonymous number that no live session holds.
  int32_t NewAnonymousID();
  // Starts (or replaces) user's session.
  void Begin(int32_t user, const TSession& session);
  // Ends user's session when key, ip and port hold it; false (nothing changes) otherwise.
  bool End(int32_t user, int32_t key, uint32_t ip, uint16_t port);
  // Ends the sessions that missed their periods at nowMs and writes the last-seen times that
  // changed.
  void Expire(int64_t nowMs);
  // Writes the last-seen times that changed (before the service goes).
  void WriteLastSeen();
  size_t Count();

  // How long a session lives without a keep-alive: its clients' period times the periods missed.
  int64_t Lifetime(uint8_t netKind) const;

private:
  void CheckLock(const TLock& lock) const;

  TServiceStore& db_;
  const int keepAlivePeriods_;
  const int64_t internalPeriodMs_, externalPeriodMs_;
  std::mutex mutex_;
  std::unordered_map<int32_t, TSession> sessions_;
};

}  // namespace mlsvc
