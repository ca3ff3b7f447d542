#include "lyrics/LRCParse.h"

#include "base/ByteOrder.h"

#include "base/FileUtil.h"
#include "base/GbkText.h"
#include "base/StrUtil.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <limits>
#include <sys/stat.h>

namespace ml {
namespace {

constexpr size_t npos = std::string_view::npos;

// The file's characters, seen one unit at a time: bytes for UTF-8 and GBK, 16-bit units for
// UTF-16. Unit(i) is the character's value when it is ASCII and 0x80 or more otherwise; Step(i, end)
// is how many units the character at i takes. Syntax is always ASCII, so code that only ever looks
// at character starts can never read a bracket out of the middle of a character.
struct Utf8Units {
  std::string_view s;
  size_t Size() const { return s.size(); }
  // No multi-byte character holds an ASCII byte, so a byte search answers for characters.
  bool MayHold(size_t b, size_t e, char c) const { return std::memchr(s.data() + b, c, e - b) != nullptr; }
  uint32_t Unit(size_t i) const { return static_cast<unsigned char>(s[i]); }
  // UTF-8 continuation and lead bytes are all 0x80 or more: stepping byte by byte is safe.
  size_t Step(size_t, size_t) const { return 1; }
};

struct GbkUnits {
  std::string_view s;
  size_t Size() const { return s.size(); }
  // Later bytes of a character are digits or 0x40 and up: for any other ASCII byte, such as
  // "<", a byte search answers for characters.
  bool MayHold(size_t b, size_t e, char c) const {
    const auto v = static_cast<unsigned char>(c);
    if ((v >= '0' && v <= '9') || v >= 0x40) return true;
    return std::memchr(s.data() + b, c, e - b) != nullptr;
  }
  uint32_t Unit(size_t i) const { return static_cast<unsigned char>(s[i]); }
  // A lead byte takes its trail byte only when the pair is well formed, so a stray lead byte
  // before "]" leaves the bracket alone. CR and LF are never part of a character.
  size_t Step(size_t i, size_t end) const {
    auto at = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
    unsigned char lead = at(i);
    if (lead < 0x81 || lead == 0xFF || i + 1 >= end) return 1;
    unsigned char second = at(i + 1);
    if ((second >= 0x40 && second <= 0x7E) || (second >= 0x80 && second <= 0xFE)) return 2;
    if (second >= 0x30 && second <= 0x39 && i + 3 < end && at(i + 2) >= 0x81 && at(i + 2) <= 0xFE &&
        at(i + 3) >= 0x30 && at(i + 3) <= 0x39)
      return 4;
    return 1;
  }
};

struct Utf16Units {
  std::string_view bytes;  // after the BOM
  bool bigEndian;
  size_t Size() const { return bytes.size() / 2; }
  bool MayHold(size_t, size_t, char) const { return true; }
  uint32_t Unit(size_t i) const {
    const char* unit = bytes.data() + 2 * i;
    return bigEndian ? LoadBE16(unit) : LoadLE16(unit);
  }
  // Surrogates are 0xD800 and up, never ASCII, so unit steps are safe here too.
  size_t Step(size_t, size_t) const { return 1; }
};

size_t BomLength(TLyricEncoding e) {
  switch (e) {
    case TLyricEncoding::Utf8Bom: return 3;
    case TLyricEncoding::Utf16LE:
    case TLyricEncoding::Utf16BE: return 2;
    default: return 0;
  }
}

bool IsUtf16(TLyricEncoding e) { return e == TLyricEncoding::Utf16LE || e == TLyricEncoding::Utf16BE; }

// Text files never hold a NUL character; a file that does is a song, a picture or worse.
bool LooksBinary(std::string_view raw, TLyricEncoding e) {
  std::string_view body = raw.substr(std::min(raw.size(), BomLength(e)));
  if (!IsUtf16(e)) return std::memchr(body.data(), 0, body.size()) != nullptr;
  Utf16Units u{body, e == TLyricEncoding::Utf16BE};
  for (size_t i = 0; i < u.Size(); ++i)
    if (u.Unit(i) == 0) return true;
  return false;
}

// Calls fn(lineNumber, begin, end) for every line; lines end at CR LF, LF or CR, and a final line
// break does not start another line.
template <typename Units, typename Fn>
void ForEachLine(const Units& u, Fn&& fn) {
  const size_t n = u.Size();
  size_t start = 0;
  int32_t line = 0;
  for (size_t i = 0; i < n; ++i) {
    uint32_t c = u.Unit(i);
    if (c != '\r' && c != '\n') continue;
    fn(line++, start, i);
    if (c == '\r' && i + 1 < n && u.Unit(i + 1) == '\n') ++i;
    start = i + 1;
  }
  if (start < n) fn(line, start, n);
}

size_t FindUnit(const auto& u, size_t b, size_t e, uint32_t what) {
  for (size_t i = b; i < e; i += u.Step(i, e))
    if (u.Unit(i) == what) return i;
  return npos;
}

// Walks one line's tags: a "[" opens (a later "[" moves the opening), a "]" after an opening
// closes a tag when something stands between them; "[]" is no tag and leaves the opening where it
// was. Calls onTag(open, close) and returns where the text after the last tag begins.
template <typename Units, typename OnTag>
size_t WalkTags(const Units& u, size_t b, size_t e, bool& sawBracket, OnTag&& onTag) {
  size_t textStart = b, open = npos;
  for (size_t i = b; i < e; i += u.Step(i, e)) {
    uint32_t c = u.Unit(i);
    if (c == '[') {
      open = i;
    } else if (c == ']') {
      sawBracket = true;
      if (open != npos && i > open + 1) {
        onTag(open, i);
        textStart = i + 1;
        open = npos;
      }
    }
  }
  return textStart;
}

// Room for a tag name or a number copied out of the file; longer runs are neither.
struct AsciiBuf {
  char data[48];
};

// The units [b, e) as ASCII text in buf, blanks trimmed; nullopt when a non-ASCII character is
// among them or the run is too long to be a tag name or a number.
template <typename Units>
std::optional<std::string_view> AsciiOf(const Units& u, size_t b, size_t e, AsciiBuf& buf) {
  if (e - b > sizeof buf.data) return std::nullopt;
  for (size_t i = b; i < e; ++i) {
    uint32_t c = u.Unit(i);
    if (c >= 0x80) return std::nullopt;
    buf.data[i - b] = static_cast<char>(c);
  }
  return Trim(std::string_view(buf.data, e - b));
}

template <typename Units>
bool AllAsciiUnits(const Units& u, size_t b, size_t e) {
  for (size_t i = b; i < e; ++i)
    if (u.Unit(i) >= 0x80) return false;
  return true;
}

bool AllDigits(std::string_view s) {
  return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Whole number of up to nine digits; nullopt for anything else.
std::optional<int64_t> Digits(std::string_view s) {
  if (!AllDigits(s) || s.size() > 9) return std::nullopt;
  int64_t v = 0;
  for (char c : s) v = v * 10 + (c - '0');
  return v;
}

// Milliseconds of a decimal fraction's digits, rounded half up at the millisecond.
int64_t FractionMs(std::string_view digits) {
  int64_t ms = 0;
  for (size_t k = 0; k < 3; ++k) ms = ms * 10 + (k < digits.size() ? digits[k] - '0' : 0);
  if (digits.size() > 3 && digits[3] >= '5') ++ms;
  return ms;
}

// "ss", "ss." or "ss.fff..." in milliseconds.
std::optional<int64_t> SecondsMs(std::string_view s) {
  size_t dot = s.find('.');
  auto whole = Digits(s.substr(0, dot));
  if (!whole) return std::nullopt;
  int64_t ms = *whole * 1000;
  if (dot != npos) {
    std::string_view frac = s.substr(dot + 1);
    if (!frac.empty() && !AllDigits(frac)) return std::nullopt;
    ms += FractionMs(frac);
  }
  return ms;
}

// A time tag split at its first ":": "mm:ss", "mm:ss.xx" (any number of fraction digits),
// "mm:ss:xx" (the colon form some editors write) and "h:mm:ss.xx". Numbers are read here, never
// through the C locale, so a decimal comma setting cannot change a time. nullopt when the tag is
// not a time or does not fit 32-bit milliseconds.
std::optional<int32_t> ParseTime(std::string_view name, std::string_view value) {
  auto first = Digits(name);
  if (!first) return std::nullopt;
  int64_t ms;
  size_t colon = value.find(':');
  if (colon == npos) {
    auto sec = SecondsMs(value);
    if (!sec) return std::nullopt;
    ms = *first * 60000 + *sec;
  } else {
    std::string_view a = value.substr(0, colon), b = value.substr(colon + 1);
    if (b.find('.') != npos) {  // hours:minutes:seconds.fraction
      auto minutes = Digits(a);
      auto sec = SecondsMs(b);
      if (!minutes || *minutes >= 60 || !sec || *sec >= 60000) return std::nullopt;
      ms = *first * 3600000 + *minutes * 60000 + *sec;
    } else {  // minutes:seconds:fraction
      auto sec = Digits(a);
      if (!sec || !AllDigits(b)) return std::nullopt;
      ms = *first * 60000 + *sec * 1000 + FractionMs(b);
    }
  }
  if (ms > std::numeric_limits<int32_t>::max()) return std::nullopt;
  return static_cast<int32_t>(ms);
}

int32_t ParseOffsetValue(std::string_view value) {
  auto v = ParseInt(value);
  if (!v) return 0;
  return static_cast<int32_t>(std::clamp<int64_t>(*v, -TLRCParse::MaxOffset, TLRCParse::MaxOffset));
}

enum class TagKind { None, Text, Offset, Time, Other };

struct TagView {
  TagKind kind = TagKind::None;
  size_t valueBegin = 0, valueEnd = 0;  // units after the first ":" up to the "]"
  bool valueReadable = false;           // offset: the value is all ASCII (a number or not)
  std::string name;                     // a text tag's name, lower case
  int32_t time = 0;
  int32_t offset = 0;
};

// What the tag between open ("[") and close ("]") is.
template <typename Units>
TagView ClassifyTag(const Units& u, size_t open, size_t close) {
  TagView tag;
  size_t colon = FindUnit(u, open + 1, close, ':');
  if (colon == npos) return tag;
  tag.kind = TagKind::Other;
  tag.valueBegin = colon + 1;
  tag.valueEnd = close;
  AsciiBuf nameBuf, valueBuf;
  auto name = AsciiOf(u, open + 1, colon, nameBuf);
  if (!name) return tag;
  if (EqualsNoCase(*name, "ti") || EqualsNoCase(*name, "ar") || EqualsNoCase(*name, "al") ||
      EqualsNoCase(*name, "by")) {
    tag.kind = TagKind::Text;
    tag.name = ToLowerAscii(*name);
    return tag;
  }
  auto value = AsciiOf(u, colon + 1, close, valueBuf);
  if (EqualsNoCase(*name, "offset")) {
    tag.kind = TagKind::Offset;
    tag.valueReadable = AllAsciiUnits(u, colon + 1, close);
    tag.offset = value ? ParseOffsetValue(*value) : 0;
    return tag;
  }
  if (value) {
    if (auto t = ParseTime(*name, *value)) {
      tag.kind = TagKind::Time;
      tag.time = *t;
    }
  }
  return tag;
}

// What one file yields before its texts are decoded: texts are lists of unit ranges ("pieces")
// between word tags, decoded straight into the lines once the lines are in order.
struct PendingText {
  uint32_t firstPiece = 0, pieceCount = 0;  // pieceCount = words + 1
  uint32_t firstWord = 0;
};
struct PendingSlot {
  int32_t time;
  uint32_t text;
};
struct ParseOutput {
  std::vector<std::pair<size_t, size_t>> pieces;
  std::vector<int32_t> wordTimes;
  std::vector<PendingText> texts;
  std::vector<PendingSlot> slots;
  int32_t tagCount = 0;
  std::vector<std::pair<std::string, uint32_t>> header;  // text tag name, its text
  int32_t offset = 0;
  int32_t offsetLine = 0;
  bool sawBracket = false;

  uint32_t AddText(size_t b, size_t e) {
    texts.push_back({static_cast<uint32_t>(pieces.size()), 1, static_cast<uint32_t>(wordTimes.size())});
    pieces.emplace_back(b, e);
    return static_cast<uint32_t>(texts.size() - 1);
  }
};

// Splits the text [b, e) at its "<mm:ss.xx>" word tags. Brackets that do not hold a time stay
// text. Adds the text and returns its index, or nothing when no shown character remains.
template <typename Units>
std::optional<uint32_t> AddWordTimedText(const Units& u, size_t b, size_t e, ParseOutput& out) {
  PendingText text{static_cast<uint32_t>(out.pieces.size()), 0, static_cast<uint32_t>(out.wordTimes.size())};
  size_t pieceStart = b, open = npos, shown = 0;
  auto endPiece = [&](size_t end) {
    out.pieces.emplace_back(pieceStart, end);
    shown += end - pieceStart;
    ++text.pieceCount;
  };
  for (size_t i = u.MayHold(b, e, '<') ? b : e; i < e; i += u.Step(i, e)) {
    uint32_t c = u.Unit(i);
    if (c == '<') {
      open = i;
    } else if (c == '>' && open != npos) {
      size_t colon = FindUnit(u, open + 1, i, ':');
      AsciiBuf nameBuf, valueBuf;
      std::optional<std::string_view> name, value;
      std::optional<int32_t> t;
      if (colon != npos && (name = AsciiOf(u, open + 1, colon, nameBuf)) && (value = AsciiOf(u, colon + 1, i, valueBuf)))
        t = ParseTime(*name, *value);
      if (t) {
        endPiece(open);
        out.wordTimes.push_back(*t);
        pieceStart = i + 1;
      }
      open = npos;
    }
  }
  endPiece(e);
  if (shown == 0) {
    out.pieces.resize(text.firstPiece);
    out.wordTimes.resize(text.firstWord);
    return std::nullopt;
  }
  out.texts.push_back(text);
  return static_cast<uint32_t>(out.texts.size() - 1);
}

template <typename Units>
void ParseLine(const Units& u, size_t b, size_t e, int32_t lineNo, ParseOutput& out) {
  int32_t times[TLRCParse::MaxTimeTagsPerLine];
  int timeCount = 0;
  TagKind last = TagKind::None;
  size_t textStart = WalkTags(u, b, e, out.sawBracket, [&](size_t open, size_t close) {
    TagView tag = ClassifyTag(u, open, close);
    if (tag.kind == TagKind::None) return;  // no ":": not a tag at all
    last = tag.kind;
    switch (tag.kind) {
      case TagKind::Text: {
        const uint32_t text = out.AddText(tag.valueBegin, tag.valueEnd);
        out.slots.push_back({0, text});
        out.header.emplace_back(std::move(tag.name), text);
        ++out.tagCount;
        break;
      }
      case TagKind::Offset:
        out.offset = tag.offset;
        out.offsetLine = lineNo;
        break;
      case TagKind::Time:
        // Tags beyond what a line can hold are ignored.
        if (timeCount < TLRCParse::MaxTimeTagsPerLine) times[timeCount++] = tag.time;
        break;
      default:
        break;
    }
  });
  // A text tag as the last tag ends the line. A time tag without words is a pause: an empty line,
  // so the line before it stops being the one sung.
  if (last == TagKind::Text || timeCount == 0) return;
  std::optional<uint32_t> text = textStart < e ? AddWordTimedText(u, textStart, e, out) : std::nullopt;
  if (!text) text = out.AddText(e, e);
  for (int k = 0; k < timeCount; ++k) out.slots.push_back({times[k], *text});
}

template <typename Units>
ParseOutput ParseAll(const Units& u) {
  ParseOutput out;
  ForEachLine(u, [&](int32_t line, size_t b, size_t e) { ParseLine(u, b, e, line, out); });
  return out;
}

// Appends the UTF-8 form of the units [b, e) of the file's body.
void AppendDecoded(std::string& out, std::string_view body, TLyricEncoding enc, size_t b, size_t e) {
  switch (enc) {
    case TLyricEncoding::Gbk: AppendGbkAsUtf8(out, body.substr(b, e - b)); break;
    case TLyricEncoding::Utf16LE:
    case TLyricEncoding::Utf16BE:
      out += Utf16ToUtf8(body.substr(2 * b, 2 * (e - b)), enc == TLyricEncoding::Utf16BE);
      break;
    default: out.append(body.substr(b, e - b)); break;
  }
}

template <typename Fn>
auto WithUnits(std::string_view raw, TLyricEncoding enc, Fn&& fn) {
  std::string_view body = raw.substr(std::min(raw.size(), BomLength(enc)));
  switch (enc) {
    case TLyricEncoding::Gbk: return fn(GbkUnits{body});
    case TLyricEncoding::Utf16LE: return fn(Utf16Units{body, false});
    case TLyricEncoding::Utf16BE: return fn(Utf16Units{body, true});
    default: return fn(Utf8Units{body});
  }
}

// Refusals carry their reason.
bool Fail(std::string* error, std::string why) {
  if (error) *error = std::move(why);
  return false;
}

}  // namespace

const char* LyricEncodingName(TLyricEncoding e) {
  switch (e) {
    case TLyricEncoding::Gbk: return "GBK";
    case TLyricEncoding::Utf8: return "UTF-8";
    case TLyricEncoding::Utf8Bom: return "UTF-8 (BOM)";
    case TLyricEncoding::Utf16LE: return "UTF-16LE";
    case TLyricEncoding::Utf16BE: return "UTF-16BE";
  }
  return "?";
}

TLyricEncoding DetectLyricEncoding(std::string_view raw) {
  if (raw.starts_with("\xEF\xBB\xBF")) return TLyricEncoding::Utf8Bom;
  if (raw.starts_with("\xFF\xFE")) return TLyricEncoding::Utf16LE;
  if (raw.starts_with("\xFE\xFF")) return TLyricEncoding::Utf16BE;
  // No UTF-8 sequence holds an ASCII byte, so the text is valid UTF-8 exactly when each run of
  // non-ASCII bytes is. Lyrics are mostly ASCII tags: those runs are short and the ASCII between
  // them is skipped eight bytes at a time.
  const size_t n = raw.size();
  size_t i = 0;
  while (i < n) {
    while (i + 8 <= n) {
      uint64_t word;
      std::memcpy(&word, raw.data() + i, 8);
      if (word & 0x8080808080808080ull) break;
      i += 8;
    }
    while (i < n && static_cast<unsigned char>(raw[i]) < 0x80) ++i;
    size_t run = i;
    while (run < n && static_cast<unsigned char>(raw[run]) >= 0x80) ++run;
    if (run > i && !IsValidUtf8(raw.substr(i, run - i))) return TLyricEncoding::Gbk;
    i = run;
  }
  return TLyricEncoding::Utf8;
}

void TLRCParse::ClearLines() {
  FileName.clear();
  OffsetLine = 0;
  Offset = 0;
  Lines.clear();
  Modified = false;
  TagCount = 0;
  Header.clear();
  Loaded = false;
  Encoding = TLyricEncoding::Gbk;
}

bool TLRCParse::LoadFromFile(const std::string& path, std::string* error) {
  ClearLines();
  if (path.empty()) return Fail(error, "no lyric file given");
  std::error_code ec;
  auto size = std::filesystem::file_size(path, ec);
  if (ec) return Fail(error, "cannot read " + path + ": " + ec.message());
  if (size > MaxFileSize)
    return Fail(error, path + " is not a lyric file: " + std::to_string(size) + " bytes, lyric files are at most " +
                           std::to_string(MaxFileSize) + " bytes");
  auto raw = ReadFileBytes(path, MaxFileSize);
  if (!raw) return Fail(error, "cannot read " + path);
  if (!LoadFromBytes(*raw, error)) {
    // A text file without tags stays named, so the user can still associate it and set its
    // offset; a file that is no text at all is refused outright.
    if (!LooksBinary(*raw, Encoding)) FileName = path;
    if (error) *error = path + ": " + *error;
    return false;
  }
  FileName = path;
  return true;
}

bool TLRCParse::LoadFromBytes(std::string_view raw, std::string* error) {
  std::string keepName = std::move(FileName);
  ClearLines();
  FileName = std::move(keepName);
  if (raw.size() > MaxFileSize) return Fail(error, "too large for a lyric file");
  Encoding = DetectLyricEncoding(raw);
  if (LooksBinary(raw, Encoding)) return Fail(error, "not a lyric file (binary data)");

  ParseOutput out = WithUnits(raw, Encoding, [](const auto& u) { return ParseAll(u); });
  if (!out.sawBracket) return Fail(error, "no lyric tags in the file");

  std::string_view body = raw.substr(std::min(raw.size(), BomLength(Encoding)));

  // Sort the (time, text) slots, not the lines: stable, so lines sharing a time keep the order of
  // the file and the title lines stay on top.
  std::stable_sort(out.slots.begin(), out.slots.end(),
                   [](const PendingSlot& a, const PendingSlot& b) { return a.time < b.time; });
  // Nothing worth scrolling when every line sits at time 0 (a file of title tags only).
  if (!out.slots.empty() && out.slots.back().time != 0) {
    Lines.resize(out.slots.size());
    for (size_t k = 0; k < out.slots.size(); ++k) {
      const PendingText& p = out.texts[out.slots[k].text];
      TLines& line = Lines[k];
      line.Time = out.slots[k].time;
      for (uint32_t i = 0; i < p.pieceCount; ++i) {
        if (i > 0) line.Words.push_back({out.wordTimes[p.firstWord + i - 1], static_cast<uint32_t>(line.Text.size())});
        auto [b, e] = out.pieces[p.firstPiece + i];
        AppendDecoded(line.Text, body, Encoding, b, e);
      }
    }
  }
  TagCount = out.tagCount;
  for (auto& [name, text] : out.header) {
    const auto [b, e] = out.pieces[out.texts[text].firstPiece];
    std::string value;
    AppendDecoded(value, body, Encoding, b, e);
    Header.emplace_back(std::move(name), std::move(value));
  }
  Offset = out.offset;
  OffsetLine = out.offsetLine;
  Loaded = true;
  return true;
}

int32_t TLRCParse::FindLineIndex(int32_t t) const {
  // Lines are sorted, so the line sung at t is the last one starting at or before t + Offset.
  const int64_t key = int64_t(t) + Offset;
  auto it = std::upper_bound(Lines.begin(), Lines.end(), key,
                             [](int64_t k, const TLines& line) { return k < line.Time; });
  return static_cast<int32_t>(it - Lines.begin()) - 1;
}

int32_t TLRCParse::LineLength(int32_t index) const {
  if (index + 1 >= Count()) return LastLineLength;
  return Lines[index + 1].Time - Lines[index].Time;
}

TLineInfo TLRCParse::MakeInfo(int32_t index) const {
  const int64_t start = int64_t(Lines[index].Time) - Offset;
  return {index, static_cast<int32_t>(std::clamp<int64_t>(start, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max())), LineLength(index),
          Lines[index].Text};
}

bool TLRCParse::GetLineAt(int32_t t, TLineInfo& result) const {
  if (Lines.empty()) return false;
  int32_t index = FindLineIndex(t);
  result = index < 0 ? TLineInfo{} : MakeInfo(index);
  return true;
}

bool TLRCParse::GetNextLine(int32_t index, TLineInfo& result) const {
  if (index < -1 || index + 1 >= Count()) return false;
  result = MakeInfo(index + 1);
  return true;
}

bool TLRCParse::GetPrevLine(int32_t index, TLineInfo& result) const {
  if (index - 1 < 0 || index - 1 >= Count() - 1) return false;
  result = MakeInfo(index - 1);
  return true;
}

std::string TLRCParse::GetText() const {
  std::string text;
  for (const TLines& line : Lines) {
    text += "\r\n";
    text += line.Text;
  }
  return text;
}

void TLRCParse::SetOffset(int32_t ms) {
  if (ms == Offset || ms < -MaxOffset || ms > MaxOffset) return;
  Offset = ms;
  Modified = true;
}

bool TLRCParse::SaveOffset(std::string* error) {
  if (FileName.empty()) {
    Modified = false;
    return true;
  }
  if (!Modified) return true;
  // Write through a symbolic link to the file it names, keeping the file's permissions.
  std::error_code ec;
  std::string target = std::filesystem::canonical(FileName, ec).string();
  if (ec) return Fail(error, "cannot save the lyric offset: " + FileName + " no longer exists");
  struct stat st{};
  mode_t mode = ::stat(target.c_str(), &st) == 0 ? st.st_mode & 07777 : 0644;
  auto raw = ReadFileBytes(target, MaxFileSize);
  if (!raw) return Fail(error, "cannot save the lyric offset: cannot read " + FileName);
  const TLyricOffsetEdit edit = RewriteLyricOffset(*raw, Offset);
  if (edit.Refusal == TLyricOffsetEdit::TRefusal::NotLyrics)
    return Fail(error, "cannot save the lyric offset: " + FileName + " is no longer a lyric file");
  if (edit.Refusal == TLyricOffsetEdit::TRefusal::UnreadableTag)
    return Fail(error, "cannot save the lyric offset: the offset tag on line " + std::to_string(edit.OffsetLine + 1) +
                           " of " + FileName + " holds no number; the file is left as it is");
  if (!WriteFileAtomic(target, *edit.Bytes, mode, error)) return false;
  OffsetLine = edit.OffsetLine;
  Modified = false;
  return true;
}

TLyricOffsetEdit RewriteLyricOffset(std::string_view raw, int32_t offset) {
  TLyricOffsetEdit edit;
  edit.Refusal = TLyricOffsetEdit::TRefusal::NotLyrics;
  if (raw.size() > TLRCParse::MaxFileSize) return edit;
  const TLyricEncoding enc = DetectLyricEncoding(raw);
  if (LooksBinary(raw, enc)) return edit;
  struct Found {
    size_t valueBegin = npos, valueEnd = npos;
    bool valueReadable = true;  // the value is text of one-byte characters (a number or not)
    int32_t line = 0;
    size_t eolBegin = npos, eolEnd = npos;  // the file's first line break, copied for a new line
  };
  Found found = WithUnits(raw, enc, [](const auto& u) {
    Found f;
    bool sawBracket = false;
    ForEachLine(u, [&](int32_t line, size_t b, size_t e) {
      if (f.eolBegin == npos && e < u.Size()) {
        f.eolBegin = e;
        f.eolEnd = (u.Unit(e) == '\r' && e + 1 < u.Size() && u.Unit(e + 1) == '\n') ? e + 2 : e + 1;
      }
      WalkTags(u, b, e, sawBracket, [&](size_t open, size_t close) {
        TagView tag = ClassifyTag(u, open, close);
        if (tag.kind != TagKind::Offset) return;
        f.valueBegin = tag.valueBegin;
        f.valueEnd = tag.valueEnd;
        f.valueReadable = tag.valueReadable;
        f.line = line;
      });
    });
    return f;
  });

  const size_t bom = BomLength(enc);
  const size_t unitBytes = IsUtf16(enc) ? 2 : 1;
  auto encode = [&](std::string_view ascii) {
    if (!IsUtf16(enc)) return std::string(ascii);
    std::string out;
    for (char c : ascii) {
      if (enc == TLyricEncoding::Utf16BE) out += '\0';
      out += c;
      if (enc == TLyricEncoding::Utf16LE) out += '\0';
    }
    return out;
  };
  edit.Refusal = TLyricOffsetEdit::TRefusal::None;
  const std::string number = std::to_string(offset);
  std::string result(raw);
  if (found.valueBegin != npos) {
    edit.OffsetLine = found.line;
    if (!found.valueReadable) {
      edit.Refusal = TLyricOffsetEdit::TRefusal::UnreadableTag;
      return edit;
    }
    result.replace(bom + found.valueBegin * unitBytes, (found.valueEnd - found.valueBegin) * unitBytes,
                   encode(number));
  } else {
    std::string eol = found.eolBegin == npos
                          ? encode("\r\n")
                          : std::string(raw.substr(bom + found.eolBegin * unitBytes,
                                                   (found.eolEnd - found.eolBegin) * unitBytes));
    result.insert(bom, encode("[offset:" + number + "]") + eol);
    edit.OffsetLine = 0;
  }
  edit.Bytes = std::move(result);
  return edit;
}

}  // namespace ml
