#include "playback/uNullOutput.h"

namespace ml {

bool TNullOutput::DeviceOpen() {
  Running_ = false;
  PlayedBefore_ = std::chrono::microseconds(0);
  return true;
}

uint64_t TNullOutput::DevicePlayed() {
  auto t = PlayedBefore_;
  if (Running_) t += std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - Since_);
  return static_cast<uint64_t>(t.count()) * Format.AvgBytesPerSec / 1000000u;
}

void TNullOutput::DevicePause(bool paused) {
  if (paused && Running_) {
    PlayedBefore_ += std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - Since_);
    Running_ = false;
  } else if (!paused && !Running_) {
    Since_ = Clock::now();
    Running_ = true;
  }
}

void TNullOutput::DeviceFlush() {
  PlayedBefore_ = std::chrono::microseconds(0);
  Since_ = Clock::now();
}

}  // namespace ml
