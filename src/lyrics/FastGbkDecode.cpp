#include "lyrics/FastGbkDecode.h"

#include "base/GbkText.h"

#include <array>
#include <cstdint>

namespace ml {
namespace {

constexpr unsigned kLeads = 0xFE - 0x81 + 1;    // 0x81..0xFE
constexpr unsigned kTrails = 0xFE - 0x40 + 1;   // 0x40..0xFE (0x7F never maps)
const char kReplacement[] = "\xEF\xBF\xBD";

struct Entry {
  uint8_t length = 0;  // 0: the pair maps to nothing
  char bytes[4] = {};  // a few pairs map beyond the BMP
};

// The length of text when it is exactly one UTF-8 character, else 0.
size_t SingleCharacter(std::string_view text) {
  if (text.empty()) return 0;
  const auto lead = static_cast<unsigned char>(text[0]);
  const size_t want = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC2 ? 2 : 0;
  return want == text.size() ? want : 0;
}

class PairTable {
public:
  PairTable() {
    // Every pair through the base converter in one call, LF-separated: no pair contains an LF.
    std::string all;
    all.reserve(kLeads * kTrails * 3);
    for (unsigned lead = 0x81; lead <= 0xFE; ++lead)
      for (unsigned trail = 0x40; trail <= 0xFE; ++trail) {
        all += static_cast<char>(lead);
        all += static_cast<char>(trail);
        all += '\n';
      }
    const std::string utf8 = GbkToUtf8(all);
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
  const Entry& at(unsigned char lead, unsigned char trail) const {
    return entries_[(lead - 0x81) * kTrails + (trail - 0x40)];
  }

private:
  std::array<Entry, kLeads * kTrails> entries_{};
};

const PairTable& Table() {
  static const PairTable table;
  return table;
}

}  // namespace

void AppendGbkAsUtf8(std::string& out, std::string_view gbk) {
  const PairTable& table = Table();
  const size_t n = gbk.size();
  auto at = [&](size_t k) { return static_cast<unsigned char>(gbk[k]); };
  // Written through a pointer into room for the worst case (a replacement, three bytes, for
  // every input byte), then cut to what was written.
  const size_t base = out.size();
  out.resize(base + 3 * n);
  char* w = out.data() + base;
  auto put = [&](const char* bytes, size_t len) {
    for (size_t k = 0; k < len; ++k) *w++ = bytes[k];
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
        const Entry& e = table.at(lead, second);
        if (e.length) {
          put(e.bytes, e.length);
          i += 2;
          continue;
        }
      } else if (second >= 0x30 && second <= 0x39 && i + 3 < n) {
        // A four-byte sequence the converter takes is one character (two to four UTF-8 bytes);
        // one it refuses comes back as several.
        const std::string four = GbkToUtf8(gbk.substr(i, 4));
        if (SingleCharacter(four) >= 2) {
          put(four.data(), four.size());
          i += 4;
          continue;
        }
      }
    }
    // What the converter cannot take becomes one replacement character per byte.
    put(kReplacement, 3);
    ++i;
  }
  out.resize(static_cast<size_t>(w - out.data()));
}

}  // namespace ml
