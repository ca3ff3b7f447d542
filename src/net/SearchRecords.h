#pragma once
// The records of the search server: the song search (14) and its result parts, the usage report
// (12), the song lookup by name (17) and the keyword suggestions (80). One writer and one reader
// each, shared by the client, the service, the tests and the fuzzers. Texts are GBK, as they
// travel. Readers take a record whole or not at all (net/RecordCodec.h); writers write all of a
// record or nothing and say which.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "net/WireCodes.h"
#include "net/LRCmdStream.h"

namespace ml {

// [word 14][Integer search number][word version][Integer user][short string keyword][word page]
// [Integer parts wanted]. Parts wanted is a set of result parts, bit p for part p: AllParts (-1)
// on the first request, the complement of what arrived on a resend.
struct TSearchRequest {
  static constexpr uint16_t Code = Cmd::Search;
  static constexpr size_t FixedSize = 19;  // with an empty keyword
  static constexpr uint32_t AllParts = 0xFFFFFFFFu;
  int32_t SearchNumber = 0;
  uint16_t ProgramVersion = 0;
  int32_t UserID = 0;
  std::string Keyword;
  uint16_t Page = 0;  // 0-based
  uint32_t PartsWanted = AllParts;
  bool operator==(const TSearchRequest&) const = default;
};

// One song of a result page. The word is the song's duration in seconds (65535 at most) and the
// text its artist: the player reads and keeps both without showing them.
struct TSearchRow {
  std::string Name;  // a file name with its extension
  std::array<uint8_t, 16> Digest{};
  int32_t Sources = 0;  // how many places hold the file
  int32_t Size = 0;     // bytes
  uint16_t DurationSeconds = 0;
  std::string Artist;
  bool operator==(const TSearchRow&) const = default;
};

// A result datagram. A page of PageRows rows goes out in parts numbered from 0 (at most
// MaxParts), each with the rows that fit: [word 14][Integer search number][Integer total] and,
// when total is above 0, [Integer first result, 1-based][word page rows][byte part][byte rows]
// and the rows, each [short string name][16 bytes digest][Integer sources][Integer size]
// [word duration][short string artist]. A total of 0 is the whole answer to a search without a
// match.
struct TSearchResultPart {
  static constexpr uint16_t Code = Cmd::Search;
  static constexpr size_t FixedSize = 10;   // up to the total
  static constexpr size_t HeaderSize = 18;  // up to the part's row count
  static constexpr int MaxParts = 32;       // the parts set has 32 bits
  static constexpr size_t MaxRows = 255;
  int32_t SearchNumber = 0;
  int32_t Total = 0;
  int32_t First = 0;
  uint16_t PageRows = 0;
  uint8_t Part = 0;
  std::vector<TSearchRow> Rows;
  bool operator==(const TSearchResultPart&) const = default;
};

// Bytes a row takes in a result part; SIZE_MAX when a text is too long for its short string.
size_t SearchRowSize(const TSearchRow& row);

// [word 12][word kind][short string text, lower case]: no answer.
struct TUsageReport {
  static constexpr uint16_t Code = Cmd::UsageReport;
  static constexpr size_t FixedSize = 5;
  static constexpr uint16_t SongPlayed = 3;
  static constexpr uint16_t KeywordSearched = 4;
  uint16_t Kind = KeywordSearched;
  std::string Text;
  bool operator==(const TUsageReport&) const = default;
};

// [word 17][short string name]: a song by name, as a web page names it ("Artist - Title", or a
// file name).
struct TSongLookupRequest {
  static constexpr uint16_t Code = Cmd::SongLookup;
  static constexpr size_t FixedSize = 3;
  std::string Name;
  bool operator==(const TSongLookupRequest&) const = default;
};

// [word 17][short string file name][short string extension][16 bytes digest][Integer file size]
// [Integer size held][word bit rate, kbit/s][word duration, seconds]. An all-zero digest: no such
// song. The service holds whole files, so the size held equals the file size.
struct TSongLookupReply {
  static constexpr uint16_t Code = Cmd::SongLookup;
  static constexpr size_t FixedSize = 32;  // with two empty names
  std::string FileName;   // without its extension
  std::string Extension;  // with its dot: ".mp3"
  std::array<uint8_t, 16> Digest{};
  int32_t FileSize = 0;
  int32_t SizeHeld = 0;
  uint16_t BitRateKbps = 0;
  uint16_t DurationSeconds = 0;
  bool operator==(const TSongLookupReply&) const = default;
};

// [word 80][Integer user][short string text].
struct TSuggestRequest {
  static constexpr uint16_t Code = Cmd::KeywordSuggest;
  static constexpr size_t FixedSize = 7;
  int32_t UserID = 0;
  std::string Text;
  bool operator==(const TSuggestRequest&) const = default;
};

// [word 80][byte count] and count times [short string word][Integer number of results].
struct TSuggestReply {
  static constexpr uint16_t Code = Cmd::KeywordSuggest;
  static constexpr size_t FixedSize = 3;
  struct TEntry {
    std::string Word;
    int32_t Results = 0;
    bool operator==(const TEntry&) const = default;
  };
  std::vector<TEntry> Entries;  // 255 at most
  bool operator==(const TSuggestReply&) const = default;
};

bool WriteSearchRequest(TCmdStream& s, const TSearchRequest& r);
bool ReadSearchRequest(const void* data, size_t length, TSearchRequest& r);
bool WriteSearchResultPart(TCmdStream& s, const TSearchResultPart& r);
bool ReadSearchResultPart(const void* data, size_t length, TSearchResultPart& r);
bool WriteUsageReport(TCmdStream& s, const TUsageReport& r);
bool ReadUsageReport(const void* data, size_t length, TUsageReport& r);
bool WriteSongLookupRequest(TCmdStream& s, const TSongLookupRequest& r);
bool ReadSongLookupRequest(const void* data, size_t length, TSongLookupRequest& r);
bool WriteSongLookupReply(TCmdStream& s, const TSongLookupReply& r);
bool ReadSongLookupReply(const void* data, size_t length, TSongLookupReply& r);
bool WriteSuggestRequest(TCmdStream& s, const TSuggestRequest& r);
bool ReadSuggestRequest(const void* data, size_t length, TSuggestRequest& r);
bool WriteSuggestReply(TCmdStream& s, const TSuggestReply& r);
bool ReadSuggestReply(const void* data, size_t length, TSuggestReply& r);

}  // namespace ml
