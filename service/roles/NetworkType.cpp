#include "service/roles/NetworkType.h"

#include <vector>

#include "net/NetTypeRecords.h"
#include "service/SessionStore.h"

namespace mlsvc {

namespace {

// Checks waiting for their answer at most: more are refused until some finish.
constexpr size_t kMaxProbes = 4096;
// Messages that answer nothing carry no particular identity.
constexpr ml::TLRGUID kUnsolicited{-1, 0};

}  // namespace

TNetworkTypeRole::TNetworkTypeRole(TServiceContext& ctx)
    : ctx_(ctx), checks_(ctx.Config.ProbeRate, ctx.Config.ProbeBurst) {}

void TNetworkTypeRole::Check(const TRequest& r) {
  ml::TNetTypeCheck req;
  if (!ml::ReadNetTypeCheck(r.Payload, r.Length, req)) return;
  const int64_t now = ctx_.NowMs();
  if (!checks_.Allow(r.IP, now)) {
    ++ctx_.Counters.RateLimited;
    return;
  }
  ml::TPresenceCheck check;
  {
    std::lock_guard lock(mutex_);
    if (probes_.size() >= kMaxProbes) return;
    do check.Token = SecureRandomRange(1, 0xFFFFFFFFu);
    while (probes_.count(check.Token));
    probes_[check.Token] = {r.IP, r.Port, req.UserID, now + ctx_.Config.ProbeWaitMs};
  }
  ++ctx_.Counters.Probes;
  uint8_t out[ml::TPresenceCheck::Size];
  ml::TCmdStream s;
  s.InitWrite(out, sizeof out);
  ml::WritePresenceCheck(s, check);
  ctx_.ListSocket.Send(ml::Envelope::Keyed, kUnsolicited, out, size_t(s.Size()), r.IP, r.Port);
}

void TNetworkTypeRole::Answered(const TRequest& r) {
  ml::TPresenceAnswer answer;
  if (!ml::ReadPresenceAnswer(r.Payload, r.Length, answer)) return;
  TProbe probe;
  {
    std::lock_guard lock(mutex_);
    auto it = probes_.find(answer.Token);
    if (it == probes_.end() || it->second.IP != r.IP) return;
    probe = it->second;
    probes_.erase(it);
  }
  Finish(probe, true);
}

void TNetworkTypeRole::Tick(int64_t nowMs) {
  std::vector<TProbe> expired;
  {
    std::lock_guard lock(mutex_);
    for (auto it = probes_.begin(); it != probes_.end();) {
      if (it->second.DeadlineMs <= nowMs) {
        expired.push_back(it->second);
        it = probes_.erase(it);
      } else {
        ++it;
      }
    }
  }
  for (const TProbe& p : expired) Finish(p, false);
}

void TNetworkTypeRole::Finish(const TProbe& probe, bool reached) {
  ml::TNetTypeResult result;
  {
    auto lock = ctx_.Sessions.Lock();
    TSession* s = ctx_.Sessions.Find(lock, probe.UserID);
    if (s && s->IP != probe.IP) s = nullptr;
    // Seen at the address the client itself reports: no translation in between.
    const bool direct = s && s->LocalIP == probe.IP;
    using namespace ml::NetKind;
    result.NetKind = reached ? (direct ? ExternalA : InternalA) : (direct ? ExternalB : InternalC);
    if (s) s->NetKind = result.NetKind;
  }
  uint8_t out[ml::TNetTypeResult::FixedSize];
  ml::TCmdStream s;
  s.InitWrite(out, sizeof out);
  ml::WriteNetTypeResult(s, result);
  ctx_.MainSocket.Send(ml::Envelope::Keyed, kUnsolicited, out, size_t(s.Size()), probe.IP, probe.Port);
}

}  // namespace mlsvc
