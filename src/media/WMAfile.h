#pragma once
// WMA files: the objects of the ASF header (file and stream properties, content descriptions).
#include "media/TagReader.h"

#include <array>
#include <cstdint>
#include <string>

namespace ml {

class TWMAfile final : public TMediaReader {
public:
  void ResetData() override;
  bool Recognised() const override { return Valid; }
  void FillMediaInfo(TMediaInfo& info) const override;

  // The working record the header objects fill.
  struct TFileData {
    uint64_t FileSize = 0;
    uint32_t MaxBitRate = 0;   // bits per second
    uint16_t Channels = 0;
    uint32_t SampleRate = 0;
    uint32_t ByteRate = 0;     // average bytes per second of the audio stream
    double PlayDuration = 0;   // seconds, without the preroll; 0 when the header has none
    // title, artist, album, track, year, genre, comment (UTF-8)
    std::array<std::string, 7> TagData;
  };

  bool Valid = false;
  uint64_t FileSize = 0;
  uint32_t Channels = 0;
  uint32_t SampleRate = 0;
  double Duration = 0;  // seconds
  uint32_t BitRate = 0;  // kbps
  std::string Title, Artist, Album;
  int Track = 0;
  std::string Year, Genre, Comment;

protected:
  bool Parse(TMediaSource& src) override;

private:
  void ReadObjects(TMediaSource& src, TFileData& data);
};

}  // namespace ml
