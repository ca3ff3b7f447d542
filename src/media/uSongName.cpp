#include "media/uSongName.h"

#include "base/GbkText.h"
#include "media/MediaText.h"

#include <cstring>

namespace ml {
namespace {

enum class Cls { Chinese, Latin, Digits };

bool IsDigit(uint8_t b) { return b >= '0' && b <= '9'; }
bool IsLetter(uint8_t b) { return (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z'); }

// Finds needle at a character boundary of hay (never inside a two-byte character).
bool ContainsAtCharStart(std::string_view hay, std::string_view needle) {
  for (size_t pos = 0; pos + needle.size() <= hay.size(); pos += GbkCharLength(hay, pos))
    if (hay.compare(pos, needle.size(), needle) == 0) return true;
  return false;
}

struct NoiseWords {
  std::vector<std::string> equal, contain;
  std::string edition;
  NoiseWords() {
    for (const char* w : {"TV", "vs", "dj", "mp3", "mp4", "复件"}) equal.push_back(Utf8ToGb18030(w));
    for (const char* w : {"r&b", "Track", "disco", "士高", "斯科", "remix", "串烧", "最新", "好听", "制作",
                          "专辑", "主題", "主题", "主打", "英文", "国语", "原声", "音乐", "歌曲", "金曲",
                          "经典", "舞曲", "流行", "片尾", "片首"})
      contain.push_back(Utf8ToGb18030(w));
    edition = Utf8ToGb18030("版");
  }
};

const NoiseWords& Noise() {
  static const NoiseWords words;
  return words;
}

class Parser {
public:
  Parser(const uint8_t* w, size_t n, TSongNameParts& r) : w_(w), n_(n), r_(r) {}

  void Run() {
    size_t i = 0;
    while (i < n_ && !stopped_) {
      cls_ = pending_;
      const uint8_t b = w_[i];
      const uint8_t nx = i + 1 < n_ ? w_[i + 1] : 0;
      const bool lastPos = i + 1 == n_;
      if (b == 0) return;  // the caption ends here; the unfinished part is lost
      if (b < 0x20 || std::strchr("\\/:*?\"<>|", b)) {
        ++i;
        continue;
      }
      if (IsDigit(b)) {
        if (cls_ == Cls::Chinese) {
          EndPart(Cls::Digits, &w_[i], 1);
        } else {
          if (Cur().Length == 0) pending_ = Cls::Digits;
          Append(b, lastPos);
        }
        ++i;
        continue;
      }
      if (IsLetter(b)) {
        if (cls_ == Cls::Chinese) {
          const bool stays = lastPos || nx > 0x80 || nx == '-' || nx == '.' || nx == '_' ||
                             (nx == ' ' && (i + 2 >= n_ || w_[i + 2] > 0x80));
          if (stays)
            Append(b, lastPos);
          else
            EndPart(Cls::Latin, &w_[i], 1);
        } else {
          Append(b, lastPos);
          pending_ = Cls::Latin;
        }
        ++i;
        continue;
      }
      if (b == '(' || b == '[' || b == '{') {
        const uint8_t close = b == '(' ? ')' : b == '[' ? ']' : '}';
        size_t j = FindChar(i + 1, close);
        if (j != npos) {
          Remark(i + 1, j);
          EndPart();
          i = j + 1;
        } else {
          last_ = b;
          EndPart();
          ++i;
        }
        continue;
      }
      if (b == 0xA3 && nx == 0xA8) {  // full-width "("
        size_t j = FindPair(i + 2, 0xA3, 0xA9);
        if (j != npos) {
          Remark(i + 2, j);
          EndPart();
          i = j + 2;
        } else {
          last_ = '(';
          EndPart();
          i += 2;
        }
        continue;
      }
      if ((b == 0xA1 && (nx == 0xB6 || nx == 0xB7 || nx == 0xA2)) || (b == 0xA3 && nx == 0xA9)) {
        last_ = '-';  // 《 》 、 ）
        EndPart();
        i += 2;
        continue;
      }
      if (b == '-' || b == ';' || b == ')' || b == ']' || b == '}') {
        last_ = '-';
        EndPart();
        ++i;
        continue;
      }
      const uint8_t c = b == '_' ? ' ' : b;
      if ((b == 0xA1 && (nx == 0xAA || nx == 0xA1)) || (b == 0xA3 && (nx == 0xAD || nx == 0xAC))) {
        last_ = '-';  // — ideographic space － ，
        EndPart();
        i += 2;
        continue;
      }
      if (b > 0x80) {
        if (b == 0xFF) {  // never a lead byte
          ++i;
          continue;
        }
        // Two bytes, or four for a GB18030 character outside GBK (second byte a digit).
        const size_t len = (nx >= 0x30 && nx <= 0x39) ? 4 : 2;
        if (i + len > n_) {  // a character cut off by the end of the window
          i = n_;
          continue;
        }
        if (cls_ == Cls::Latin && b == 0xA1 && nx == 0xAF) {
          Append('\'', false);  // ’ inside a Latin word is an apostrophe
        } else if (cls_ == Cls::Chinese) {
          for (size_t k = 0; k < len; ++k) Append(w_[i + k], false);
        } else {
          EndPart(Cls::Chinese, &w_[i], len);
        }
        i += len;
        continue;
      }
      if (c == ' ' || c == '.' || c == ',') {
        const uint8_t nc = nx == '_' ? ' ' : nx;
        if (cls_ == Cls::Chinese || nx > 0x80) {
          EndPart();
          ++i;
          continue;
        }
        if (cls_ == Cls::Digits) {
          if (IsDigit(nx))
            Append(c, lastPos);
          else
            EndPart();
          ++i;
          continue;
        }
        if (nc == c) {  // a run keeps only its last one
          ++i;
          continue;
        }
      }
      if (c != last_) Append(c, lastPos);
      ++i;
    }
    if (!stopped_) EndPart();
  }

private:
  static constexpr size_t npos = static_cast<size_t>(-1);

  TShortText& Cur() { return r_.Parts[static_cast<size_t>(r_.PartCount)]; }

  void Append(uint8_t b, bool lastPos) {
    TShortText& t = Cur();
    if (b == ' ' && (t.Length == 0 || lastPos)) return;
    if (t.Length < 255) t.Data[t.Length++] = static_cast<char>(b);
    last_ = b;
  }

  // The next occurrence of the ASCII byte c at a character boundary, from pos.
  size_t FindChar(size_t pos, uint8_t c) const {
    std::string_view s(reinterpret_cast<const char*>(w_), n_);
    for (size_t p = pos; p < n_; p += GbkCharLength(s, p))
      if (w_[p] == c) return p;
    return npos;
  }
  size_t FindPair(size_t pos, uint8_t a, uint8_t b) const {
    std::string_view s(reinterpret_cast<const char*>(w_), n_);
    for (size_t p = pos; p + 1 < n_; p += GbkCharLength(s, p))
      if (w_[p] == a && w_[p + 1] == b) return p;
    return npos;
  }

  void Remark(size_t from, size_t to) {
    if (r_.BracketCount >= 2) return;
    TShortText& t = r_.Brackets[static_cast<size_t>(r_.BracketCount++)];
    t.Length = static_cast<uint8_t>(std::min<size_t>(to - from, 255));
    std::memcpy(t.Data, w_ + from, t.Length);
  }

  // Ends the current part; when next is given, the character that asked for another class
  // starts the new part in that class.
  void EndPart(Cls nextCls = Cls::Digits, const uint8_t* next = nullptr, size_t nextLen = 0) {
    TShortText& t = Cur();
    if (t.Length == 1) {
      t.Length = 0;
    } else if (t.Length > 1) {
      if (r_.PartCount >= 4) {
        stopped_ = true;
        t.Length = 0;
        return;
      }
      if (t.Data[t.Length - 1] == ' ') --t.Length;
      if (Accept(t.View())) {
        ++r_.PartCount;
      } else {
        t.Length = 0;
      }
    }
    if (next) {
      for (size_t k = 0; k < nextLen; ++k) Append(next[k], false);
      cls_ = pending_ = nextCls;
    }
  }

  bool Accept(std::string_view part) const {
    const size_t len = part.size();
    if (cls_ == Cls::Chinese && len >= 40) return false;
    if (cls_ == Cls::Latin && len >= 60) return false;
    if (cls_ == Cls::Digits && (len < 4 || len > 7)) return false;
    if (len <= 8) {
      const NoiseWords& nw = Noise();
      if (ContainsAtCharStart(part, nw.edition)) return false;
      for (const auto& w : nw.equal)
        if (part == w) return false;
      for (const auto& w : nw.contain)
        if (ContainsAtCharStart(part, w)) return false;
    }
    for (int k = 0; k < r_.PartCount; ++k)
      if (r_.Parts[static_cast<size_t>(k)].View() == part) return false;
    return true;
  }

  const uint8_t* w_;
  size_t n_;
  TSongNameParts& r_;
  Cls cls_ = Cls::Digits;
  Cls pending_ = Cls::Digits;  // a class change takes effect at the next byte
  uint8_t last_ = 0;
  bool stopped_ = false;
};

std::string TrimBlanks(std::string_view s) { return std::string(TrimLowBytes(s)); }

}  // namespace

std::string TSongNameParts::Part(int i) const {
  if (i < 0 || i >= PartCount) return {};
  return GbkToUtf8(Parts[static_cast<size_t>(i)].View());
}

std::string TSongNameParts::Bracket(int i) const {
  if (i < 0 || i >= BracketCount) return {};
  return GbkToUtf8(Brackets[static_cast<size_t>(i)].View());
}

void ParseSongNameGbk(const char* text, size_t length, TSongNameParts& result) {
  result = TSongNameParts{};
  if (!text || length == 0) return;
  size_t n = std::min<size_t>(length, 255);
  // A three-letter extension such as ".mp3" is not part of the name.
  if (n >= 4 && text[n - 4] == '.') n -= 4;
  Parser(reinterpret_cast<const uint8_t*>(text), n, result).Run();
  // The working slot is scratch space; leave it clean for the caller.
  result.Parts[static_cast<size_t>(result.PartCount)] = TShortText{};
}

void ParseSongName(std::string_view caption, TSongNameParts& result) {
  std::string gbk = Utf8ToGb18030(caption);
  ParseSongNameGbk(gbk.data(), gbk.size(), result);
}

void LyricSearchNames(const TSongNameParts& parts, std::string& singer, std::string& song) {
  singer.clear();
  song.clear();
  if (parts.PartCount == 1) {
    song = parts.Part(0);
  } else if (parts.PartCount >= 2) {
    singer = parts.Part(0);
    song = parts.Part(1);
  }
}

std::vector<std::string> RelatedSearchWords(const TSongNameParts& parts) {
  std::vector<std::string> words;
  auto add = [&](std::string w) {
    if (words.size() >= 4) return;
    for (const auto& have : words)
      if (have == w) return;
    words.push_back(std::move(w));
  };
  for (int i = 0; i < parts.PartCount; ++i) add(parts.Part(i));
  for (int i = 0; i < parts.BracketCount; ++i) add(parts.Bracket(i));
  return words;
}

void SplitAtHyphen(std::string_view text, std::string& left, std::string& right) {
  size_t dash = text.find('-');
  if (dash == std::string_view::npos) {
    left.clear();
    right.clear();
    return;
  }
  left = TrimBlanks(text.substr(0, dash));
  right = TrimBlanks(text.substr(dash + 1));
}

std::string MakeSafeFileName(std::string_view text) {
  std::string out = TrimBlanks(text);
  for (auto& c : out)
    if (std::strchr("\\/:*?\"<>!", c) && c != '\0') c = ' ';
  return out;
}

}  // namespace ml
