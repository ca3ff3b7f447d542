#pragma once
// The queue arithmetic of an output that is fed by free space rather than by blocks: counters of
// bytes written and played that never wrap (64-bit), a queue kept short in time, and a periodic
// tick that wakes the engine while playing. The device-specific subclasses say how bytes reach
// the device, how many of them it has played and how far its sound lags behind.
#include "playback/uOutputModule.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

namespace ml {

class TRingOutput : public TOutputModule {
public:
  // How far the queue runs ahead of the sound. Effects and the software volume are applied as a
  // block is queued, so a change is heard only after what is queued before it: a short queue is
  // what keeps a volume, balance or equalizer change within a tenth of a second.
  static constexpr uint32_t kQueueMs = 80;
  // The engine is woken this often to refill what was played: a quarter of the queue.
  static constexpr uint32_t kTickMs = 20;

  ~TRingOutput() override;
  void SetSource(TAudioSource* source, const TWaveFormat& format) override;
  bool SetPaused(bool paused) override;
  bool Flush() override;
  void SetBalance(int balance) override;
  void SetVolume(int volume) override;
  bool FillBuffers() override;
  bool IsFinished() override;
  uint32_t QueuedMs() override;
  void Stop() override;
  bool HasDevice() const override { return Open_; }

  int Volume() const { return Volume_; }
  int Balance() const { return Balance_; }
  uint64_t Written() const { return Written_; }
  // The queue for the current format: kQueueMs of audio in whole frames, and the least worth a
  // refill (a tick's worth).
  uint32_t QueueBytes() const { return QueueBytes_; }
  uint32_t MinFill() const { return MinFill_; }

protected:
  virtual bool DeviceOpen() = 0;  // Format is set; on failure Error_ says why
  virtual void DeviceClose() = 0;
  virtual bool DeviceWrite(const uint8_t* data, uint32_t length) = 0;  // on failure Error_ says why
  virtual uint64_t DevicePlayed() = 0;  // bytes played since open or the last flush
  virtual void DevicePause(bool paused) = 0;
  virtual void DeviceFlush() = 0;
  virtual void DeviceVolumeChanged() {}
  // Called when the source has ended and nothing more will be written: the device plays out
  // what it holds (a file output completes the file).
  virtual void DeviceDrain() {}
  // Bytes the device takes now without blocking (its own buffer may be smaller than the queue).
  virtual uint64_t DeviceRoom() { return UINT64_MAX; }
  // After DeviceDrain: has the device played the last byte?
  virtual bool DeviceAllPlayed() { return Played() >= Written_; }
  // Bytes written but not heard yet: by default what the counters say is queued; a device that
  // knows its own latency (a sound server's sink) says more.
  virtual uint64_t DeviceDelay() { return Written_ - Played(); }
  // Whether this output needs the periodic tick to wake the engine (a fake output does not).
  virtual bool WantsTick() const { return true; }
  // Volume and balance applied to a block in software (for devices without a stream volume).
  void ApplySoftwareVolume(uint8_t* block, uint32_t length) const;
  // Tells the source there is room (the tick, or a test's device clock).
  void WakeSource();

  uint64_t Played();
  uint64_t WrittenSinceBase() const { return Written_ - Base_; }
  std::atomic<int> Volume_{100};
  std::atomic<int> Balance_{50};

private:
  void StartTick();
  void StopTick();

  std::atomic<TAudioSource*> Source_{nullptr};
  bool SourceEnded_ = false;
  bool Open_ = false;
  bool Playing_ = false;
  uint64_t Written_ = 0;
  uint64_t Base_ = 0;  // Written_ at the last open or flush: the device counts from there
  uint32_t QueueBytes_ = 0, MinFill_ = 0;
  std::vector<uint8_t> staging_;
  std::thread tick_;
  std::mutex tickMutex_;
  std::condition_variable tickCv_;
  bool tickRun_ = false;
};

}  // namespace ml
