#include "service/SessionStore.h"

#include <cassert>
#include <utility>
#include <vector>

#include "base/DebugTrace.h"
#include "net/WireCodes.h"
#include "service/ServiceSecurity.h"
#include "service/ServiceStore.h"

namespace mlsvc {

using TLastSeen = std::vector<std::pair<int32_t, int64_t>>;

TSessionStore::TSessionStore(TServiceStore& db, const TServiceConfig& cfg)
    : db_(db),
      keepAlivePeriods_(cfg.KeepAlivePeriods),
      internalPeriodMs_(cfg.InternalPeriodMs),
      externalPeriodMs_(cfg.ExternalPeriodMs) {}

int64_t TSessionStore::Lifetime(uint8_t netKind) const {
  return keepAlivePeriods_ * (ml::NetKind::IsExternal(netKind) ? externalPeriodMs_ : internalPeriodMs_);
}

void TSessionStore::CheckLock([[maybe_unused]] const TLock& lock) const {
  assert(lock.owns_lock() && lock.mutex() == &mutex_);
}

TSession* TSessionStore::Find(const TLock& lock, int32_t user) {
  CheckLock(lock);
  auto it = sessions_.find(user);
  return it == sessions_.end() ? nullptr : &it->second;
}

TSession* TSessionStore::Bound(const TLock& lock, int32_t user, int32_t key, uint32_t ip, uint16_t port) {
  TSession* s = Find(lock, user);
  return s && s->LoginKey == key && s->IP == ip && s->Port == port ? s : nullptr;
}

void TSessionStore::Restore(int64_t nowMs) {
  const std::vector<TSessionRow> rows = db_.Sessions();
  std::vector<int32_t> gone;
  {
    auto lock = Lock();
    for (const TSessionRow& r : rows) {
      if (nowMs - r.LastSeenMs > Lifetime(r.NetKind)) {
        gone.push_back(r.UserID);
        continue;
      }
      TSession& s = sessions_[r.UserID];
      s.LoginKey = r.LoginKey;
      s.IP = r.IP;
      s.Port = r.Port;
      s.NetKind = r.NetKind;
      s.Account = r.Account;
      s.LastSeenMs = r.LastSeenMs;
    }
  }
  for (int32_t id : gone) db_.DeleteSession(id);
}

int32_t TSessionStore::NewAnonymousID() {
  for (;;) {
    const auto id = int32_t(SecureRandomRange(AnonymousLow, AnonymousHigh));
    auto lock = Lock();
    if (!Find(lock, id)) return id;
  }
}

void TSessionStore::Begin(int32_t user, const TSession& session) {
  {
    auto lock = Lock();
    sessions_[user] = session;
  }
  db_.PutSession({user, session.LoginKey, session.IP, session.Port, session.NetKind, session.Account,
                  session.LastSeenMs});
}

bool TSessionStore::End(int32_t user, int32_t key, uint32_t ip, uint16_t port) {
  {
    auto lock = Lock();
    if (!Bound(lock, user, key, ip, port)) return false;
    sessions_.erase(user);
  }
  db_.DeleteSession(user);
  return true;
}

void TSessionStore::Expire(int64_t nowMs) {
  TLastSeen touched;
  std::vector<int32_t> gone;
  {
    auto lock = Lock();
    for (auto it = sessions_.begin(); it != sessions_.end();) {
      TSession& s = it->second;
      if (nowMs - s.LastSeenMs > Lifetime(s.NetKind)) {
        gone.push_back(it->first);
        it = sessions_.erase(it);
        continue;
      }
      if (s.Dirty) touched.emplace_back(it->first, s.LastSeenMs);
      s.Dirty = false;
      ++it;
    }
  }
  try {
    db_.TouchSessions(touched);
    for (int32_t id : gone) db_.DeleteSession(id);
  } catch (const std::exception& e) {
    ml::DebugTrace("sessions: %s", e.what());
  }
}

void TSessionStore::WriteLastSeen() {
  TLastSeen touched;
  {
    auto lock = Lock();
    for (auto& [id, s] : sessions_)
      if (s.Dirty) touched.emplace_back(id, s.LastSeenMs);
  }
  db_.TouchSessions(touched);
}

size_t TSessionStore::Count() {
  auto lock = Lock();
  return sessions_.size();
}

}  // namespace mlsvc
