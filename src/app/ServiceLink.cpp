#include "app/ServiceLink.h"

#include <array>
#include <cctype>

#include "base/StrUtil.h"

namespace ml {

namespace {

// The fields that end in sep, and what follows the last one.
struct TTerminatedFields {
  std::vector<std::string_view> fields;
  std::string_view tail;
};

TTerminatedFields SplitTerminated(std::string_view text, char sep) {
  TTerminatedFields out;
  size_t start = 0;
  for (size_t at = text.find(sep); at != std::string_view::npos; at = text.find(sep, start)) {
    out.fields.push_back(text.substr(start, at - start));
    start = at + 1;
  }
  out.tail = text.substr(start);
  return out;
}

// ".mp3" of "song.mp3"; empty when the name has no dot.
std::string_view Extension(std::string_view fileName) {
  const size_t dot = fileName.rfind('.');
  return dot == std::string_view::npos ? std::string_view{} : fileName.substr(dot);
}

std::optional<TMD5Digest> HexDigest(std::string_view text) {
  if (text.size() != 32) return std::nullopt;
  for (char c : text)
    if (!std::isxdigit(static_cast<unsigned char>(c))) return std::nullopt;
  return LRMD5::MD5StrToDigest(text);
}

bool KnownScheme(std::string_view scheme) {
  const std::string lower = ToLowerAscii(scheme);
  for (const char* s : {"lirra3://", "lirra://", "tavro://"})
    if (lower.find(s) != std::string::npos) return true;
  return false;
}

}  // namespace

std::string StripExtension(std::string_view fileName) {
  return std::string(fileName.substr(0, fileName.size() - Extension(fileName).size()));
}

std::string TSongLink::Title() const { return StripExtension(FileName); }

bool IsPlayableLinkExtension(std::string_view extension) {
  static constexpr std::array<const char*, 8> kPlayable{".mp1", ".mp2", ".mp3", ".wma", ".wav", ".ogg", ".ape", ".m3u"};
  for (const char* e : kPlayable)
    if (EqualsNoCase(extension, e)) return true;
  return false;
}

std::optional<TSongLink> ParseSongLink(std::string_view text) {
  const TTerminatedFields f = SplitTerminated(text, '|');
  if (f.fields.size() != 5 || !f.tail.empty()) return std::nullopt;
  const std::string_view scheme = f.fields[0], kind = f.fields[1], name = f.fields[2];
  if (!KnownScheme(scheme)) return std::nullopt;
  const std::optional<int64_t> size = ParseInt(f.fields[3]);
  const std::optional<TMD5Digest> digest = HexDigest(f.fields[4]);
  if (!size || !digest) return std::nullopt;

  TSongLink link;
  if (kind == "Music") {
    link.Kind = lkMusic;
  } else if (kind == "Music*") {
    link.Kind = lkMusicParts;
    link.MultiPart = true;
  } else if (kind == "P2PUpdate") {
    link.Kind = lkP2PUpdate;
  } else {
    link.Kind = lkOther;
    link.MultiPart = kind.find('*') != std::string_view::npos;
  }
  link.FileName = std::string(name);
  if (Extension(name).empty()) link.FileName += ".mp3";
  link.Digest = *digest;
  link.Size = *size;

  if (link.Kind == lkOther) {
    if (link.Size < 0 || link.Size > MaxOtherLinkSize) return std::nullopt;
  } else {
    if (link.Size == 0) link.Size = 1024;
    if (link.Size < 1 || link.Size > MaxSongLinkSize) return std::nullopt;
    if (!IsPlayableLinkExtension(Extension(link.FileName))) return std::nullopt;
  }
  return link;
}

std::optional<std::vector<std::string>> SplitLinkList(std::string_view text, size_t count) {
  const TTerminatedFields f = SplitTerminated(text, '\\');
  std::vector<std::string> parts;
  for (std::string_view p : f.fields) parts.emplace_back(p.empty() ? std::string_view("  ") : p);
  if (!f.tail.empty()) parts.emplace_back(f.tail);
  if (parts.size() != count) return std::nullopt;
  return parts;
}

std::optional<TOnlineSong> ParseLinkListPart(std::string_view part) {
  const std::string terminated = std::string(part) + "|";
  const TTerminatedFields f = SplitTerminated(terminated, '|');
  if (f.fields.size() <= 2) return std::nullopt;
  TOnlineSong song;
  song.Title = StripExtension(f.fields[0]);
  song.Digest = HexDigest(f.fields[2]).value_or(TMD5Digest{});
  return song;
}

}  // namespace ml
