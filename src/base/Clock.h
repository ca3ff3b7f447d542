#pragma once
// Millisecond clocks: the interface whatever waits for time takes, the steady clock of the
// client, and a manual one that tests move by hand. (The service adds a wall clock: its times
// are stored and outlive the process.)
#include <atomic>
#include <chrono>
#include <cstdint>

namespace ml {

using Millis = std::chrono::milliseconds;

// A clock that never goes back; tests swap in a manual one.
class TClock {
public:
  virtual ~TClock() = default;
  virtual Millis Now() const = 0;
  virtual bool IsManual() const { return false; }
};

class SteadyClock final : public TClock {
public:
  Millis Now() const override;
  static const SteadyClock& Instance();
};

class ManualClock final : public TClock {
public:
  Millis Now() const override { return Millis(now_.load()); }
  bool IsManual() const override { return true; }
  void Advance(Millis by) { now_ += by.count(); }
  void Set(Millis to) { now_ = to.count(); }

private:
  std::atomic<int64_t> now_{0};
};

}  // namespace ml
