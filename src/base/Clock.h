#pragma once
// The program's monotonic millisecond clock, and a manual one that tests move by hand.
#include <atomic>
#include <chrono>
#include <cstdint>

namespace ml {

using Millis = std::chrono::milliseconds;

// A monotonic millisecond clock; tests swap in a manual one.
class TClock {
public:
  virtual ~TClock() = default;
  virtual Millis now() const = 0;
  virtual bool isManual() const { return false; }
};

class SteadyClock final : public TClock {
public:
  Millis now() const override;
  static const SteadyClock& instance();
};

class ManualClock final : public TClock {
public:
  Millis now() const override { return Millis(now_.load()); }
  bool isManual() const override { return true; }
  void advance(Millis by) { now_ += by.count(); }
  void set(Millis to) { now_ = to.count(); }

private:
  std::atomic<int64_t> now_{0};
};

}  // namespace ml
