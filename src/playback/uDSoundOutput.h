#pragma once
// The sound server output on PulseAudio: one playback stream on the chosen sink, with the
// server's own stream volume and pan.
#include "uOutputModule.h"

struct pa_threaded_mainloop;
struct pa_context;
struct pa_stream;

namespace ml {

class TDSoundOutput : public TRingOutput {
public:
  // sink: a sink name from the device list; empty means the server's default sink.
  explicit TDSoundOutput(std::string sink) : Sink_(std::move(sink)) {}
  ~TDSoundOutput() override { Stop(); }
  std::string Describe() const override { return "PulseAudio " + (Sink_.empty() ? std::string("default") : Sink_); }
  const std::string& SinkName() const { return Sink_; }
  void SetSinkName(const std::string& sink) { Sink_ = sink; }

protected:
  bool DeviceOpen() override;
  void DeviceClose() override;
  bool DeviceWrite(const uint8_t* data, uint32_t length) override;
  uint64_t DevicePlayed() override;
  void DevicePause(bool paused) override;
  void DeviceFlush() override;
  void DeviceDrain() override;
  void DeviceVolumeChanged() override;

private:
  bool WaitReady();

  std::string Sink_;
  pa_threaded_mainloop* Loop_ = nullptr;
  pa_context* Context_ = nullptr;
  pa_stream* Stream_ = nullptr;
};

}  // namespace ml
