#include "service/ServiceLog.h"

#include <algorithm>
#include <chrono>
#include <ctime>
#include <utility>

namespace mlsvc {

bool ParseLogLevel(const std::string& text, TLogLevel& level) {
  static constexpr std::pair<const char*, TLogLevel> kNames[] = {
      {"error", TLogLevel::Error}, {"warning", TLogLevel::Warning}, {"info", TLogLevel::Info}, {"debug", TLogLevel::Debug}};
  for (const auto& [name, value] : kNames)
    if (text == name) {
      level = value;
      return true;
    }
  return false;
}

void TServiceLog::Write(TLogLevel level, const char* format, ...) {
  va_list args;
  va_start(args, format);
  WriteV(level, format, args);
  va_end(args);
}

void TServiceLog::WriteV(TLogLevel level, const char* format, va_list args) {
  if (!Enabled(level)) return;
  static constexpr const char* kLabels[] = {"error", "warning", "info", "debug"};
  const auto now = std::chrono::system_clock::now();
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
  std::tm utc{};
  gmtime_r(&seconds, &utc);
  char line[1024];
  int n = int(std::strftime(line, sizeof line, "%Y-%m-%dT%H:%M:%S", &utc));
  n += std::snprintf(line + n, sizeof line - size_t(n), ".%03dZ %s ", int(ms), kLabels[int(level)]);
  const int body = std::vsnprintf(line + n, sizeof line - size_t(n), format, args);
  n = body < 0 ? n : std::min(n + body, int(sizeof line) - 2);
  line[n++] = '\n';
  std::lock_guard lock(mutex_);
  std::fwrite(line, 1, size_t(n), to_);
  std::fflush(to_);
}

}  // namespace mlsvc
