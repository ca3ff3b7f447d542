#pragma once
// TLRCParse: one LRC lyric file read into a time-ordered array of lines, the line sung at a given
// play position, and the per-file time offset the user shifts and saves back into the file.
//
// Files come in GBK (the classic form), UTF-8 with or without a BOM, and UTF-16 with a BOM. All
// syntax ("[", "]", ":", "<", ">") is ASCII, so the parser walks whole characters of the file's
// own encoding and never mistakes the second byte of a GBK character for a bracket. Texts are
// handed out as UTF-8.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace ml {

// One timed word of a word-timed ("enhanced") line: from Time on, the text from byte Start of
// the line's Text is being sung. A trailing tag gives a word with Start == Text.size(): the time
// the last word ends.
struct TLyricWord {
  int32_t Time = 0;
  uint32_t Start = 0;
};

// One lyric line: milliseconds from the start of the song (without the offset) and its text.
struct TLines {
  int32_t Time = 0;
  std::string Text;
  std::vector<TLyricWord> Words;  // empty unless the line carries "<mm:ss.xx>" word tags
};
using TArrayLines = std::vector<TLines>;

// The answer of the line queries: times with the offset applied.
struct TLineInfo {
  int32_t Index = 0;
  int32_t Start = 0;
  int32_t Length = 0;
  std::string Text;
};

enum class TLyricEncoding { Gbk, Utf8, Utf8Bom, Utf16LE, Utf16BE };
const char* LyricEncodingName(TLyricEncoding e);

// UTF-8 or UTF-16 by their BOM, UTF-8 when the bytes are strictly valid UTF-8, else GBK.
TLyricEncoding DetectLyricEncoding(std::string_view raw);

class TLRCParse {
public:
  // Larger files are refused: no lyric comes near it, and a dropped song file must not be
  // taken for one.
  static constexpr uint64_t MaxFileSize = 4 * 1024 * 1024;
  static constexpr int MaxTimeTagsPerLine = 65;
  static constexpr int32_t MaxOffset = 59999;
  // How long the last line lasts for the display, however long the song goes on.
  static constexpr int32_t LastLineLength = 60000;

  // The parsed state; read freely, change only through the methods.
  std::string FileName;
  int32_t OffsetLine = 0;   // 0-based line of the file holding the offset tag (0 when none)
  int32_t Offset = 0;       // positive: every line shows earlier
  TArrayLines Lines;        // sorted by time; Count() of them
  bool Modified = false;    // offset changed and not yet written back
  int32_t TagCount = 0;     // lines that came from "ti", "ar", "al" and "by"
  // Those tags themselves, in file order: name in lower case ("ti") and value as written.
  std::vector<std::pair<std::string, std::string>> Header;
  bool Loaded = false;      // the last file parsed had at least one "]"
  TLyricEncoding Encoding = TLyricEncoding::Gbk;

  int32_t Count() const { return static_cast<int32_t>(Lines.size()); }

  void ClearLines();

  // Reads and parses a file. False, with the reason in *error, when the path is empty, the file
  // cannot be read, is too large, holds binary data or has no lyric tags; a refused file leaves
  // the parser cleared (a readable text file without tags keeps its name, as the display's
  // association needs it).
  bool LoadFromFile(const std::string& path, std::string* error = nullptr);
  // Parses bytes already in memory (the file's whole contents); the file name is left as is.
  bool LoadFromBytes(std::string_view raw, std::string* error = nullptr);

  // Index of the line sung at t (offset applied), -1 before the first line or with no lines.
  int32_t FindLineIndex(int32_t t) const;
  // The line sung at t. False only when there are no lines; before the first line the answer is
  // the cleared record (index 0, start 0, length 0).
  bool GetLineAt(int32_t t, TLineInfo& result) const;
  bool GetNextLine(int32_t index, TLineInfo& result) const;
  bool GetPrevLine(int32_t index, TLineInfo& result) const;

  // Every line's text, each preceded by CR LF (the clipboard form).
  std::string GetText() const;

  // Ignored when ms equals the offset or lies outside [-MaxOffset, MaxOffset].
  void SetOffset(int32_t ms);

  // Writes the offset back into the file: the offset tag found in the file as it is now gets the
  // new value, or a tag line is inserted at the top; every other byte stays as it was and the
  // file is replaced atomically. True when there was nothing to save or the save worked; on
  // failure Modified stays set and *error says why.
  bool SaveOffset(std::string* error = nullptr);

private:
  int32_t LineLength(int32_t index) const;
  TLineInfo MakeInfo(int32_t index) const;
};

// A file's bytes with its offset set: the last offset tag of the file (the one that takes effect)
// gets the new value or, when the file has none, a "[offset:N]" line is inserted at the top in
// the file's encoding and line ending. Refused for bytes that are not a lyric file, and for a
// file whose effective offset tag holds text that is no number in any encoding: replacing such
// bytes could change how the whole file is read (they may be all that makes it GBK rather than
// UTF-8), so that file is left as it is.
struct TLyricOffsetEdit {
  enum class TRefusal { None, NotLyrics, UnreadableTag };
  std::optional<std::string> Bytes;  // the edited file; nullopt when refused
  int32_t OffsetLine = 0;            // the 0-based line of the tag that now holds the offset
  TRefusal Refusal = TRefusal::None;
};
TLyricOffsetEdit RewriteLyricOffset(std::string_view raw, int32_t offset);

}  // namespace ml
