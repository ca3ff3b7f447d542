#pragma once
// MPEG-1/2/2.5 audio, Layers I to III, decoded by libmad and converted to 16-bit PCM with the
// linear dither and noise shaping of libmad's reference player.
#include "media/MpegFrameIndex.h"
#include "media/MpegHeader.h"
#include "playback/PcmDither.h"
#include "playback/uDecoderModule.h"

#include <mad.h>

#include <array>
#include <memory>
#include <vector>

namespace ml {

// The first frame and its VBR header ("Xing", or "Info" as CBR encoders write it).
struct TMPEGFirstFrame {
  bool Found = false;
  uint64_t Offset = 0;  // file offset of the first frame
  int FrameLength = 0;
  TMPEGHeaderFields Header;
  TMpegVbrHeader Vbr;

  // A Xing/Info frame holds no audio (it is silence): decoding starts after it.
  bool InfoFrame() const { return Vbr.IsXingOrInfo(); }
};

// Finds the first frame in window (the bytes of the file from windowOffset on): a valid header
// followed by another valid header one frame later, or, at the window's start, a frame that ends
// exactly at audioEnd (a stream of a single frame). Reads the VBR header if any.
bool FindFirstFrameIn(const uint8_t* window, size_t size, uint64_t windowOffset, uint64_t audioEnd,
                      TMPEGFirstFrame& out);

class TMPEGDecoder : public TDecoderModule {
public:
  static constexpr const char* kName = "MPEG";

  TMPEGDecoder();
  ~TMPEGDecoder() override;
  const char* Name() const override { return kName; }
  // The stream's average, as the tag reader works it out (the rate field follows each frame).
  int32_t BitRateKbps() const override { return AverageKbps_; }
  void Close() override;
  void Seek(float fraction) override;
  int32_t GetPositionMs() override;
  bool Read(uint8_t* buffer, uint32_t& count) override;

  const TMPEGFirstFrame& FirstFrame() const { return First_; }
  uint64_t TagLength() const { return TagLength_; }
  // Frames decoded so far.
  uint64_t FrameCount() const { return FrameCount_; }
  // Samples (per channel) of the whole stream, as the open worked them out.
  uint64_t TotalSamples() const { return TotalSamples_; }

  static constexpr size_t kInputSize = 40000;
  static constexpr size_t kSearchWindow = 15561;

protected:
  bool OpenInput() override;
  uint64_t ReadAheadBytes() const override;

private:
  bool FindFirstFrame();
  bool Refill();
  void ResetStream(uint64_t fileOffset);
  void OnFrameDecoded();
  // After a jump: the place in the song of the frame just decoded, from its byte offset.
  void AlignToTarget();

  mad_stream Stream_{};
  mad_frame Frame_{};
  mad_synth Synth_{};
  bool MadReady_ = false;
  std::unique_ptr<uint8_t[]> Input_;  // kInputSize + MAD_BUFFER_GUARD, filled before it is read
  uint64_t InputOffset_ = 0;  // file offset of Input_[0]
  bool GuardAdded_ = false;
  bool Ended_ = false;

  TMPEGFirstFrame First_;
  uint64_t TagLength_ = 0;
  uint64_t DataStart_ = 0;  // first frame carrying audio
  uint64_t AudioEnd_ = 0;   // file size less a trailing ID3v1 tag
  uint64_t TotalSamples_ = 0;
  int32_t AverageKbps_ = 0;
  TMpegFrameIndex Index_;  // walked at open without a frame count, else at the first seek

  unsigned SynthPos_ = 0;  // samples of the current synthesised frame already delivered
  int64_t PosSamples_ = 0;
  bool Aligning_ = false;  // after a seek: drop audio before SeekTarget_
  int64_t SeekTarget_ = 0;
  std::vector<TMpegFrameAt> SeekFrames_;  // the frames from where decoding resumed to the target
  uint64_t FrameCount_ = 0;
  TPcmDither Dither_[2];
};

}  // namespace ml
