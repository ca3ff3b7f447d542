#include "media/ID3v1.h"

#include "media/MediaText.h"

namespace ml {

void TID3v1::ResetData() { *this = TID3v1(); }

bool TID3v1::Parse(TMediaSource& src) {
  const uint64_t size = src.Size();
  if (size < 128) return false;
  std::string tag = src.Read(size - 128, 128);
  if (tag.size() != 128) return false;
  if (!HasAt(tag, 0, "TAG")) return true;
  Exists = true;
  const char b125 = tag[125], b126 = tag[126];
  const bool v11 = (b125 == 0 && b126 != 0) || (b125 == ' ' && b126 != ' ');
  VersionID = v11 ? 2 : 1;
  auto field = [&](size_t from, size_t len) {
    return DecodeAnsiText(std::string_view(tag).substr(from, len));
  };
  Title = field(3, 30);
  Artist = field(33, 30);
  Album = field(63, 30);
  Year = field(93, 4);
  Comment = field(97, v11 ? 28 : 30);
  if (v11) Track = static_cast<uint8_t>(b126);
  GenreID = static_cast<uint8_t>(tag[127]);
  return true;
}

std::string TID3v1::Genre() const { return std::string(GenreName(GenreID)); }

TMediaInfo TID3v1::Tags() const {
  TMediaInfo t;
  if (!Exists) return t;
  t.Title = Title;
  t.Artist = Artist;
  t.Album = Album;
  t.Year = Year;
  t.Genre = Genre();
  t.Track = VersionID == 2 ? Track : 0;
  t.Comment = Comment;
  return t;
}

}  // namespace ml
