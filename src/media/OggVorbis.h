#pragma once
// Ogg Vorbis files: the identification and comment headers, and the last granule position for
// the length.
#include "media/TagReader.h"

#include <cstdint>
#include <string>

namespace ml {

class TOggVorbis final : public TMediaReader {
public:
  void ResetData() override;
  bool Recognised() const override { return Valid(); }
  void FillMediaInfo(TMediaInfo& info) const override;

  double Duration() const;  // seconds
  int BitRate() const;      // kbps over the whole file
  bool Valid() const;

  uint64_t FileSize = 0;
  uint8_t ChannelModeID = 0;  // channel count
  uint32_t SampleRate = 0;
  uint16_t BitRateNominal = 0;  // kbps
  uint64_t Samples = 0;         // granule position of the last page
  uint32_t ID3v2Size = 0;       // bytes of an ID3v2 tag in front of the stream
  std::string Title, Artist, Album;  // UTF-8
  uint8_t Track = 0;
  std::string Date, Genre, Comment, Vendor;

protected:
  bool Parse(TMediaSource& src) override;
};

}  // namespace ml
