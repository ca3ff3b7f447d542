#include "media/ID3v2.h"

#include "media/MediaText.h"

#include <array>
#include <optional>

namespace ml {
namespace {

// Frame bodies are read to this many bytes: text frames are short, pictures are not wanted.
constexpr size_t kMaxBody = 500;
// A tag unsynchronised as a whole must be decoded before its frames can be found; this much of
// it is read (text frames come first in practice, pictures last).
constexpr size_t kMaxUnsyncTag = 1 << 20;

enum Slot { kTIT2, kTPE1, kTALB, kTRCK, kTYER, kTCON, kCOMM, kTDRC, kTOPE, kTIT1, kTOAL, kSlots };

struct FrameId {
  const char* v34;
  const char* v2;
};
constexpr std::array<FrameId, kSlots> kFrames = {{{"TIT2", "TT2"}, {"TPE1", "TP1"}, {"TALB", "TAL"},
                                                  {"TRCK", "TRK"}, {"TYER", "TYE"}, {"TCON", "TCO"},
                                                  {"COMM", "COM"}, {"TDRC", "TOR"}, {"TOPE", "TOA"},
                                                  {"TIT1", "TT1"}, {"TOAL", "TOT"}}};

uint32_t Synchsafe(std::string_view s, size_t pos) {
  return (uint32_t(GetByte(s, pos) & 0x7F) << 21) | (uint32_t(GetByte(s, pos + 1) & 0x7F) << 14) |
         (uint32_t(GetByte(s, pos + 2) & 0x7F) << 7) | uint32_t(GetByte(s, pos + 3) & 0x7F);
}

// Undoes unsynchronisation: every FF 00 pair stands for a plain FF.
std::string Resync(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size(); ++i) {
    out += s[i];
    if (static_cast<unsigned char>(s[i]) == 0xFF && i + 1 < s.size() && s[i + 1] == '\0') ++i;
  }
  return out;
}

bool IsIdChar(char c) { return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'); }

// Text of a frame body whose first byte names the encoding; empty for an unknown encoding.
std::string FrameText(uint8_t encoding, std::string_view text) {
  switch (encoding) {
    case 0: return DecodeAnsiText(text);
    case 1: return DecodeUtf16Text(text, false);
    case 2: return DecodeUtf16Text(text, true);
    case 3: return DecodeUtf8Prefix(text);
    default: return {};
  }
}

// Offset just past the NUL that ends a string in this encoding, searching from pos.
std::optional<size_t> SkipTerminated(uint8_t encoding, std::string_view s, size_t pos) {
  if (encoding == 1 || encoding == 2) {
    for (size_t i = pos; i + 1 < s.size(); i += 2)
      if (s[i] == '\0' && s[i + 1] == '\0') return i + 2;
    return std::nullopt;
  }
  size_t z = s.find('\0', pos);
  if (z == std::string_view::npos) return std::nullopt;
  return z + 1;
}

// Genre text: ID3v2.3 writes references to the ID3v1 list as "(17)" or "(17)Rock", ID3v2.4 as
// "17"; a "((" escapes a text that itself starts with "(". A reference with no text after it
// is looked up.
std::string GenreText(std::string text) {
  std::optional<unsigned> firstRef;
  while (text.size() >= 2 && text[0] == '(' && text[1] != '(') {
    size_t close = text.find(')');
    if (close == std::string::npos) break;
    std::string inner = text.substr(1, close - 1);
    if (!firstRef && !inner.empty() && inner.size() <= 3 &&
        inner.find_first_not_of("0123456789") == std::string::npos)
      firstRef = static_cast<unsigned>(std::stoi(inner));
    text.erase(0, close + 1);
  }
  if (text.size() >= 2 && text[0] == '(' && text[1] == '(') text.erase(0, 1);
  if (text.empty() && firstRef) return std::string(GenreName(*firstRef));
  if (!text.empty() && text.size() <= 3 && text.find_first_not_of("0123456789") == std::string::npos)
    return std::string(GenreName(static_cast<unsigned>(std::stoi(text))));
  return text;
}

// What the frame walk collects: one decoded text per wanted frame.
struct Frames {
  std::array<std::string, kSlots> text;
  bool commentHasDescription = true;  // the kept COMM came with a content description
};

}  // namespace

void TID3v2::ResetData() { *this = TID3v2(); }

TMediaInfo TID3v2::Tags() const {
  TMediaInfo t;
  SetTagFields(t, *this);
  return t;
}

uint64_t TID3v2::TagSizeFromHeader(std::string_view h) {
  // The size bytes are taken as they stand: a tag that breaks the synchsafe rule gets an
  // oversized result and is then refused by the file-size check.
  uint64_t body = (uint64_t(GetByte(h, 6)) << 21) + (uint64_t(GetByte(h, 7)) << 14) +
                  (uint64_t(GetByte(h, 8)) << 7) + GetByte(h, 9);
  return body + ((GetByte(h, 5) & 0x10) ? 20 : 10);
}

namespace {

class FrameWalker {
public:
  FrameWalker(TMediaSource& src, uint8_t version, bool tagUnsync, Frames& out)
      : src_(src), version_(version), tagUnsync_(tagUnsync), out_(out) {}

