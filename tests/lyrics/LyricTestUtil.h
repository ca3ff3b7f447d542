#pragma once
// Lyric fixtures: the same UTF-8 text written out in each encoding the parser reads.
#include "base/GbkText.h"
#include "lyrics/LRCParse.h"

#include <string>

namespace lyricstest {

inline std::string Encode(const std::string& utf8, ml::TLyricEncoding e) {
  switch (e) {
    case ml::TLyricEncoding::Gbk: return ml::Utf8ToGbk(utf8);
    case ml::TLyricEncoding::Utf8: return utf8;
    case ml::TLyricEncoding::Utf8Bom: return "\xEF\xBB\xBF" + utf8;
    case ml::TLyricEncoding::Utf16LE: return "\xFF\xFE" + ml::Utf8ToUtf16LE(utf8);
    case ml::TLyricEncoding::Utf16BE: {
      std::string le = ml::Utf8ToUtf16LE(utf8);
      for (size_t i = 0; i + 1 < le.size(); i += 2) std::swap(le[i], le[i + 1]);
      return "\xFE\xFF" + le;
    }
  }
  return utf8;
}

inline constexpr ml::TLyricEncoding kAllEncodings[] = {ml::TLyricEncoding::Gbk, ml::TLyricEncoding::Utf8,
                                                       ml::TLyricEncoding::Utf8Bom, ml::TLyricEncoding::Utf16LE,
                                                       ml::TLyricEncoding::Utf16BE};

}  // namespace lyricstest
