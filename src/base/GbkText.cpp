#include "base/GbkText.h"

#include "base/ByteOrder.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cerrno>
#include <iconv.h>
#include <stdexcept>

namespace ml {
namespace {

// One iconv conversion descriptor per direction and thread: iconv_t carries shift state and is
// not safe to share, and opening one per call would dominate short conversions.
class Converter {
public:
  Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {
    if (cd_ == reinterpret_cast<iconv_t>(-1))
      throw std::runtime_error(std::string("iconv cannot convert ") + from + " to " + to);
  }
  ~Converter() { iconv_close(cd_); }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;

  // Converts all of in; on a sequence the target cannot take, appends replacement and skips
  // skipBytes(in) input bytes.
  template <typename SkipFn>
  std::string Convert(std::string_view in, std::string_view replacement, SkipFn skipBytes) {
    iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    std::string out;
    out.reserve(in.size() * 2 + 8);
    char buf[4096];
    char* src = const_cast<char*>(in.data());
    size_t srcLeft = in.size();
    while (srcLeft > 0) {
      char* dst = buf;
      size_t dstLeft = sizeof buf;
      size_t rc = iconv(cd_, &src, &srcLeft, &dst, &dstLeft);
      out.append(buf, static_cast<size_t>(dst - buf));
      if (rc != static_cast<size_t>(-1)) continue;
      if (errno == E2BIG) continue;
      // EILSEQ or EINVAL (truncated sequence at the end): replace and step over the bad input.
      out.append(replacement);
      size_t skip = std::min(srcLeft, std::max<size_t>(1, skipBytes(std::string_view(src, srcLeft))));
      src += skip;
      srcLeft -= skip;
      iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    }
    return out;
  }

private:
  iconv_t cd_;
};

size_t Utf8SequenceLength(std::string_view s) {
  unsigned char c = static_cast<unsigned char>(s[0]);
  size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 1;
  // A broken sequence is skipped one byte at a time so the following valid text survives.
  for (size_t i = 1; i < n; ++i)
    if (i >= s.size() || (static_cast<unsigned char>(s[i]) & 0xC0) != 0x80) return 1;
  return n;
}

bool IsAscii(std::string_view s) {
  for (char c : s)
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  return true;
}

const std::string_view kReplacement = "\xEF\xBF\xBD";

// The length of text when it is exactly one UTF-8 character, else 0.
size_t SingleCharacter(std::string_view text) {
  if (text.empty()) return 0;
  const auto lead = static_cast<unsigned char>(text[0]);
  const size_t want = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC2 ? 2 : 0;
  return want == text.size() ? want : 0;
}

}  // namespace

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

namespace {

// The system's own GB18030 decoder, one replacement per byte it refuses. It fills the pair table
// below and decodes the four-byte forms; everything else goes through the table.
std::string IconvGbkToUtf8(std::string_view gbk) {
  thread_local Converter conv("UTF-8", "GB18030");
  return conv.Convert(gbk, kReplacement, [](std::string_view) { return size_t{1}; });
}

// The UTF-8 of every two-byte GBK pair, decoded once by the system's converter: nearly every
// character of Chinese text is such a pair, and a table lookup is several times faster than
// iconv on them while giving exactly its text.
class GbkPairTable {
public:
  static constexpr unsigned kLeads = 0xFE - 0x81 + 1;   // 0x81..0xFE
  static constexpr unsigned kTrails = 0xFE - 0x40 + 1;  // 0x40..0xFE (0x7F never maps)

  struct Entry {
    uint8_t length = 0;  // 0: the pair maps to nothing
    char bytes[4] = {};  // a few pairs map beyond the BMP
  };

