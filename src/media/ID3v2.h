#pragma once
// ID3v2 tags (versions 2.2, 2.3 and 2.4) at the start of a file, or filling a WAV chunk: the text
// frames a player shows.
#include "media/TagReader.h"

#include <cstdint>
#include <string>

namespace ml {

class TID3v2 final : public TTagReader {
public:
  void ResetData() override;

  bool Exists = false;
  uint8_t VersionID = 0;  // the major version byte
  uint32_t Size = 0;      // whole tag including header and footer; 0 when absent or larger than the file
  std::string Title, Artist, Album;  // UTF-8
  int Track = 0;
  std::string Year, Genre, Comment;

  // The tag fields as the merged record holds them; empty when absent.
  TMediaInfo Tags() const;

  // Size of the tag whose 10-byte header is given, as above (before the file-size check).
  static uint64_t TagSizeFromHeader(std::string_view header);

protected:
  bool Parse(TMediaSource& src) override;
};

}  // namespace ml
