#include "base/GbkText.h"

#include <algorithm>
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
  std::string convert(std::string_view in, std::string_view replacement, SkipFn skipBytes) {
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

std::string GbkToUtf8(std::string_view gbk) {
  if (IsAscii(gbk)) return std::string(gbk);
  thread_local Converter conv("UTF-8", "GB18030");
  return conv.convert(gbk, "\xEF\xBF\xBD", [](std::string_view) { return size_t{1}; });
}

std::string Utf8ToGbk(std::string_view utf8) {
  if (IsAscii(utf8)) return std::string(utf8);
  thread_local Converter conv("GBK", "UTF-8");
  return conv.convert(utf8, "?", Utf8SequenceLength);
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

std::string Utf16ToUtf8(std::string_view bytes, bool bigEndian) {
  std::string out;
  out.reserve(bytes.size());
  auto unit = [&](size_t i) -> char16_t {
    auto b0 = static_cast<unsigned char>(bytes[i]), b1 = static_cast<unsigned char>(bytes[i + 1]);
    return static_cast<char16_t>(bigEndian ? (b0 << 8) | b1 : (b1 << 8) | b0);
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
  auto put = [&](char16_t w) {
    out += static_cast<char>(w & 0xFF);
    out += static_cast<char>(w >> 8);
  };
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

}  // namespace ml
