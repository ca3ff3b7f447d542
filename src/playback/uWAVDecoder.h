#pragma once
// RIFF/WAVE files of one or two channels: integer PCM of 8, 16, 24 or 32 bits played as it is
// stored; 32- and 64-bit float dithered to 16 bits; A-law and mu-law expanded to 16 bits. The
// chunks are walked to find "fmt " and "data", so files with LIST/fact/cue chunks play only their
// audio. Any other coding (ADPCM, MPEG in WAV, ...) is refused with a reason (OpenError).
#include "media/RiffWave.h"
#include "playback/PcmDither.h"
#include "playback/uDecoderModule.h"

#include <vector>

namespace ml {

class TWAVDecoder : public TDecoderModule {
public:
  static constexpr const char* kName = "WAV";

  ~TWAVDecoder() override { Close(); }
  const char* Name() const override { return kName; }
  // The file's own bit rate (Rate holds the file's bytes per second), as the tag reader shows it.
  int32_t BitRateKbps() const override { return Fmt_.BitrateKbps(); }
  void Close() override;
  void Seek(float fraction) override;
  int32_t GetPositionMs() override;
  bool Read(uint8_t* buffer, uint32_t& count) override;

  uint64_t DataStart() const { return DataStart_; }
  uint64_t DataLength() const { return DataLength_; }

protected:
  bool OpenInput() override;

private:
  // Converts frames of the file's coding at in to the PCM the decoder delivers at out.
  void Convert(const uint8_t* in, uint32_t frames, uint8_t* out);

  TWaveFmt Fmt_;
  uint64_t DataStart_ = 0;
  uint64_t DataLength_ = 0;  // bytes of the data chunk, whole frames
  uint32_t BytesPerSecond_ = 0;  // of the file
  uint32_t FileFrame_ = 0;  // bytes of a sample frame in the file
  uint32_t OutFrame_ = 0;   // bytes of a sample frame delivered
  uint64_t Delivered_ = 0;  // bytes of the data chunk before the read position
  std::vector<uint8_t> Scratch_;  // file bytes of a converting read
  TPcmDither Dither_[2];
};

}  // namespace ml
