#pragma once
// ID3v1 / ID3v1.1: the fixed 128-byte "TAG" block at the end of an MPEG file.
#include "media/TagReader.h"

#include <cstdint>
#include <string>

namespace ml {

class TID3v1 final : public TTagReader {
public:
  void ResetData() override;

  // The genre's name, empty for an index outside the list (255: none).
  std::string Genre() const;
  // The tag fields as the merged record holds them (track only for ID3v1.1); empty when absent.
  TMediaInfo Tags() const;

  bool Exists = false;
  uint8_t VersionID = 1;  // 1: ID3v1.0, 2: ID3v1.1
  std::string Title, Artist, Album, Year, Comment;  // UTF-8
  uint8_t Track = 0;      // ID3v1.1 only
  uint8_t GenreID = 255;

protected:
  bool Parse(TMediaSource& src) override;
};

}  // namespace ml
