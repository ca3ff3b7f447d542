#pragma once
// APE tags (versions 1 and 2) found by their footer at the end of a file, before an ID3v1 tag.
#include "MediaSource.h"

#include <cstdint>
#include <string>

namespace ml {

class TAPEtag {
public:
  TAPEtag() { ResetData(); }
  void ResetData();
  // False only when the file cannot be read or is too short to hold the footer.
  bool Read(const std::string& path);
  bool Read(TMediaSource& src);

  bool Exists = false;
  uint32_t Version = 0;  // 1000 or 2000 as stored
  uint32_t Size = 0;     // items plus footer, from the footer
  uint64_t FileSize = 0;
  std::string Title, Artist, Album;  // UTF-8
  uint8_t Track = 0;
  std::string Year, Genre, Comment, Copyright;
};

}  // namespace ml
