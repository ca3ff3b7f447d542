#pragma once
// The network-type server: on a check (41) the service sends a presence check (49) from the
// server-list socket, that is from a port the client never wrote to; the client's answer (15,
// back at that socket) proves that such a port reaches it. The result (39) goes out from the main
// socket: kind ExternalA when the client was reached and the service sees the address the client
// reported at login, InternalA when reached behind a translation; unanswered within the wait,
// ExternalB or InternalC likewise. The session takes the kind too.
#include <cstdint>
#include <mutex>
#include <unordered_map>

#include "service/ServiceContext.h"
#include "service/ServiceSecurity.h"

namespace mlsvc {

class TNetworkTypeRole {
public:
  explicit TNetworkTypeRole(TServiceContext& ctx);
  void Check(const TRequest& r);
  void Answered(const TRequest& r);
  // Finishes the checks whose wait has run out.
  void Tick(int64_t nowMs);

private:
  struct TProbe {
    uint32_t IP;
    uint16_t Port;
    uint32_t LocalIP;  // where the check was sent to, which the result comes from
    int32_t UserID;
    int64_t DeadlineMs;
  };
  void Finish(const TProbe& probe, bool reached);

  TServiceContext& ctx_;
  TRateLimiter checks_;  // per address
  std::mutex mutex_;
  std::unordered_map<uint32_t, TProbe> probes_;  // by token
};

}  // namespace mlsvc
