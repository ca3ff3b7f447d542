#pragma once
// The records of the lyric server: the search by caption and duration (29), the search by singer
// and song (129), the answer listing the hits (29), the download request (30) and the lyric's
// parts (30). One writer and one reader each; texts are GBK, as they travel.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "net/LRCmdStream.h"
#include "net/WireCodes.h"

namespace ml {

// [word 29][Integer request][short string song name][Integer duration, ms].
struct TLyricSearchRequest {
  static constexpr uint16_t Code = Cmd::LyricSearch;
  static constexpr size_t FixedSize = 11;
  int32_t RequestID = 0;
  std::string SongName;
  int32_t DurationMs = 0;
  bool operator==(const TLyricSearchRequest&) const = default;
};

// [word 129][Integer request][short string singer][short string song].
struct TLyricArtistSearchRequest {
  static constexpr uint16_t Code = Cmd::LyricSearchAlt;
  static constexpr size_t FixedSize = 8;
  int32_t RequestID = 0;
  std::string Singer, Song;
  bool operator==(const TLyricArtistSearchRequest&) const = default;
};

struct TLyricHit {
  int32_t LyricID = 0;
  std::string Singer, Title;
  bool operator==(const TLyricHit&) const = default;
};

// [word 29][Integer request][byte hits][word text length][text]: the text is "id|singer|title|"
// for each hit. At most MaxHits hits: the reader refuses more, and a hit whose fields are not all
// there, or whose id is not a decimal number; fields beyond the announced hits are ignored. A
// singer or title holding "|" cannot be written.
struct TLyricSearchReply {
  static constexpr uint16_t Code = Cmd::LyricSearch;
  static constexpr size_t FixedSize = 9;
  static constexpr size_t MaxHits = 15;
  int32_t RequestID = 0;
  std::vector<TLyricHit> Hits;
  bool operator==(const TLyricSearchReply&) const = default;
};

// [word 30][Integer request][Integer lyric].
struct TLyricDownloadRequest {
  static constexpr uint16_t Code = Cmd::LyricDownload;
  static constexpr size_t FixedSize = 10;
  int32_t RequestID = 0;
  int32_t LyricID = 0;
  bool operator==(const TLyricDownloadRequest&) const = default;
};

// [word 30][Integer request][Integer lyric][byte part count][byte part index][word length][data].
// A lyric travels in 1..MaxParts parts of at most PartBytes each; the reader refuses a count of 0
// or above MaxParts, an index not below the count, a length above PartBytes or one that runs past
// the record, so that no part can land outside the receiver's 16 KiB.
struct TLyricPart {
  static constexpr uint16_t Code = Cmd::LyricDownload;
  static constexpr size_t FixedSize = 14;
  static constexpr int MaxParts = 16;
  static constexpr size_t PartBytes = 1024;
  static constexpr size_t MaxLyricBytes = MaxParts * PartBytes;
  int32_t RequestID = 0;
  int32_t LyricID = 0;
  uint8_t PartCount = 0;
  uint8_t PartIndex = 0;
  std::string Data;
  bool operator==(const TLyricPart&) const = default;
};

bool WriteLyricSearchRequest(TCmdStream& s, const TLyricSearchRequest& r);
bool ReadLyricSearchRequest(const void* data, size_t length, TLyricSearchRequest& r);
bool WriteLyricArtistSearchRequest(TCmdStream& s, const TLyricArtistSearchRequest& r);
bool ReadLyricArtistSearchRequest(const void* data, size_t length, TLyricArtistSearchRequest& r);
bool WriteLyricSearchReply(TCmdStream& s, const TLyricSearchReply& r);
bool ReadLyricSearchReply(const void* data, size_t length, TLyricSearchReply& r);
bool WriteLyricDownloadRequest(TCmdStream& s, const TLyricDownloadRequest& r);
bool ReadLyricDownloadRequest(const void* data, size_t length, TLyricDownloadRequest& r);
bool WriteLyricPart(TCmdStream& s, const TLyricPart& r);
bool ReadLyricPart(const void* data, size_t length, TLyricPart& r);

}  // namespace ml
