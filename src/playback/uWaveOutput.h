#pragma once
// The sound card output on ALSA. Volume and balance are applied to the samples, as ALSA PCMs
// have no stream volume of their own.
#include "playback/uRingOutput.h"

typedef struct _snd_pcm snd_pcm_t;

namespace ml {

class TWaveOutput : public TRingOutput {
public:
  // device: an ALSA PCM name ("default", "hw:0", "null", ...); empty means "default".
  explicit TWaveOutput(std::string device) : Device_(device.empty() ? "default" : std::move(device)) {}
  ~TWaveOutput() override { Stop(); }
  std::string Describe() const override { return "ALSA " + Device_; }
  const std::string& DeviceName() const { return Device_; }
  void SetDeviceName(const std::string& name) { Device_ = name.empty() ? "default" : name; }

protected:
  bool DeviceOpen() override;
  void DeviceClose() override;
  bool DeviceWrite(const uint8_t* data, uint32_t length) override;
  uint64_t DevicePlayed() override;
  void DevicePause(bool paused) override;
  void DeviceFlush() override;
  void DeviceDrain() override;
  uint64_t DeviceRoom() override;
  bool DeviceAllPlayed() override;
  uint64_t DeviceDelay() override;

private:
  void StartIfPrepared();

  std::string Device_;
  snd_pcm_t* Pcm_ = nullptr;
  uint64_t BufferFrames_ = 0;
  bool CanPause_ = false;
  bool Drained_ = false;  // the device has played the song's last frame
};

}  // namespace ml
