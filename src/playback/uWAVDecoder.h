#pragma once
// RIFF/WAVE files with integer PCM of 8, 16, 24 or 32 bits, one or two channels. The chunks are
// walked to find "fmt " and "data", so files with LIST/fact/cue chunks play only their audio.
#include "playback/uDecoderModule.h"

namespace ml {

class TWAVDecoder : public TDecoderModule {
public:
  static constexpr const char* kName = "WAV";

  ~TWAVDecoder() override { Close(); }
  const char* Name() const override { return kName; }
  // Rate holds bytes per second.
  int32_t BitRateKbps() const override { return static_cast<int32_t>(int64_t(Format.Rate) * 8 / 1000); }
  void Close() override;
  void Seek(float fraction) override;
  int32_t GetPositionMs() override;
  bool Read(uint8_t* buffer, uint32_t& count) override;

  uint64_t DataStart() const { return DataStart_; }
  uint64_t DataLength() const { return DataLength_; }

protected:
  bool OpenInput() override;

private:
  uint64_t DataStart_ = 0;
  uint64_t DataLength_ = 0;
  uint32_t BytesPerSecond_ = 0;
  uint32_t BlockAlign_ = 0;
  uint64_t Delivered_ = 0;  // bytes of the data chunk before the read position
};

}  // namespace ml
