#include "base/TimeText.h"

#include <cstdio>

namespace ml {

std::string FormatTimeText(int64_t seconds, bool shortForm) {
  if (seconds < 0) return "";
  const int64_t m = seconds / 60, s = seconds % 60;
  char buf[32];
  if (shortForm)
    std::snprintf(buf, sizeof buf, "%.1d:%.2d", int(m), int(s));
  else if (m >= 100)
    std::snprintf(buf, sizeof buf, "%.3d:%.2d", int(m), int(s));
  else
    std::snprintf(buf, sizeof buf, "%.2d:%.2d", int(m), int(s));
  return buf;
}

}  // namespace ml
