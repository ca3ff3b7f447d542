#pragma once
// Tags of the files an input plug-in plays (FLAC, say), asked of the plug-in itself through its
// extended-info entry: the title, artist and album it finds, its length, rate and channels.
#include "media/TagReader.h"

#include <string>

namespace ml {

class TPluginTags final : public TMediaReader {
public:
  void ResetData() override;
  bool Recognised() const override { return Valid; }
  void FillMediaInfo(TMediaInfo& info) const override;

  bool Valid = false;
  uint64_t FileSize = 0;
  int32_t SampleRate = 0, Bitrate = 0, DurationMs = 0, Channels = 0;
  std::string Title, Artist, Album, Year, Genre, Comment;
  int Track = 0;

protected:
  bool Parse(TMediaSource& src) override;
};

}  // namespace ml
