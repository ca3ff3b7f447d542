#pragma once
// A test double of the output family: a device that plays only when the test advances its
// clock, and records what reached it, so the engine can be driven headless and step by step.
#include "playback/uRingOutput.h"

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>

namespace mltest {

using ml::TRingOutput;

// Played only when the test advances its clock; records what reached it.
class TFakeOutput : public TRingOutput {
public:
  TFakeOutput() { ++Alive; }
  ~TFakeOutput() override {
    Stop();
    --Alive;
  }
  std::string Describe() const override { return "fake"; }

  // Moves the device's clock forward: that much audio is played (if it is not paused) and the
  // engine is woken.
  void Advance(std::chrono::milliseconds ms);
  // Makes the next opens fail, as on a machine without a sound card, and the writes fail, as when
  // a card is unplugged.
  std::atomic<bool> FailOpen{false};
  std::atomic<bool> FailWrites{false};
  // While set, a write does not return, as with a device that no longer answers; Stuck tells
  // that the engine is held in one.
  std::atomic<bool> HangWrites{false};
  std::atomic<bool> Stuck{false};
  // Fake outputs not yet destroyed (an engine cut loose destroys its own when it ends).
  static inline std::atomic<int> Alive{0};

  // What the test can look at (any thread).
  std::atomic<int> Opens{0}, Closes{0}, Flushes{0};
  std::atomic<bool> Paused{true};
  std::atomic<bool> DeviceIsOpen{false};
  std::atomic<uint64_t> BytesWritten{0};
  std::string Captured() const;
  std::atomic<bool> Capture{false};

protected:
  bool DeviceOpen() override;
  void DeviceClose() override;
  bool DeviceWrite(const uint8_t* data, uint32_t length) override;
  uint64_t DevicePlayed() override { return PlayedBytes_; }
  void DevicePause(bool paused) override { Paused = paused; }
  void DeviceFlush() override {
    PlayedBytes_ = 0;
    ++Flushes;
  }
  bool WantsTick() const override { return false; }

private:
  std::atomic<uint64_t> PlayedBytes_{0};
  std::atomic<uint32_t> BytesPerSec_{0};
  mutable std::mutex captureMutex_;
  std::string captured_;
};


}  // namespace mltest
