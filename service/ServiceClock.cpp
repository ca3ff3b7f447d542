#include "service/ServiceClock.h"

#include <chrono>

namespace mlsvc {

ml::Millis TWallClock::Now() const {
  return std::chrono::duration_cast<ml::Millis>(std::chrono::system_clock::now().time_since_epoch());
}

const TWallClock& TWallClock::Instance() {
  static const TWallClock clock;
  return clock;
}

}  // namespace mlsvc
