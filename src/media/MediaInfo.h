#pragma once
// TMediaInfo: the merged technical and tag information of one file, as the tag readers find it,
// the player keeps it for the current song and the music library copies it into a song entry.
#include "media/MediaText.h"

#include <cstdint>
#include <string>

namespace ml {

// Text is UTF-8.
struct TMediaInfo {
  uint32_t FileSize = 0;  // bytes, as the reader that won saw them
  int32_t SampleRate = 0; // Hz
  int32_t Bitrate = 0;    // kbps; 0 for WAV and APE-only files
  int32_t Duration = 0;   // ms
  int32_t Channels = 0;   // 1 or 2 (6 for some Ogg Vorbis files)
  std::string Title, Artist, Album;
  std::string Year;       // as the tag writes it, not a number
  std::string Genre;
  uint8_t Track = 0;      // 0 when unknown
  std::string Comment;

  bool operator==(const TMediaInfo&) const = default;
};

// Sets the tag fields of info from a reader whose own fields carry their names (Title, Artist,
// Album, Year, Genre, Track, Comment); a track beyond the 8-bit field is unknown.
template <class TReader>
void SetTagFields(TMediaInfo& info, const TReader& reader) {
  info.Title = reader.Title;
  info.Artist = reader.Artist;
  info.Album = reader.Album;
  info.Year = reader.Year;
  info.Genre = reader.Genre;
  info.Track = TrackByte(reader.Track);
  info.Comment = reader.Comment;
}

// Fills the tag fields of into that are still empty (Track: 0) from the same fields of from; the
// format fields are left alone. A file may carry two tags (ID3v2 and ID3v1, an ID3v2 chunk and an
// INFO list): the first speaks, the second completes it.
void FillMissingTags(TMediaInfo& into, const TMediaInfo& from);

// Whole milliseconds of a duration in seconds; 0 for anything not positive and finite.
int32_t DurationMs(double seconds);
// A size for the 32-bit field of the merged record (larger files report 4 GiB - 1).
uint32_t FileSize32(uint64_t size);

}  // namespace ml
