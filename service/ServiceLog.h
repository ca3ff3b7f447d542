#pragma once
// The service's log for operators: lines on standard error, each with its UTC time. Errors and
// warnings always matter; "info" adds the start and the stop; "debug" adds one line per request
// (where it came from, what it asked and what became of it).
#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <string>

namespace mlsvc {

enum class TLogLevel { Error, Warning, Info, Debug };

// "error", "warning", "info" or "debug".
bool ParseLogLevel(const std::string& text, TLogLevel& level);

class TServiceLog {
public:
  explicit TServiceLog(TLogLevel level = TLogLevel::Info, std::FILE* to = stderr) : level_(level), to_(to) {}
  bool Enabled(TLogLevel level) const { return level <= level_.load(std::memory_order_relaxed); }
  void Write(TLogLevel level, const char* format, ...) __attribute__((format(printf, 3, 4)));
  void WriteV(TLogLevel level, const char* format, va_list args);

private:
  std::atomic<TLogLevel> level_;
  std::FILE* to_;
  std::mutex mutex_;
};

}  // namespace mlsvc
