#include "media/MediaText.h"

#include "base/GbkText.h"
#include "base/StrUtil.h"

#include <array>

namespace ml {
namespace {

std::string_view CutAtNul(std::string_view s) {
  size_t z = s.find('\0');
  return z == std::string_view::npos ? s : s.substr(0, z);
}

bool HasHighBytes(std::string_view s) {
  for (char c : s)
    if (static_cast<unsigned char>(c) >= 0x80) return true;
  return false;
}

// Drops a GBK character that a fixed-width field cut in half.
std::string_view DropCutGbkTail(std::string_view s) {
  size_t pos = 0;
  while (pos < s.size()) {
    size_t len = GbkCharLength(s, pos);
    auto lead = static_cast<unsigned char>(s[pos]);
    if (lead >= 0x81 && lead != 0xFF && pos + 1 >= s.size()) return s.substr(0, pos);
    if (len == 4 && pos + 4 > s.size()) return s.substr(0, pos);
    pos += len;
  }
  return s;
}

// UTF-8 whose last character was cut off by a field width: valid up to an incomplete final
// sequence, with at least one whole multi-byte character before it.
bool IsCutUtf8(std::string_view s) {
  size_t lead = s.size();
  for (size_t k = 1; k <= 3 && k <= s.size(); ++k) {
    auto c = static_cast<unsigned char>(s[s.size() - k]);
    if ((c & 0xC0) != 0x80) {
      lead = s.size() - k;
      break;
    }
  }
  if (lead >= s.size()) return false;
  auto c = static_cast<unsigned char>(s[lead]);
  size_t need = (c >= 0xC2 && c <= 0xDF) ? 2 : (c >= 0xE0 && c <= 0xEF) ? 3 : (c >= 0xF0 && c <= 0xF4) ? 4 : 0;
  std::string_view head = s.substr(0, lead);
  return need > s.size() - lead && HasHighBytes(head) && IsValidUtf8(head);
}

}  // namespace

std::string DecodeAnsiText(std::string_view bytes) {
  std::string_view s = TrimLowBytes(CutAtNul(bytes));
  if (!HasHighBytes(s) || IsValidUtf8(s)) return std::string(s);
  if (IsCutUtf8(s)) return DecodeUtf8Prefix(s);
  auto gbk = [](std::string_view t, std::string& out) {
    out = GbkToUtf8(t);
    return out.find("\xEF\xBF\xBD") == std::string::npos;
  };
  std::string text;
  if (gbk(s, text)) return text;
  // Half a character at the end is a GBK text cut by a field width, provided the rest holds
  // GBK characters; a lone high byte after plain ASCII is more likely Latin-1 ("Caf\xE9").
  std::string_view whole = DropCutGbkTail(s);
  if (whole.size() < s.size() && HasHighBytes(whole) && gbk(whole, text)) return std::string(TrimLowBytes(text));
  return Latin1ToUtf8(s);
}

std::string DecodeUtf8Prefix(std::string_view bytes) {
  std::string_view s = CutAtNul(bytes);
  size_t i = 0;
  while (i < s.size()) {
    auto c = static_cast<unsigned char>(s[i]);
    if (c < 0x80) {
      ++i;
      continue;
    }
    size_t len = (c >= 0xC2 && c <= 0xDF) ? 2 : (c >= 0xE0 && c <= 0xEF) ? 3 : (c >= 0xF0 && c <= 0xF4) ? 4 : 0;
    if (len == 0 || i + len > s.size() || !IsValidUtf8(s.substr(i, len))) break;
    i += len;
  }
  return std::string(TrimLowBytes(s.substr(0, i)));
}

std::string DecodeUtf16Text(std::string_view bytes, bool bigEndian) {
  size_t start = 0;
  if (bytes.size() >= 2) {
    auto b0 = static_cast<unsigned char>(bytes[0]), b1 = static_cast<unsigned char>(bytes[1]);
    if (b0 == 0xFF && b1 == 0xFE) {
      bigEndian = false;
      start = 2;
    } else if (b0 == 0xFE && b1 == 0xFF) {
      bigEndian = true;
      start = 2;
    }
  }
  size_t end = start;
  while (end + 1 < bytes.size() && (bytes[end] != '\0' || bytes[end + 1] != '\0')) end += 2;
  // A lone high surrogate at the very end is half a character cut off by a size limit.
  if (end >= start + 2) {
    auto hi = static_cast<unsigned char>(bigEndian ? bytes[end - 2] : bytes[end - 1]);
    if (hi >= 0xD8 && hi <= 0xDB) end -= 2;
  }
  return std::string(TrimLowBytes(Utf16ToUtf8(bytes.substr(start, end - start), bigEndian)));
}

std::string_view TrimLowBytes(std::string_view s) {
  size_t b = 0, e = s.size();
  while (b < e && static_cast<unsigned char>(s[b]) <= 0x20) ++b;
  while (e > b && static_cast<unsigned char>(s[e - 1]) <= 0x20) --e;
  return s.substr(b, e - b);
}

int ExtractTrack(std::string_view text) {
  size_t slash = text.find('/');
  if (slash != std::string_view::npos) text = text.substr(0, slash);
  auto v = ParseInt(text);
  if (!v || *v < INT32_MIN || *v > INT32_MAX) return 0;
  return static_cast<int>(*v);
}

uint8_t TrackByte(int track) { return (track > 0 && track <= 255) ? static_cast<uint8_t>(track) : 0; }

std::string_view GenreName(unsigned index) {
  static constexpr std::array<std::string_view, 148> kGenres = {
      "Blues", "Classic Rock", "Country", "Dance", "Disco", "Funk", "Grunge", "Hip-Hop", "Jazz",
      "Metal", "New Age", "Oldies", "Other", "Pop", "R&B", "Rap", "Reggae", "Rock", "Techno",
      "Industrial", "Alternative", "Ska", "Death Metal", "Pranks", "Soundtrack", "Euro-Techno",
      "Ambient", "Trip-Hop", "Vocal", "Jazz+Funk", "Fusion", "Trance", "Classical", "Instrumental",
      "Acid", "House", "Game", "Sound Clip", "Gospel", "Noise", "AlternRock", "Bass", "Soul",
      "Punk", "Space", "Meditative", "Instrumental Pop", "Instrumental Rock", "Ethnic", "Gothic",
      "Darkwave", "Techno-Industrial", "Electronic", "Pop-Folk", "Eurodance", "Dream",
      "Southern Rock", "Comedy", "Cult", "Gangsta", "Top 40", "Christian Rap", "Pop/Funk",
      "Jungle", "Native American", "Cabaret", "New Wave", "Psychadelic", "Rave", "Showtunes",
      "Trailer", "Lo-Fi", "Tribal", "Acid Punk", "Acid Jazz", "Polka", "Retro", "Musical",
      "Rock & Roll", "Hard Rock", "Folk", "Folk-Rock", "National Folk", "Swing", "Fast Fusion",
      "Bebob", "Latin", "Revival", "Celtic", "Bluegrass", "Avantgarde", "Gothic Rock",
      "Progressive Rock", "Psychedelic Rock", "Symphonic Rock", "Slow Rock", "Big Band", "Chorus",
      "Easy Listening", "Acoustic", "Humour", "Speech", "Chanson", "Opera", "Chamber Music",
      "Sonata", "Symphony", "Booty Bass", "Primus", "Porn Groove", "Satire", "Slow Jam", "Club",
      "Tango", "Samba", "Folklore", "Ballad", "Power Ballad", "Rhythmic Soul", "Freestyle", "Duet",
      "Punk Rock", "Drum Solo", "A capella", "Euro-House", "Dance Hall", "Goa", "Drum & Bass",
      "Club-House", "Hardcore", "Terror", "Indie", "BritPop", "Afro-Punk", "Polsk Punk", "Beat",
      "Christian Gangsta Rap", "Heavy Metal", "Black Metal", "Crossover",
      "Contemporary Christian", "Christian Rock", "Merengue", "Salsa", "Thrash Metal", "Anime",
      "JPop", "Synthpop"};
  return index < kGenres.size() ? kGenres[index] : std::string_view();
}

}  // namespace ml
