#include "tests/support/FakeOutput.h"

#include <thread>

namespace mltest {

bool TFakeOutput::DeviceOpen() {
  if (FailOpen) {
    Error_ = "no fake device here";
    return false;
  }
  ++Opens;
  DeviceIsOpen = true;
  Paused = true;
  PlayedBytes_ = 0;
  BytesPerSec_ = Format.AvgBytesPerSec;
  return true;
}

void TFakeOutput::DeviceClose() {
  ++Closes;
  DeviceIsOpen = false;
}

bool TFakeOutput::DeviceWrite(const uint8_t* data, uint32_t length) {
  if (FailWrites) {
    Error_ = "the fake device was unplugged";
    return false;
  }
  while (HangWrites) {
    Stuck = true;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  BytesWritten += length;
  if (Capture) {
    std::lock_guard lock(captureMutex_);
    captured_.append(reinterpret_cast<const char*>(data), length);
  }
  return true;
}

void TFakeOutput::Advance(std::chrono::milliseconds ms) {
  if (!Paused && DeviceIsOpen) PlayedBytes_ += static_cast<uint64_t>(ms.count()) * BytesPerSec_ / 1000u;
  WakeSource();
}

std::string TFakeOutput::Captured() const {
  std::lock_guard lock(captureMutex_);
  return captured_;
}

}  // namespace mltest
