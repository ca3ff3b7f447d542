#pragma once
// MPEG audio (Layers I-III, MPEG-1/2/2.5): finds the first frame after the ID3v2 tag, reads the
// Xing, Info or VBRI header, and works out bit rate and duration without decoding: from the
// header's frame count when there is one, else by counting the frames' headers.
#include "media/ID3v1.h"
#include "media/ID3v2.h"
#include "media/MpegHeader.h"
#include "media/TagReader.h"

#include <cstdint>
#include <string>

namespace ml {

struct TVBRData {
  bool Found = false;
  char ID[4] = {0, 0, 0, 0};  // "Xing", "Info" or "VBRI"
  uint32_t Frames = 0;
  uint32_t Bytes = 0;
  uint8_t Quality = 0;
};

struct TFrameData {
  bool Found = false;
  uint32_t Position = 0;  // inside the search window it was found in
  uint16_t Size = 0;      // frame length in bytes
  uint8_t VersionID = 1;  // 3: MPEG-1, 2: MPEG-2, 0: MPEG-2.5 (1 is reserved)
  uint8_t LayerID = 0;    // 3: Layer I, 2: Layer II, 1: Layer III
  bool ProtectionBit = false;
  uint8_t BitRateID = 0;
  uint8_t SampleRateID = 3;
  bool PaddingBit = false;
  bool PrivateBit = false;
  uint8_t ModeID = 4;  // 0 stereo, 1 joint stereo, 2 dual channel, 3 mono, 4 unknown
  uint8_t ModeExtensionID = 4;
  bool CopyrightBit = false;
  bool OriginalBit = false;
  uint8_t EmphasisID = 2;
};

class TMPEGaudio final : public TMediaReader {
public:
  void ResetData() override;
  bool Recognised() const override { return Valid(); }
  void FillMediaInfo(TMediaInfo& info) const override;

  uint64_t FileSize = 0;
  TVBRData VBR;
  TFrameData Frame;
  TID3v1 ID3v1;
  TID3v2 ID3v2;
  // The audio: samples per channel and the bytes they come from (the VBR header's count, or the
  // frames counted one by one); trailing tags are not part of it.
  uint64_t Samples = 0;
  uint64_t AudioBytes = 0;
  // Every byte of the audio, from right after the ID3v2 tag to the trailing tag, is one chain of
  // frames: an MPEG stream however short it is.
  bool WholeChain = false;

  int BitRate() const;      // kbps: the average over the audio
  int SampleRate() const;   // Hz, 0 without a frame
  double Duration() const;  // seconds
  std::string ChannelMode() const;
  bool Valid() const;

protected:
  bool Parse(TMediaSource& src) override;

private:
  // windowOffset: where the window starts in the file; audioEnd: where the audio ends.
  bool FindFrame(std::string_view window, size_t searchable, uint64_t windowOffset, uint64_t audioEnd);
  void MeasureAudio(TMediaSource& src, uint64_t audioEnd);
  int FrameBitRate() const;
  TMPEGHeaderFields Header() const;

  uint64_t FrameOffset_ = 0;  // in the file
  TMpegVbrHeader Vbr_;
};

}  // namespace ml
