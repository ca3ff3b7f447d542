#pragma once
// MPEG-1/2/2.5 audio, Layers I to III, decoded by libmad and converted to 16-bit PCM with the
// linear dither and noise shaping of libmad's reference player.
#include "media/MpegHeader.h"
#include "playback/uDecoderModule.h"

#include <mad.h>

#include <array>
#include <vector>

namespace ml {

// The first frame and its VBR ("Xing", or "Info" as CBR encoders write it) information.
struct TMPEGFirstFrame {
  bool Found = false;
  uint64_t Offset = 0;  // file offset of the first frame
  int FrameLength = 0;
  TMPEGHeaderFields Header;
  bool InfoTag = false;  // the frame carries "Xing"/"Info" and no audio
  bool IsXing = false;   // "Xing" (VBR) rather than "Info" (CBR)
  uint32_t VBRFlags = 0;
  uint32_t VBRFrames = 0;
  uint32_t VBRBytes = 0;
  std::array<uint8_t, 100> VBRTable{};
  uint32_t VBRQuality = 0;
};

// Finds the first frame at or after start of window (the bytes of the file from windowOffset on):
// a valid header followed by another valid header one frame later. Reads the VBR header if any.
bool FindFirstFrameIn(const uint8_t* window, size_t size, uint64_t windowOffset, TMPEGFirstFrame& out);

// The byte length of an ID3v2 tag at the start of these 10 bytes (header, footer included); 0
// without one.
uint64_t ID3v2TagLength(const uint8_t* head10);

// libmad's reference dither, per channel; 64-bit so that shaping error cannot overflow.
struct TMadDither {
  int64_t Error[3] = {0, 0, 0};
  uint32_t Random = 0;
  int16_t Apply(mad_fixed_t sample);
};

inline int16_t TMadDither::Apply(mad_fixed_t s) {
  constexpr int kScaleBits = MAD_F_FRACBITS + 1 - 16;
  constexpr int64_t kMask = (int64_t(1) << kScaleBits) - 1;
  constexpr int64_t kMax = MAD_F_ONE - 1, kMin = -MAD_F_ONE;
  int64_t sample = int64_t(s) + Error[0] - Error[1] + Error[2];
  Error[2] = Error[1];
  Error[1] = Error[0] / 2;
  int64_t output = sample + (int64_t(1) << (kScaleBits - 1));
  const uint32_t random = Random * 1664525u + 1013904223u;
  output += int64_t(random & kMask) - int64_t(Random & kMask);
  Random = random;
  if (output > kMax) {
    output = kMax;
    if (sample > kMax) sample = kMax;
  } else if (output < kMin) {
    output = kMin;
    if (sample < kMin) sample = kMin;
  }
  output &= ~kMask;
  Error[0] = sample - output;
  return static_cast<int16_t>(output >> kScaleBits);
}

class TMPEGDecoder : public TDecoderModule {
public:
  static constexpr const char* kName = "MPEG";

  TMPEGDecoder();
  ~TMPEGDecoder() override;
  const char* Name() const override { return kName; }
  void Close() override;
  void Seek(float fraction) override;
  int32_t GetPositionMs() override;
  bool Read(uint8_t* buffer, uint32_t& count) override;

  const TMPEGFirstFrame& FirstFrame() const { return First_; }
  uint64_t TagLength() const { return TagLength_; }
  // Sums kept for the average bit rate.
  uint64_t FrameCount() const { return FrameCount_; }

  static constexpr size_t kInputSize = 40000;
  static constexpr size_t kSearchWindow = 15561;

protected:
  bool OpenInput() override;

private:
  bool FindFirstFrame();
  bool Refill();
  void ResetStream(uint64_t fileOffset);
  void OnFrameDecoded();

  mad_stream Stream_{};
  mad_frame Frame_{};
  mad_synth Synth_{};
  bool MadReady_ = false;
  std::vector<uint8_t> Input_;
  uint64_t InputOffset_ = 0;  // file offset of Input_[0]
  bool GuardAdded_ = false;
  bool Ended_ = false;

  TMPEGFirstFrame First_;
  uint64_t TagLength_ = 0;
  uint64_t DataStart_ = 0;  // first frame carrying audio
  uint64_t AudioEnd_ = 0;   // file size less a trailing ID3v1 tag

  unsigned SynthPos_ = 0;  // samples of the current synthesised frame already delivered
  int64_t PosSamples_ = 0;
  bool Aligning_ = false;  // after a seek: drop audio before SeekTarget_
  int64_t SeekTarget_ = 0;
  uint64_t FrameCount_ = 0;
  uint64_t BitrateSum_ = 0;
  TMadDither Dither_[2];
};

}  // namespace ml
