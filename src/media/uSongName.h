#pragma once
// Song captions into search words. Most songs are known only by a caption ("张三 - 春天.mp3",
// "01.Track - Foo (live)"); the lyric search wants a singer and a song name from it, and the
// search results offer a few related words. ParseSongName cuts a caption into at most four
// meaningful parts and two bracket remarks, dropping track numbers, format words and the like.
//
// The rules are byte rules over GBK text (lengths count GBK bytes, a byte above 0x80 starts a
// two-byte character), so the parser works on the GBK form of the caption; characters that GBK
// lacks travel in their GB18030 four-byte form and count as one character.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace ml {

// A length-prefixed text of at most 255 bytes (GBK/GB18030 bytes).
struct TShortText {
  uint8_t Length = 0;
  char Data[255] = {};
  std::string_view View() const { return std::string_view(Data, Length); }
};

struct TSongNameParts {
  int32_t PartCount = 0;     // 0..4
  int32_t BracketCount = 0;  // 0..2
  std::array<TShortText, 5> Parts;  // four kept parts and the working slot
  std::array<TShortText, 2> Brackets;

  // The kept part or remark as UTF-8.
  std::string Part(int i) const;
  std::string Bracket(int i) const;
};

// Parses the first length bytes of GBK text (text may be null). result is cleared first.
void ParseSongNameGbk(const char* text, size_t length, TSongNameParts& result);
// Parses a UTF-8 caption.
void ParseSongName(std::string_view caption, TSongNameParts& result);

// Singer and song name for the lyric search: one part is the song; with two or more the first
// is the singer and the second the song.
void LyricSearchNames(const TSongNameParts& parts, std::string& singer, std::string& song);
// Up to four related search words: the parts, then the remarks, without repeats.
std::vector<std::string> RelatedSearchWords(const TSongNameParts& parts);

// Text before and after the first "-", each trimmed of blanks and control characters; both
// empty when there is no "-".
void SplitAtHyphen(std::string_view text, std::string& left, std::string& right);
// Text trimmed, with \ / : * ? " < > ! each replaced by a space, ready to name a file.
std::string MakeSafeFileName(std::string_view text);

}  // namespace ml