  void Walk(uint64_t pos, uint64_t end) {
    const size_t headerLen = version_ == 2 ? 6 : 10;
    while (pos < end && end - pos >= headerLen) {
      std::string h = src_.Read(pos, headerLen);
      if (h.size() < headerLen || h[0] < 'A' || h[0] > 'Z') break;
      uint64_t size = FrameSize(h, pos, end);
      uint64_t body = pos + headerLen;
      if (size > end - body) break;  // a frame running past the tag: the tag is damaged from here
      Take(h, body, size);
      pos = body + size;
    }
  }

private:
  uint64_t FrameSize(std::string_view h, uint64_t pos, uint64_t end) {
    if (version_ == 2) return GetBE24(h, 3);
    if (version_ == 3) return GetBE32(h, 4);
    // Version 4 sizes are synchsafe, but some writers put plain big-endian sizes there. Take
    // the plain size when the synchsafe one cannot be right and the plain one lands on a frame.
    uint32_t plain = GetBE32(h, 4);
    uint32_t safe = Synchsafe(h, 4);
    if (plain == safe) return safe;
    bool safeBytes = (plain & 0x80808080u) == 0;
    if (safeBytes && LandsOnFrame(pos + 10 + safe, end)) return safe;
    if (LandsOnFrame(pos + 10 + plain, end)) return plain;
    return safeBytes ? safe : plain;
  }

  bool LandsOnFrame(uint64_t next, uint64_t end) {
    if (next == end) return true;
    if (next > end) return false;
    std::string id = src_.Read(next, 4);
    if (id.size() < 4) return next >= src_.Size();
    if (id == std::string(4, '\0')) return true;  // padding
    for (char c : id)
      if (!IsIdChar(c)) return false;
    return true;
  }

  int SlotOf(std::string_view id) const {
    for (int i = 0; i < kSlots; ++i)
      if (id == (version_ == 2 ? kFrames[i].v2 : kFrames[i].v34)) return i;
    return -1;
  }

