#include "media/MediaInfo.h"

#include <climits>
#include <cmath>

namespace ml {

int32_t DurationMs(double seconds) {
  if (!std::isfinite(seconds) || seconds <= 0) return 0;
  const double ms = std::round(seconds * 1000);
  return ms >= double(INT32_MAX) ? INT32_MAX : static_cast<int32_t>(ms);
}

uint32_t FileSize32(uint64_t size) { return size > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(size); }

}  // namespace ml
