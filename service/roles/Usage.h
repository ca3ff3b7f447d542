#pragma once
// Usage reports (12, no answer): how often each keyword was searched and each song played,
// counted for the hot lists and the keyword suggestions. Reports are added up in memory and
// written in one transaction a second, never one per datagram.
#include <cstddef>
#include <cstdint>
#include <mutex>

#include "service/Catalogue.h"
#include "service/ServiceContext.h"
#include "service/ServiceSecurity.h"

namespace mlsvc {

class TUsageRole {
public:
  static constexpr int64_t FlushMs = 1000;
  // Distinct texts waiting at most; beyond, new ones are dropped until the next write.
  static constexpr size_t MaxPending = 10000;

  explicit TUsageRole(TServiceContext& ctx);
  ~TUsageRole();
  void Report(const TRequest& r);
  // Writes what waits, once a second.
  void Tick(int64_t nowMs);

private:
  void Flush(int64_t nowMs);
  TServiceContext& ctx_;
  TRateLimiter reports_;
  std::mutex mutex_;
  TUsageCounts pending_;
  int64_t lastFlushMs_;
};

}  // namespace mlsvc
