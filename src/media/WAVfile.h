#pragma once
// RIFF/WAVE files: format and length from the chunk headers, tags from their own chunks.
#include "media/ID3v2.h"
#include "media/RiffWave.h"
#include "media/TagReader.h"

#include <cstdint>
#include <string>

namespace ml {

class TWAVfile final : public TMediaReader {
public:
  void ResetData() override;
  bool Recognised() const override { return Valid; }
  void FillMediaInfo(TMediaInfo& info) const override;

  double Duration() const;  // seconds; 0 when the format gives no way to tell
  int32_t Bitrate() const;  // kbit/s, as the WAV decoder shows it

  bool Valid = false;
  uint8_t Channels = 0;
  uint32_t SampleRate = 0;
  uint8_t BitsPerSample = 0;
  uint32_t ByteRate = 0;   // average bytes per second as the header states it
  uint32_t FileSize = 0;   // the RIFF size plus 8, or the real size when the header overstates it
  uint64_t DataSize = 0;   // bytes of the data chunk that are really there; 0 when none was found
  TID3v2 ID3v2;            // the tag of the first "id3 " (or "ID3 ") chunk
  TMediaInfo InfoTags;     // the tag fields of the first LIST chunk of type INFO

protected:
  bool Parse(TMediaSource& src) override;

private:
  TWaveFmt Fmt_;
};

}  // namespace ml
