#pragma once
// The output without a sound card: it throws the audio away at the pace of a real device, so a
// song takes its own length.
#include "playback/uRingOutput.h"

#include <chrono>

namespace ml {

class TNullOutput : public TRingOutput {
public:
  ~TNullOutput() override { Stop(); }
  std::string Describe() const override { return "null"; }

protected:
  bool DeviceOpen() override;
  void DeviceClose() override {}
  bool DeviceWrite(const uint8_t*, uint32_t) override { return true; }
  uint64_t DevicePlayed() override;
  void DevicePause(bool paused) override;
  void DeviceFlush() override;

private:
  using Clock = std::chrono::steady_clock;
  bool Running_ = false;
  Clock::time_point Since_{};
  std::chrono::microseconds PlayedBefore_{0};
};

}  // namespace ml
