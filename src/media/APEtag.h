#pragma once
// APE tags (versions 1 and 2) found by their footer at the end of a file, before an ID3v1 tag.
#include "media/TagReader.h"

#include <cstdint>
#include <string>

namespace ml {

class TAPEtag final : public TMediaReader {
public:
  void ResetData() override;
  bool Recognised() const override { return Exists; }
  void FillMediaInfo(TMediaInfo& info) const override;

  bool Exists = false;
  uint32_t Version = 0;  // 1000 or 2000 as stored
  uint32_t Size = 0;     // items plus footer, from the footer
  uint64_t FileSize = 0;
  std::string Title, Artist, Album;  // UTF-8
  uint8_t Track = 0;
  std::string Year, Genre, Comment, Copyright;

protected:
  bool Parse(TMediaSource& src) override;
};

}  // namespace ml
