#pragma once
// The output family: an output takes PCM from the attached decoder, runs every block through the
// player's processing callback, and queues it on a device. It wakes the engine thread through a
// notification event when there is room, tells when all queued audio has played, and keeps the
// latest block for the spectrum display. Only the engine thread calls an output.
#include "playback/uDecoderModule.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace ml {

// Several sources one thread can wait on at once (what an event plus a message queue are to a
// Windows thread). Each source has a bit; waiting takes and clears the bits that were set.
class TWaitSet {
public:
  void Signal(unsigned bits);
  // Waits until one of the bits in mask is set or timeout passes; returns (and clears) the bits.
  unsigned Wait(unsigned mask, std::chrono::milliseconds timeout);
  unsigned Take(unsigned mask);

private:
  std::mutex mutex_;
  std::condition_variable cv_;
  unsigned bits_ = 0;
};

// An auto-reset event: one bit of a wait set.
class TAutoResetEvent {
public:
  TAutoResetEvent(TWaitSet& set, unsigned bit) : set_(set), bit_(bit) {}
  void Set() { set_.Signal(bit_); }

private:
  TWaitSet& set_;
  unsigned bit_;
};

struct TWaveFormat {
  uint16_t FormatTag = 0;
  uint16_t Channels = 0;
  uint32_t SamplesPerSec = 0;
  uint32_t AvgBytesPerSec = 0;
  uint16_t BlockAlign = 0;
  uint16_t BitsPerSample = 0;
  uint16_t Size = 0;
};

class TOutputModule;
// Called on the engine thread for every block before it is queued; may change the length.
using TProcessCallback = void (*)(void* data, TOutputModule* output, uint8_t* block, int sampleRate,
                                  int channels, int bits, uint32_t* length);

class TOutputModule {
public:
  virtual ~TOutputModule() = default;
  virtual bool SetPaused(bool paused) = 0;
  virtual void Rewind() = 0;
  virtual bool Flush() = 0;
  virtual void SetBalance(int balance) = 0;  // 0..100, 50 = centre
  virtual void SetVolume(int volume) = 0;    // 0..100
  virtual bool IsFinished() = 0;
  virtual void FillBuffers() = 0;
  virtual void SetDecoder(TDecoderModule* decoder) = 0;
  virtual void Stop() = 0;
  virtual bool GetVisualData(std::vector<uint8_t>& data, int& channels, int& bits) = 0;

  // Whether a device is open (false also when it failed to open).
  virtual bool HasDevice() const = 0;
  // Short description for messages: "ALSA default", "null", ...
  virtual std::string Describe() const = 0;

  TDecoderModule* Decoder = nullptr;  // null when none or when it has reached its end
  TProcessCallback ProcessCallback = nullptr;
  void* ProcessData = nullptr;
  TAutoResetEvent* Notify = nullptr;  // set by the owner before SetDecoder
  TWaveFormat Format;

protected:
  // Device format from the decoder's: PCM, the decoder's bits and channels.
  void FormatFromDecoder(const TDecoderModule& decoder);
  void SignalNotify() {
    if (Notify) Notify->Set();
  }
  // Reads one block from the decoder and runs the callback. Returns the block's final length; on
  // the decoder's end closes and detaches it.
  uint32_t ProduceBlock(uint8_t* block, uint32_t want);
  void KeepVisual(const uint8_t* block, uint32_t length);

  std::mutex visualMutex_;
  std::vector<uint8_t> visual_;
};

// The ring-buffer arithmetic of an output that is fed by free space rather than by blocks: a ring
// of RingSize bytes, counters of bytes written and played that never wrap (64-bit), a periodic
// tick that wakes the engine while playing. The device-specific subclasses say how bytes reach
// the device and how many of them it has played.
class TRingOutput : public TOutputModule {
public:
  static constexpr uint32_t kRingSize = 0x20000;  // 128 KiB
  static constexpr uint32_t kMinFill = 2048;
  static constexpr uint32_t kTickMs = 20;

  ~TRingOutput() override;
  bool SetPaused(bool paused) override;
  void Rewind() override;
  bool Flush() override;
  void SetBalance(int balance) override;
  void SetVolume(int volume) override;
  bool IsFinished() override;
  void FillBuffers() override;
  void SetDecoder(TDecoderModule* decoder) override;
  void Stop() override;
  bool GetVisualData(std::vector<uint8_t>& data, int& channels, int& bits) override;
  bool HasDevice() const override { return Open_; }

  int Volume() const { return Volume_; }
  int Balance() const { return Balance_; }
  uint64_t Written() const { return Written_; }
  // The free space rule: a middling space is cut to 16 KiB so refills come in even steps.
  static uint32_t CutFreeSpace(uint32_t free);

protected:
  virtual bool DeviceOpen() = 0;  // Format is set
  virtual void DeviceClose() = 0;
  virtual bool DeviceWrite(const uint8_t* data, uint32_t length) = 0;
  virtual uint64_t DevicePlayed() = 0;  // bytes played since open or the last flush
  virtual void DevicePause(bool paused) = 0;
  virtual void DeviceFlush() = 0;
  virtual void DeviceVolumeChanged() {}
  // Called when the decoder has ended and nothing more will be written.
  virtual void DeviceDrain() {}
  // Bytes the device takes now without blocking (its own buffer may be smaller than the ring).
  virtual uint64_t DeviceRoom() { return UINT64_MAX; }
  // After DeviceDrain: has the device played the last byte?
  virtual bool DeviceAllPlayed() { return Played() >= Written_; }
  // Whether this output needs the periodic tick to wake the engine (a fake output does not).
  virtual bool WantsTick() const { return true; }
  // Volume and balance applied to a block in software (for devices without a stream volume).
  void ApplySoftwareVolume(uint8_t* block, uint32_t length) const;

  uint64_t Played();
  uint64_t WrittenSinceBase() const { return Written_ - Base_; }
  std::atomic<int> Volume_{100};
  std::atomic<int> Balance_{50};

private:
  void StartTick();
  void StopTick();

  bool Open_ = false;
  bool Playing_ = false;
  uint64_t Written_ = 0;
  uint64_t Base_ = 0;  // Written_ at the last open or flush: the device counts from there
  std::vector<uint8_t> staging_;
  std::thread tick_;
  std::mutex tickMutex_;
  std::condition_variable tickCv_;
  bool tickRun_ = false;
};

// Which output to build: the settings' kinds (0 = the sound server, 1 = the sound card) and ours.
enum class TOutputKind { Pulse = 0, Alsa = 1, WavFile = 2, Null = 3 };

struct TOutputTarget {
  TOutputKind Kind = TOutputKind::Pulse;
  std::string Device;  // sink or PCM name ("" = default), or the WAV file's path
  bool operator==(const TOutputTarget&) const = default;
};

// "alsa[:DEVICE]", "pulse[:SINK]", "wav:PATH", "null". False on anything else.
bool ParseOutputTarget(const std::string& text, TOutputTarget& target);

class TOutputModuleFactory {
public:
  static std::unique_ptr<TOutputModule> Create(const TOutputTarget& target);
  // kind 0: the sound server's sink of that index in the device list, kind 1: the sound card of
  // that index; a negative or unknown index means the default device.
  static TOutputTarget TargetFor(int kind, int deviceIndex);
  // Opens and closes the device with a CD-quality format: does this output play here?
  static bool Probe(const TOutputTarget& target);
};

}  // namespace ml
