#include "base/DebugTrace.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

namespace ml {

bool DebugTraceEnabled() {
  static const bool enabled = std::getenv("MINILIRRA_DEBUG") != nullptr;
  return enabled;
}

void DebugTrace(const char* format, ...) {
  if (!DebugTraceEnabled()) return;
  char line[1024];
  va_list args;
  va_start(args, format);
  std::vsnprintf(line, sizeof line, format, args);
  va_end(args);
  // One write per line keeps lines from different threads whole.
  std::fprintf(stderr, "%s\n", line);
}

}  // namespace ml
