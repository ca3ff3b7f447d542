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
    ctx_.Note(r, "dropped, over the rate of checks for its address");
    return;
  }
  ml::TPresenceCheck check;
  {
    std::lock_guard lock(mutex_);
    if (probes_.size() >= kMaxProbes) {
      ctx_.Note(r, "dropped, too many checks waiting");
      return;
    }
    do check.Token = SecureRandomRange(1, 0xFFFFFFFFu);
    while (probes_.count(check.Token));
    probes_[check.Token] = {r.IP, r.Port, r.LocalIP, req.UserID, now + ctx_.Config.ProbeWaitMs};
  }
  ++ctx_.Counters.Probes;
  uint8_t out[ml::TPresenceCheck::Size];
  ml::TCmdStream s;
  s.InitWrite(out, sizeof out);
  ml::WritePresenceCheck(s, check);
  // From the other socket, at the address the client wrote to.
  const bool sent = ctx_.Send(TServer::List, ml::Envelope::Keyed, kUnsolicited, out, size_t(s.Size()), r.IP, r.Port,
                              r.LocalIP, TReach::Anyone);
  ctx_.Note(r, "%s, user %d", sent ? "presence check sent" : "presence check over the reply budget", req.UserID);
}

void TNetworkTypeRole::Answered(const TRequest& r) {
  ml::TPresenceAnswer answer;
  if (!ml::ReadPresenceAnswer(r.Payload, r.Length, answer)) return;
  TProbe probe;
  {
    std::lock_guard lock(mutex_);
    auto it = probes_.find(answer.Token);
    if (it == probes_.end() || it->second.IP != r.IP) {
      ctx_.Note(r, "dropped, no check of ours");
      return;
    }
    probe = it->second;
    probes_.erase(it);
  }
  ctx_.Note(r, "reached, user %d", probe.UserID);
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
  ctx_.Send(TServer::Main, ml::Envelope::Keyed, kUnsolicited, out, size_t(s.Size()), probe.IP, probe.Port,
            probe.LocalIP, TReach::Anyone);
}

}  // namespace mlsvc
