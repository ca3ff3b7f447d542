#include "base/Clock.h"

namespace ml {

Millis SteadyClock::Now() const {
  return std::chrono::duration_cast<Millis>(std::chrono::steady_clock::now().time_since_epoch());
}

const SteadyClock& SteadyClock::Instance() {
  static SteadyClock clock;
  return clock;
}

}  // namespace ml
