#pragma once
// The live sessions. They are kept in memory for the hot path (a keep-alive never touches the
// database) and written through: a login inserts, a logout deletes, the last-seen times go out
// once a second, and a restart reloads those that have not yet expired.
//
// Their number is bounded, since an anonymous login needs no credentials and its source may be
// forged: at most MaxSessions in all and MaxAnonymousPerNet anonymous ones per /24. A new
// session beyond a bound takes the place of the oldest-idle one (of the whole store, or of the
// /24's anonymous ones), and sessions whose holder never proved itself go first: a forged
// source never learns the key, so its anonymous sessions never are kept alive.
//
// One lock guards the sessions. Helpers that work under it take the caller's lock as a
// parameter, so a role holds the lock exactly as long as it looks at a session, and a call
// without it does not compile; whole operations take the lock themselves and reach the
// database only after letting it go.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "service/ServiceConfig.h"

namespace mlsvc {

class TServiceStore;

struct TSession {
  int32_t LoginKey = 0;
  uint32_t IP = 0;  // network order, as the service saw the client at login
  uint16_t Port = 0;
  uint32_t LocalIP = 0;  // as the client reported it
  uint8_t NetKind = 0;   // the latest the client reported or the network-type check found
  // The client's keep-alive period: its thread fixed it from the network kind it logged in
  // with (or an earlier session's, see longPeriodEndpoints_), so a later change of kind does not
  // change it.
  int64_t PeriodMs = 0;
  bool Account = false;  // false: an anonymous connect
  // Its holder has shown itself: with a password at login, or with a keep-alive (which needs the
  // key that only the login's answer carried). A forged source can do neither.
  bool Proven = false;
  int64_t LastSeenMs = 0;
  bool Dirty = false;  // LastSeenMs not yet written
};

class TSessionStore {
public:
  using TLock = std::unique_lock<std::mutex>;
  // Anonymous numbers come from a range of their own, above every account number.
  static constexpr uint32_t AnonymousLow = 100000000, AnonymousHigh = 536870910;

  // The periods and the bounds of cfg are read (and kept).
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
  // Starts (or replaces) user's session; its PeriodMs follows from its NetKind, or is the longer
  // period a proven client at the same address and port reports by. Makes room within the bounds
  // first.
  void Begin(int32_t user, TSession session);
  // Under the caller's lock: s's holder has shown itself (see TSession::Proven).
  void Prove(const TLock& lock, TSession& s);
  // Ends user's session when key, ip and port hold it; false (nothing changes) otherwise.
  bool End(int32_t user, int32_t key, uint32_t ip, uint16_t port);
  // Ends the sessions that missed their periods at nowMs and writes the last-seen times that
  // changed.
  void Expire(int64_t nowMs);
  // Writes the last-seen times that changed (before the service goes).
  void WriteLastSeen();
  size_t Count();
  uint64_t Evicted() const { return evicted_.load(); }

  // The keep-alive period of a client that logged in with netKind.
  int64_t PeriodFor(uint8_t netKind) const;
  // How long a session lives without a keep-alive: its client's period times the periods missed.
  int64_t Lifetime(const TSession& s) const { return keepAlivePeriods_ * s.PeriodMs; }

private:
  using TMap = std::unordered_map<int32_t, TSession>;
  void CheckLock(const TLock& lock) const;
  void Insert(const TLock& lock, int32_t user, const TSession& s);
  TMap::iterator Erase(const TLock& lock, TMap::iterator it);
  // Ends sessions until one more fits each bound that user's new session s counts towards;
  // returns the numbers ended.
  std::vector<int32_t> MakeRoom(const TLock& lock, int32_t user, const TSession& s);

  TServiceStore& db_;
  const int keepAlivePeriods_;
  const int64_t internalPeriodMs_, externalPeriodMs_;
  const size_t maxSessions_, maxAnonymousPerNet_;
  std::mutex mutex_;
  TMap sessions_;
  std::unordered_map<uint32_t, std::vector<int32_t>> anonymousByNet_;  // /24 (network order) -> users
  // A client keeps the keep-alive period its first session began with for as long as it runs,
  // while a later login may send another network kind (the network-type check changed it): a
  // session that began external, then a login sent as internal, and the client still reports
  // every external period. So the address and port of every proven client whose period was the
  // long one are remembered (at most maxSessions_ of them, the oldest forgotten first), and a
  // later session from there is kept by the long period too. Lost at a restart.
  std::unordered_set<uint64_t> longPeriodEndpoints_;
  std::deque<uint64_t> longPeriodOrder_;
  std::atomic<uint64_t> evicted_{0};
};

}  // namespace mlsvc
