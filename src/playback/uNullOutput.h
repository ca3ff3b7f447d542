#pragma once
// Outputs without a sound card: the null output throws the audio away at the pace of a real
// device (a song takes its own length), the WAV-file output writes exactly the blocks the engine
// sent, as fast as they come, and the fake output is paced by a test's hand.
#include "playback/uOutputModule.h"

#include <cstdio>

namespace ml {

// The 44-byte header of a PCM WAV file holding dataBytes of audio (sizes capped at 4 GiB).
std::string WavFileHeader(const TWaveFormat& format, uint64_t dataBytes);

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

class TWavFileOutput : public TRingOutput {
public:
  explicit TWavFileOutput(std::string path) : Path_(std::move(path)) {}
  ~TWavFileOutput() override { Stop(); }
  std::string Describe() const override { return "WAV file " + Path_; }
  // Why the last open or close failed; empty when it did not.
  const std::string& LastError() const { return Error_; }

protected:
  bool DeviceOpen() override;
  void DeviceClose() override;
  bool DeviceWrite(const uint8_t* data, uint32_t length) override;
  uint64_t DevicePlayed() override { return WrittenSinceBase(); }
  void DevicePause(bool) override {}
  void DeviceFlush() override {}
  bool WantsTick() const override { return false; }

private:
  void Fail(const std::string& what);

  std::string Path_, TempPath_, Error_;
  FILE* File_ = nullptr;
  uint64_t DataBytes_ = 0;
};

// Played only when the test advances its clock; records what reached it.
class TFakeOutput : public TRingOutput {
public:
  ~TFakeOutput() override { Stop(); }
  std::string Describe() const override { return "fake"; }

  // Moves the device's clock forward: that much audio is played (if it is not paused) and the
  // engine is woken.
  void Advance(std::chrono::milliseconds ms);
  // Makes the next opens fail, as on a machine without a sound card.
  std::atomic<bool> FailOpen{false};

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

}  // namespace ml
