#pragma once
// The WAV-file output: writes exactly the blocks the engine sent, as fast as they come. A file
// (new, or a regular file that is there) is written under a temporary name beside it and renamed
// over it once complete; standard output ("-"), a character device or a FIFO is written
// directly, with the header's sizes filled in afterwards only where the target can seek.
#include "playback/uRingOutput.h"

#include <string>

namespace ml {

class TWavFileOutput : public TRingOutput {
public:
  explicit TWavFileOutput(std::string path) : Path_(std::move(path)) {}
  ~TWavFileOutput() override { Stop(); }
  std::string Describe() const override { return Path_ == "-" ? "WAV to standard output" : "WAV file " + Path_; }

protected:
  bool DeviceOpen() override;
  void DeviceClose() override;
  bool DeviceWrite(const uint8_t* data, uint32_t length) override;
  uint64_t DevicePlayed() override { return WrittenSinceBase(); }
  void DevicePause(bool) override {}
  void DeviceFlush() override {}
  void DeviceDrain() override { Finish(); }
  bool WantsTick() const override { return false; }

private:
  // Where the bytes go: where the file's name leads, and how it is replaced.
  bool OpenTarget();
  // Completes the file: its header's sizes, and the rename of a temporary file.
  void Finish();
  bool WriteAll(const void* data, size_t length);
  void Fail(const std::string& what, int error);

  std::string Path_;
  std::string TempPath_;  // the temporary file renamed over the target; empty when written directly
  std::string FinalPath_;  // where the temporary file goes (the file a link names)
  int Fd_ = -1;
  bool OwnFd_ = false;   // standard output stays open
  bool Seekable_ = false;  // the header can be rewritten at the end
  uint64_t DataBytes_ = 0;
};

}  // namespace ml
