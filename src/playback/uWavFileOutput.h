#pragma once
// The WAV-file output: writes exactly the blocks the engine sent, as fast as they come, to a
// temporary file that is renamed over the target when the song's output is stopped.
#include "playback/uRingOutput.h"

#include <cstdio>
#include <string>

namespace ml {

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

}  // namespace ml
