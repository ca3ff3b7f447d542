#include "service/SessionStore.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cassert>
#include <tuple>
#include <utility>

#include "net/WireCodes.h"
#include "service/ServiceSecurity.h"
#include "service/ServiceStore.h"

namespace mlsvc {

namespace {

using TLastSeen = std::vector<std::pair<int32_t, int64_t>>;

uint64_t Endpoint(uint32_t ip, uint16_t port) { return (uint64_t(ip) << 16) | port; }

// Which session goes first when room is needed: an unproven one, then the longest idle.
auto EvictionOrder(const TSession& s) { return std::tuple(s.Proven, s.LastSeenMs); }

}  // namespace

TSessionStore::TSessionStore(TServiceStore& db, const TServiceConfig& cfg)
    : db_(db),
      keepAlivePeriods_(cfg.KeepAlivePeriods),
      internalPeriodMs_(cfg.InternalPeriodMs),
      externalPeriodMs_(cfg.ExternalPeriodMs),
      maxSessions_(std::max<size_t>(cfg.MaxSessions, 1)),
      maxAnonymousPerNet_(std::max<size_t>(cfg.MaxAnonymousPerNet, 1)) {}

int64_t TSessionStore::PeriodFor(uint8_t netKind) const {
  return ml::NetKind::IsExternal(netKind) ? externalPeriodMs_ : internalPeriodMs_;
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

void TSessionStore::Insert(const TLock& lock, int32_t user, const TSession& s) {
  CheckLock(lock);
  if (auto old = sessions_.find(user); old != sessions_.end()) Erase(lock, old);
  sessions_[user] = s;
  if (!s.Account) anonymousByNet_[NetOf(s.IP)].push_back(user);
}

TSessionStore::TMap::iterator TSessionStore::Erase(const TLock& lock, TMap::iterator it) {
  CheckLock(lock);
  if (!it->second.Account) {
    auto net = anonymousByNet_.find(NetOf(it->second.IP));
    if (net != anonymousByNet_.end()) {
      std::vector<int32_t>& users = net->second;
      users.erase(std::remove(users.begin(), users.end(), it->first), users.end());
      if (users.empty()) anonymousByNet_.erase(net);
    }
  }
  return sessions_.erase(it);
}

std::vector<int32_t> TSessionStore::MakeRoom(const TLock& lock, int32_t user, const TSession& s) {
  std::vector<int32_t> ended;
  // Replacing its own session takes no room.
  if (auto own = sessions_.find(user); own != sessions_.end()) Erase(lock, own);
  if (!s.Account) {
    auto net = anonymousByNet_.find(NetOf(s.IP));
    if (net != anonymousByNet_.end() && net->second.size() >= maxAnonymousPerNet_) {
      const auto first = std::min_element(net->second.begin(), net->second.end(), [&](int32_t a, int32_t b) {
        return EvictionOrder(sessions_.at(a)) < EvictionOrder(sessions_.at(b));
      });
      ended.push_back(*first);
      Erase(lock, sessions_.find(*first));
    }
  }
  if (sessions_.size() >= maxSessions_) {
    // A batch at a time, so that the scan is paid for by many logins.
    std::vector<std::pair<std::tuple<bool, int64_t>, int32_t>> order;
    order.reserve(sessions_.size());
    for (const auto& [id, other] : sessions_) order.emplace_back(EvictionOrder(other), id);
    const size_t batch = std::min(order.size(), std::max<size_t>(1, maxSessions_ / 64));
    std::nth_element(order.begin(), order.begin() + long(batch - 1), order.end());
    for (size_t i = 0; i < batch; ++i) {
      ended.push_back(order[i].second);
      Erase(lock, sessions_.find(order[i].second));
    }
  }
  evicted_ += ended.size();
  return ended;
}

void TSessionStore::Restore(int64_t nowMs) {
  const std::vector<TSessionRow> rows = db_.Sessions();
  std::vector<int32_t> gone;
  {
    auto lock = Lock();
    for (const TSessionRow& r : rows) {
      TSession s;
      s.LoginKey = r.LoginKey;
      s.IP = r.IP;
      s.Port = r.Port;
      s.NetKind = r.NetKind;  // as it logged in: the row is written at login only
      s.PeriodMs = PeriodFor(r.NetKind);
      s.Account = r.Account;
      s.LastSeenMs = r.LastSeenMs;
      // Whether an anonymous one was ever kept alive is not stored.
      if (r.Account) Prove(lock, s);
      if (nowMs - r.LastSeenMs > Lifetime(s)) {
        gone.push_back(r.UserID);
        continue;
      }
      for (int32_t id : MakeRoom(lock, r.UserID, s)) gone.push_back(id);
      Insert(lock, r.UserID, s);
    }
  }
  db_.DeleteSessions(gone);
}

int32_t TSessionStore::NewAnonymousID() {
  for (;;) {
    const auto id = int32_t(SecureRandomRange(AnonymousLow, AnonymousHigh));
    auto lock = Lock();
    if (!Find(lock, id)) return id;
  }
}

void TSessionStore::Prove(const TLock& lock, TSession& s) {
  CheckLock(lock);
  if (s.Proven) return;
  s.Proven = true;
  if (s.PeriodMs < externalPeriodMs_) return;
  const uint64_t endpoint = Endpoint(s.IP, s.Port);
  if (!longPeriodEndpoints_.insert(endpoint).second) return;
  longPeriodOrder_.push_back(endpoint);
  if (longPeriodOrder_.size() > maxSessions_) {
    longPeriodEndpoints_.erase(longPeriodOrder_.front());
    longPeriodOrder_.pop_front();
  }
}

void TSessionStore::Begin(int32_t user, TSession session) {
  session.PeriodMs = PeriodFor(session.NetKind);
  const bool proven = session.Proven;
  session.Proven = false;
  std::vector<int32_t> ended;
  {
    auto lock = Lock();
    if (longPeriodEndpoints_.contains(Endpoint(session.IP, session.Port)))
      session.PeriodMs = std::max(session.PeriodMs, externalPeriodMs_);
    if (proven) Prove(lock, session);
    ended = MakeRoom(lock, user, session);
    Insert(lock, user, session);
  }
  db_.PutSession({user, session.LoginKey, session.IP, session.Port, session.NetKind, session.Account,
                  session.LastSeenMs},
                 ended);
}

bool TSessionStore::End(int32_t user, int32_t key, uint32_t ip, uint16_t port) {
  {
    auto lock = Lock();
    if (!Bound(lock, user, key, ip, port)) return false;
    Erase(lock, sessions_.find(user));
  }
  db_.DeleteSessions({user});
  return true;
}

void TSessionStore::Expire(int64_t nowMs) {
  TLastSeen touched;
  std::vector<int32_t> gone;
  {
    auto lock = Lock();
    for (auto it = sessions_.begin(); it != sessions_.end();) {
      TSession& s = it->second;
      if (nowMs - s.LastSeenMs > Lifetime(s)) {
        gone.push_back(it->first);
        it = Erase(lock, it);
        continue;
      }
      if (s.Dirty) touched.emplace_back(it->first, s.LastSeenMs);
      s.Dirty = false;
      ++it;
    }
  }
  db_.TouchSessions(touched);
  db_.DeleteSessions(gone);
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