  void Take(std::string_view h, uint64_t bodyPos, uint64_t size) {
    int slot = SlotOf(h.substr(0, version_ == 2 ? 3 : 4));
    if (slot < 0 || size == 0) return;
    // A tag that names a text twice (a second tagger added its frame instead of replacing the
    // first) shows the first, as other readers do.
    if (slot != kCOMM && !out_.text[slot].empty()) return;
    uint8_t f2 = version_ == 2 ? 0 : GetByte(h, 9);
    bool unsync = false;
    size_t skip = 0;
    if (version_ == 3) {
      if (f2 & 0xC0) return;      // compressed or encrypted
      if (f2 & 0x20) skip = 1;    // group identifier
    } else if (version_ == 4) {
      if (f2 & 0x0C) return;      // compressed or encrypted
      if (f2 & 0x40) skip += 1;   // group identifier
      if (f2 & 0x01) skip += 4;   // data length indicator
      unsync = tagUnsync_ || (f2 & 0x02);
    }
    if (skip >= size) return;
    // Unsynchronised bodies shrink when decoded, so read enough to fill the limit.
    size_t want = static_cast<size_t>(std::min<uint64_t>(size - skip, unsync ? 2 * kMaxBody : kMaxBody));
    std::string body = src_.Read(bodyPos + skip, want);
    if (unsync) body = Resync(body);
    if (body.size() > kMaxBody) body.resize(kMaxBody);
    if (body.empty()) return;
    const uint8_t enc = static_cast<uint8_t>(body[0]);
    if (enc > 3) return;
    std::string_view rest = std::string_view(body).substr(1);
    if (slot != kCOMM) {
      out_.text[slot] = FrameText(enc, rest);
      return;
    }
    // COMM: language, a content description, then the comment. Players label their private
    // notes with a description; the plain comment has none, so it wins over described ones.
    // The iTunes notes (iTunNORM, iTunSMPB, iTunes_CDDB_IDs: volume and gapless figures, disc
    // identifiers) are data, never a comment.
    if (rest.size() < 3) return;
    auto textAt = SkipTerminated(enc, rest, 3);
    if (!textAt) return;
    const std::string description = FrameText(enc, rest.substr(3, *textAt - 3));
    if (description.starts_with("iTun")) return;
    const bool described = !description.empty();
    if (!out_.text[kCOMM].empty() && (described || !out_.commentHasDescription)) return;
    std::string text = FrameText(enc, rest.substr(*textAt));
    if (text.empty()) return;
    out_.text[kCOMM] = std::move(text);
    out_.commentHasDescription = described;
  }

  TMediaSource& src_;
  uint8_t version_;
  bool tagUnsync_;
  Frames& out_;
};

}  // namespace

bool TID3v2::Parse(TMediaSource& src) {
  std::string h = src.Read(0, 10);
  if (h.size() < 10) return false;
  if (!HasAt(h, 0, "ID3")) return true;
  Exists = true;
  VersionID = static_cast<uint8_t>(h[3]);
  const uint64_t fileSize = src.Size();
  const uint64_t tagSize = TagSizeFromHeader(h);
  Size = tagSize > fileSize ? 0 : static_cast<uint32_t>(tagSize);
  if (VersionID < 2 || VersionID > 4 || Size == 0) return true;

  const uint8_t flags = static_cast<uint8_t>(h[5]);
  if (VersionID == 2 && (flags & 0x40)) return true;  // 2.2 compression: no scheme was ever defined
  const uint64_t end = Size - ((flags & 0x10) && VersionID == 4 ? 10 : 0);
  Frames frames;
  const bool unsync = flags & 0x80;
  if (unsync && VersionID < 4) {
    // Versions 2 and 3 unsynchronise the whole tag, frame headers included.
    std::string raw = src.Read(10, static_cast<size_t>(std::min<uint64_t>(end - 10, kMaxUnsyncTag)));
    std::string tag = Resync(raw);
    TMemorySource mem(tag);
    uint64_t start = 0;
    if (VersionID == 3 && (flags & 0x40)) start = 4 + uint64_t(GetBE32(tag, 0));
    FrameWalker(mem, VersionID, false, frames).Walk(start, tag.size());
  } else {
    uint64_t start = 10;
    if (flags & 0x40) {
      std::string ext = src.Read(10, 4);
      start = VersionID == 3 ? 14 + uint64_t(GetBE32(ext, 0)) : 10 + uint64_t(Synchsafe(ext, 0));
    }
    FrameWalker(src, VersionID, unsync, frames).Walk(start, end);
  }

  auto pick = [&](Slot a, Slot b) { return frames.text[a].empty() ? frames.text[b] : frames.text[a]; };
  Title = pick(kTIT2, kTIT1);
  Artist = pick(kTPE1, kTOPE);
  Album = pick(kTALB, kTOAL);
  Track = ExtractTrack(frames.text[kTRCK]);
  Year = frames.text[kTYER].empty() ? frames.text[kTDRC].substr(0, 4) : frames.text[kTYER];
  Genre = GenreText(frames.text[kTCON]);
  Comment = frames.text[kCOMM];
  return true;
}

}  // namespace ml
