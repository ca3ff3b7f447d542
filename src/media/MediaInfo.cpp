#include "media/MediaInfo.h"

#include <climits>
#include <cmath>

namespace ml {

int32_t DurationMs(double seconds) {
  if (!std::isfinite(seconds) || seconds <= 0) return 0;
  const double ms = std::round(seconds * 1000);
  return ms >= double(INT32_MAX) ? INT32_MAX : static_cast<int32_t>(ms);
}

void FillMissingTags(TMediaInfo& into, const TMediaInfo& from) {
  for (auto field : {&TMediaInfo::Title, &TMediaInfo::Artist, &TMediaInfo::Album, &TMediaInfo::Year,
                     &TMediaInfo::Genre, &TMediaInfo::Comment})
    if ((into.*field).empty()) into.*field = from.*field;
  if (into.Track == 0) into.Track = from.Track;
}

uint32_t FileSize32(uint64_t size) { return size > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(size); }

}  // namespace ml
