#pragma once
// ID3v2 tags (versions 2.2, 2.3 and 2.4) at the start of a file: the text frames a player shows.
#include "MediaSource.h"

#include <cstdint>
#include <string>

namespace ml {

class TID3v2 {
public:
  TID3v2() { ResetData(); }
  void ResetData();
  // False only when the file cannot be read or is shorter than the 10-byte header.
  bool Read(const std::string& path);
  bool Read(TMediaSource& src);

  bool Exists = false;
  uint8_t VersionID = 0;  // the major version byte
  uint32_t Size = 0;      // whole tag including header and footer; 0 when absent or larger than the file
  std::string Title, Artist, Album;  // UTF-8
  int Track = 0;
  std::string Year, Genre, Comment;

  // Size of the tag whose 10-byte header is given, as above (before the file-size check).
  static uint64_t TagSizeFromHeader(std::string_view header);

private:
  void ReadFrames(TMediaSource& src, uint64_t start, uint64_t end, bool tagUnsync);
};

}  // namespace ml
