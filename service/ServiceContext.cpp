#include "service/ServiceContext.h"

#include <cstdarg>
#include <cstdio>

#include "net/IPv4Text.h"
#include "service/ServiceSecurity.h"
#include "service/SessionStore.h"

namespace mlsvc {

bool TServiceContext::Send(TServer from, uint8_t kind, ml::TLRGUID guid, const void* payload, size_t length,
                           uint32_t ip, uint16_t port, uint32_t fromIP, TReach reach) const {
  if (reach == TReach::Anyone && !ReplyBudget.Allow(0, NowMs(), double(length))) {
    ++Counters.OverBudget;
    return false;
  }
  return Socket(from).Send(kind, guid, payload, length, ip, port, fromIP);
}

TReach TServiceContext::ReachOf(const TRequest& r, int32_t user) const {
  auto lock = Sessions.Lock();
  const TSession* s = Sessions.Find(lock, user);
  return s && s->Proven && s->IP == r.IP && s->Port == r.Port ? TReach::Holder : TReach::Anyone;
}

void TServiceContext::Note(const TRequest& r, const char* outcome, ...) const {
  if (!Log.Enabled(TLogLevel::Debug)) return;
  char what[512];
  va_list args;
  va_start(args, outcome);
  std::vsnprintf(what, sizeof what, outcome, args);
  va_end(args);
  Log.Write(TLogLevel::Debug, "request %s:%u -> %s code %u: %s", ml::IPv4Text(r.IP).c_str(), unsigned(r.Port),
            r.Server == TServer::List ? "list" : "main", unsigned(r.Code()), what);
}

}  // namespace mlsvc