  GbkPairTable() {
    // Every pair in one call, LF-separated: no pair contains an LF.
    std::string all;
    all.reserve(kLeads * kTrails * 3);
    for (unsigned lead = 0x81; lead <= 0xFE; ++lead)
      for (unsigned trail = 0x40; trail <= 0xFE; ++trail) {
        all += static_cast<char>(lead);
        all += static_cast<char>(trail);
        all += '\n';
      }
    const std::string utf8 = IconvGbkToUtf8(all);
    size_t pos = 0;
    for (unsigned k = 0; k < kLeads * kTrails && pos < utf8.size(); ++k) {
      size_t end = utf8.find('\n', pos);
      if (end == std::string::npos) break;
      std::string_view one(utf8.data() + pos, end - pos);
      // A pair the converter does not take comes back as a replacement followed by its second
      // byte; only a single character goes into the table.
      if (SingleCharacter(one) >= 2 && one != kReplacement) {
        entries_[k].length = static_cast<uint8_t>(one.size());
        for (size_t i = 0; i < one.size(); ++i) entries_[k].bytes[i] = one[i];
      }
      pos = end + 1;
    }
  }
  const Entry& At(unsigned char lead, unsigned char trail) const {
    return entries_[(lead - 0x81) * kTrails + (trail - 0x40)];
  }
  static const GbkPairTable& Instance() {
    static const GbkPairTable table;
    return table;
  }

private:
  std::array<Entry, kLeads * kTrails> entries_{};
};

}  // namespace

void AppendGbkAsUtf8(std::string& out, std::string_view gbk) {
  const GbkPairTable& table = GbkPairTable::Instance();
  const size_t n = gbk.size();
  auto at = [&](size_t k) { return static_cast<unsigned char>(gbk[k]); };
  // Written through a pointer into room for the worst case (a replacement, three bytes, for
  // every input byte), then cut to what was written.
  const size_t base = out.size();
  out.resize(base + 3 * n);
  char* w = out.data() + base;
  auto put = [&](std::string_view bytes) {
    for (char c : bytes) *w++ = c;
  };
  size_t i = 0;
  while (i < n) {
    const unsigned char lead = at(i);
    if (lead < 0x80) {
      *w++ = static_cast<char>(lead);
      ++i;
      continue;
    }
    if (lead >= 0x81 && lead <= 0xFE && i + 1 < n) {
      const unsigned char second = at(i + 1);
      if (second >= 0x40 && second <= 0xFE) {
        const GbkPairTable::Entry& e = table.At(lead, second);
        if (e.length) {
          put(std::string_view(e.bytes, e.length));
          i += 2;
          continue;
        }
      } else if (second >= 0x30 && second <= 0x39 && i + 3 < n) {
        // A four-byte sequence the converter takes is one character (two to four UTF-8 bytes);
        // one it refuses comes back as several.
        const std::string four = IconvGbkToUtf8(gbk.substr(i, 4));
        if (SingleCharacter(four) >= 2) {
          put(four);
          i += 4;
          continue;
        }
      }
    }
    // What the converter cannot take becomes one replacement character per byte.
    put(kReplacement);
    ++i;
  }
  out.resize(static_cast<size_t>(w - out.data()));
}

std::string GbkToUtf8(std::string_view gbk) {
  if (IsAscii(gbk)) return std::string(gbk);
  std::string out;
  AppendGbkAsUtf8(out, gbk);
  return out;
}

std::string Utf8ToGb18030(std::string_view utf8) {
  if (IsAscii(utf8)) return std::string(utf8);
  thread_local Converter conv("GB18030", "UTF-8");
  // Every character has a GB18030 form; only broken UTF-8 fails, and it is dropped.
  return conv.Convert(utf8, "", Utf8SequenceLength);
}

std::string Latin1ToUtf8(std::string_view latin1) {
  std::string out;
  out.reserve(latin1.size() * 2);
  for (char c : latin1) AppendUtf8(out, static_cast<unsigned char>(c));
  return out;
}

std::string Utf8ToGbk(std::string_view utf8) {
  if (IsAscii(utf8)) return std::string(utf8);
  thread_local Converter conv("GBK", "UTF-8");
  return conv.Convert(utf8, "?", Utf8SequenceLength);
}

std::string GbkRepresentable(std::string_view utf8) { return GbkToUtf8(Utf8ToGbk(utf8)); }

bool IsValidUtf8(std::string_view text) {
  size_t i = 0;
  const size_t n = text.size();
  while (i < n) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (c < 0x80) { ++i; continue; }
    size_t len;
    char32_t cp;
    if (c >= 0xC2 && c <= 0xDF) { len = 2; cp = c & 0x1F; }
    else if (c >= 0xE0 && c <= 0xEF) { len = 3; cp = c & 0x0F; }
    else if (c >= 0xF0 && c <= 0xF4) { len = 4; cp = c & 0x07; }
    else return false;
    if (i + len > n) return false;
    for (size_t k = 1; k < len; ++k) {
      unsigned char t = static_cast<unsigned char>(text[i + k]);
      if ((t & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (t & 0x3F);
    }
    if ((len == 3 && cp < 0x800) || (len == 4 && (cp < 0x10000 || cp > 0x10FFFF))) return false;
    if (cp >= 0xD800 && cp <= 0xDFFF) return false;
    i += len;
  }
  return true;
}

std::u32string Utf8ToCodePoints(std::string_view s) {
  std::u32string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size();) {
    const auto b = static_cast<unsigned char>(s[i]);
    const size_t n = b < 0x80 ? 1 : (b >> 5) == 6 ? 2 : (b >> 4) == 14 ? 3 : (b >> 3) == 30 ? 4 : 0;
    if (n == 0 || i + n > s.size() || !IsValidUtf8(s.substr(i, n))) {
      out.push_back(0xFFFD);
      ++i;
      continue;
    }
    char32_t cp = n == 1 ? b : b & (0x7F >> n);
    for (size_t k = 1; k < n; ++k) cp = (cp << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
    out.push_back(cp);
    i += n;
  }
  return out;
}

std::string Utf16ToUtf8(std::string_view bytes, bool bigEndian) {
  std::string out;
  out.reserve(bytes.size());
  auto unit = [&](size_t i) -> char16_t {
    return static_cast<char16_t>(bigEndian ? LoadBE16(bytes.data() + i) : LoadLE16(bytes.data() + i));
  };
  const size_t units = bytes.size() / 2;
  for (size_t u = 0; u < units; ++u) {
    char16_t w = unit(u * 2);
    if (w >= 0xD800 && w <= 0xDBFF && u + 1 < units) {
      char16_t w2 = unit((u + 1) * 2);
      if (w2 >= 0xDC00 && w2 <= 0xDFFF) {
        AppendUtf8(out, 0x10000 + ((char32_t(w) - 0xD800) << 10) + (char32_t(w2) - 0xDC00));
        ++u;
        continue;
      }
    }
    AppendUtf8(out, (w >= 0xD800 && w <= 0xDFFF) ? char32_t{0xFFFD} : char32_t{w});
  }
  return out;
}

std::string Utf8ToUtf16LE(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size() * 2);
  auto put = [&](char16_t w) { AppendLE16(out, w); };
  size_t i = 0;
  while (i < utf8.size()) {
    size_t len = Utf8SequenceLength(utf8.substr(i));
    auto c = static_cast<unsigned char>(utf8[i]);
    char32_t cp = len == 1 ? (c < 0x80 ? c : 0xFFFD)
                : len == 2 ? c & 0x1F : len == 3 ? c & 0x0F : c & 0x07;
    for (size_t k = 1; k < len; ++k) cp = (cp << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
    if (cp >= 0x10000) {
      cp -= 0x10000;
      put(static_cast<char16_t>(0xD800 + (cp >> 10)));
      put(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      put(static_cast<char16_t>(cp));
    }
    i += len;
  }
  return out;
}

std::size_t GbkCharLength(std::string_view text, std::size_t pos) {
  if (pos >= text.size()) return 0;
  auto lead = static_cast<unsigned char>(text[pos]);
  if (lead < 0x81 || lead == 0xFF) return 1;
  if (pos + 1 >= text.size()) return 1;
  auto second = static_cast<unsigned char>(text[pos + 1]);
  if (second >= 0x30 && second <= 0x39) {  // GB18030 four-byte form
    return pos + 3 < text.size() ? 4 : text.size() - pos;
  }
  return 2;
}

std::string_view GbkTruncate(std::string_view gbk, std::size_t maxBytes) {
  size_t pos = 0;
  while (pos < gbk.size()) {
    size_t len = GbkCharLength(gbk, pos);
    if (pos + len > maxBytes) break;
    pos += len;
  }
  return gbk.substr(0, pos);
}

std::string Utf8ToGbkTruncated(std::string_view utf8, std::size_t maxBytes) {
  std::string gbk = Utf8ToGbk(utf8);
  gbk.resize(GbkTruncate(gbk, maxBytes).size());
  return gbk;
}

}  // namespace ml
