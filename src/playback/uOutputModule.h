#pragma once
// The output family: an output pulls PCM from its source and queues it on a device. It asks the
// source to wake the engine when there is room, tells when all queued audio has played and how
// far the sound lags behind what was queued, and reports the end of the song as FillBuffers'
// result. A device that does not open or stops taking audio is a failure with a reason
// (LastError), never a song that ends early. Only the engine thread calls an output, except
// volume and balance, which may be set from any thread.
#include "playback/uAudioSource.h"

#include <cstdint>
#include <string>

namespace ml {

struct TWaveFormat {
  uint16_t FormatTag = 0;
  uint16_t Channels = 0;
  uint32_t SamplesPerSec = 0;
  uint32_t AvgBytesPerSec = 0;
  uint16_t BlockAlign = 0;
  uint16_t BitsPerSample = 0;
  uint16_t Size = 0;

  // Integer PCM of that shape.
  static TWaveFormat Pcm(int channels, int sampleRate, int bitsPerSample);
};

class TOutputModule {
public:
  virtual ~TOutputModule() = default;
  // Opens the device for format and takes PCM from source from now on (replacing any earlier
  // source). HasDevice() tells whether the device opened.
  virtual void SetSource(TAudioSource* source, const TWaveFormat& format) = 0;
  virtual bool SetPaused(bool paused) = 0;
  // Drops what is queued (a seek); what comes next is pulled from the source anew.
  virtual bool Flush() = 0;
  virtual void SetBalance(int balance) = 0;  // 0..100, 50 = centre
  virtual void SetVolume(int volume) = 0;    // 0..100
  // Queues what the device has room for. False once the source has ended (everything it gave is
  // queued), when there is no device, or when the device failed (Failed()); true while more is
  // to come.
  virtual bool FillBuffers() = 0;
  // After the source ended: has the device played the last queued byte? A device that fails on
  // the way says so through Failed().
  virtual bool IsFinished() = 0;
  // Milliseconds of audio queued but not heard yet: what the position must be set back by.
  virtual uint32_t QueuedMs() = 0;
  // Closes the device and lets go of the source.
  virtual void Stop() = 0;

  // Whether a device is open (false also when it failed to open).
  virtual bool HasDevice() const = 0;
  // The device did not open, or stopped taking audio; LastError says why.
  bool Failed() const { return !Error_.empty(); }
  const std::string& LastError() const { return Error_; }
  // Short description for messages: "ALSA default", "null", ...
  virtual std::string Describe() const = 0;

  TWaveFormat Format;  // the device format, set by SetSource

protected:
  std::string Error_;  // set by the device when it fails; cleared by SetSource
};

}  // namespace ml
