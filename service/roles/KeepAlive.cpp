#include "service/roles/KeepAlive.h"

#include "net/LoginRecords.h"
#include "service/SessionStore.h"

namespace mlsvc {

void TKeepAliveRole::Answer(const TRequest& r) {
  ml::TKeepAliveRequest req;
  if (!ml::ReadKeepAliveRequest(r.Payload, r.Length, req)) return;
  const int64_t now = ctx_.NowMs();
  {
    auto lock = ctx_.Sessions.Lock();
    TSession* s = ctx_.Sessions.Bound(lock, req.UserID, req.LoginKey, r.IP, r.Port);
    if (!s) {
      lock.unlock();
      ctx_.Note(r, "dropped, no such session here");
      return;
    }
    s->LastSeenMs = now;
    // The kind is the client's latest; its period stays the one it logged in with.
    if (req.NetKind <= ml::NetKind::Highest) s->NetKind = req.NetKind;
    ctx_.Sessions.Prove(lock, *s);
    s->Dirty = true;
  }
  ml::TKeepAliveReply reply;
  reply.UserID = req.UserID;
  reply.ServerTime = int32_t(now / 1000);
  reply.ListVersion = ctx_.ListVersion;
  reply.Notice = ctx_.Notice;
  uint8_t out[ml::Envelope::MaxPayload];
  ml::TCmdStream s;
  s.InitWrite(out, sizeof out);
  if (!ml::WriteKeepAliveReply(s, reply)) return;
  ++ctx_.Counters.KeepAlives;
  ctx_.Answer(r, out, size_t(s.Size()), TReach::Holder);
  ctx_.Note(r, "kept alive, user %d", req.UserID);
}

}  // namespace mlsvc
