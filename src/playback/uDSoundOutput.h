#pragma once
// The sound server output on PulseAudio: one playback stream on the chosen sink, with the
// server's own stream volume and pan.
#include "playback/uRingOutput.h"

#include <atomic>
#include <chrono>

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
  bool DeviceAllPlayed() override;
  uint64_t DeviceDelay() override;

private:
  bool WaitReady();
  uint64_t QueuedLocked();  // bytes of ours the server holds; the loop is locked

  std::string Sink_;
  pa_threaded_mainloop* Loop_ = nullptr;
  pa_context* Context_ = nullptr;
  pa_stream* Stream_ = nullptr;
  // Set by the server when a drain completes: everything written has been played. (The latency
  // never quite reaches zero on a stopped stream, so it cannot tell the end on its own.)
  std::atomic<bool> Drained_{false};
  // When the last byte will have left the speakers, reckoned when the song's end was written:
  // the server counts a drain done once its queue is empty, with the sink's own buffer unplayed.
  std::chrono::steady_clock::time_point EndAt_{};
  uint64_t StreamBytes_ = 0;  // written to this stream since it was connected, flushes included
};

}  // namespace ml
