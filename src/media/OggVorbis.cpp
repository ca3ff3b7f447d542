#include "media/OggVorbis.h"

#include "media/ID3v2.h"
#include "media/MediaText.h"
#include "base/StrUtil.h"

#include <cmath>
#include <vector>

namespace ml {
namespace {

constexpr size_t kMaxText = 250;           // comment texts are read to this many bytes
constexpr size_t kMaxCommentPacket = 1 << 18;  // cover art may follow the text; it is not wanted
constexpr int kMaxCommentPages = 16;
constexpr int kTailReads = 50;

struct Page {
  uint64_t pos = 0;
  uint64_t granule = 0;
  uint32_t serial = 0;
  std::string lacing;
  uint64_t HeaderSize() const { return 27 + lacing.size(); }
  uint64_t BodySize() const {
    uint64_t n = 0;
    for (char c : lacing) n += static_cast<uint8_t>(c);
    return n;
  }
};

bool ReadPage(TMediaSource& src, uint64_t pos, Page& page) {
  std::string h = src.Read(pos, 27);
  if (h.size() < 27 || !HasAt(h, 0, "OggS")) return false;
  page.pos = pos;
  page.granule = GetLE64(h, 6);
  page.serial = GetLE32(h, 14);
  const uint8_t segments = static_cast<uint8_t>(h[26]);
  page.lacing = src.Read(pos + 27, segments);
  return page.lacing.size() == segments;
}

// The first packet that starts on the page at pos, joined across pages up to a size limit.
std::string ReadPacket(TMediaSource& src, uint64_t pos) {
  std::string packet;
  for (int n = 0; n < kMaxCommentPages; ++n) {
    Page page;
    if (!ReadPage(src, pos, page)) break;
    uint64_t len = 0;
    bool complete = false;
    for (char c : page.lacing) {
      len += static_cast<uint8_t>(c);
      if (static_cast<uint8_t>(c) < 255) {
        complete = true;
        break;
      }
    }
    const size_t room = kMaxCommentPacket - packet.size();
    packet += src.Read(pos + page.HeaderSize(), static_cast<size_t>(std::min<uint64_t>(len, room)));
    if (complete || packet.size() >= kMaxCommentPacket) break;
    pos += page.HeaderSize() + page.BodySize();
  }
  return packet;
}

// A cursor over the comment packet that stops at the first length that overruns it.
class CommentReader {
public:
  explicit CommentReader(std::string_view p) : p_(p) {}
  bool Ok() const { return ok_; }
  uint32_t U32() {
    if (!ok_ || p_.size() - pos_ < 4) return ok_ = false, 0;
    uint32_t v = GetLE32(p_, pos_);
    pos_ += 4;
    return v;
  }
  // A text of len bytes; the first kMaxText of them are kept.
  std::string_view Text(uint32_t len) {
    if (!ok_ || len > p_.size() - pos_) return ok_ = false, std::string_view();
    std::string_view s = p_.substr(pos_, std::min<size_t>(len, kMaxText));
    pos_ += len;
    return s;
  }

private:
  std::string_view p_;
  size_t pos_ = 0;
  bool ok_ = true;
};

}  // namespace

void TOggVorbis::ResetData() { *this = TOggVorbis(); }

bool TOggVorbis::Parse(TMediaSource& src) {
  FileSize = src.Size();
  std::string head = src.Read(0, 10);
  if (head.size() < 10) return false;
  if (HasAt(head, 0, "ID3")) {
    uint64_t size = TID3v2::TagSizeFromHeader(head);
    ID3v2Size = size > FileSize ? 0 : static_cast<uint32_t>(size);
  }
  Page first;
  if (!ReadPage(src, ID3v2Size, first)) return true;
  std::string id = src.Read(ID3v2Size + first.HeaderSize(), 30);
  if (id.size() < 30 || !HasAt(id, 0, "\x01vorbis")) return true;
  ChannelModeID = static_cast<uint8_t>(id[11]);
  SampleRate = GetLE32(id, 12);
  const int32_t nominal = static_cast<int32_t>(GetLE32(id, 20));
  BitRateNominal = nominal > 0 ? static_cast<uint16_t>(std::min(nominal / 1000, 65535)) : 0;

  // The comment header is the first packet of the second page.
  std::string packet = ReadPacket(src, ID3v2Size + first.HeaderSize() + first.BodySize());
  if (HasAt(packet, 0, "\x03vorbis")) {
    CommentReader r(std::string_view(packet).substr(7));
    Vendor = DecodeUtf8Prefix(r.Text(r.U32()));
    const uint32_t count = r.U32();
    std::string performer, description, track;
    for (uint32_t i = 0; i < count && r.Ok(); ++i) {
      std::string_view item = r.Text(r.U32());
      if (!r.Ok()) break;
      size_t eq = item.find('=');
      if (eq == std::string_view::npos) {
        if (Vendor.empty()) Vendor = DecodeUtf8Prefix(item);
        continue;
      }
      std::string_view name = item.substr(0, eq);
      std::string* field = EqualsNoCase(name, "TITLE")         ? &Title
                           : EqualsNoCase(name, "ARTIST")      ? &Artist
                           : EqualsNoCase(name, "ALBUM")       ? &Album
                           : EqualsNoCase(name, "TRACKNUMBER") ? &track
                           : EqualsNoCase(name, "DATE")        ? &Date
                           : EqualsNoCase(name, "GENRE")       ? &Genre
                           : EqualsNoCase(name, "COMMENT")     ? &Comment
                           : EqualsNoCase(name, "PERFORMER")   ? &performer
                           : EqualsNoCase(name, "DESCRIPTION") ? &description
                                                               : nullptr;
      // A field may repeat (several artists); the first one is the one shown.
      if (field && field->empty()) *field = DecodeUtf8Prefix(item.substr(eq + 1));
    }
    if (Artist.empty()) Artist = performer;
    if (Comment.empty()) Comment = description;
    Track = TrackByte(ExtractTrack(track));
  }

  // The length: the granule position of the last page of this stream, found backwards from
  // the end in overlapping steps.
  for (int k = 1; k <= kTailReads && Samples == 0; ++k) {
    const uint64_t back = 241ull * k + 10;
    const uint64_t at = back > FileSize ? 0 : FileSize - back;
    std::string tail = src.Read(at, 251);
    for (int i = std::min<int>(241, static_cast<int>(tail.size()) - 4); i >= 0; --i) {
      if (!HasAt(tail, static_cast<size_t>(i), "OggS")) continue;
      Page last;
      if (ReadPage(src, at + static_cast<uint64_t>(i), last) && last.serial == first.serial &&
          last.granule != UINT64_MAX) {
        Samples = last.granule;
        break;
      }
    }
    if (at == 0) break;
  }
  return true;
}

double TOggVorbis::Duration() const {
  if (Samples > 0 && SampleRate > 0) return double(Samples) / SampleRate;
  if (BitRateNominal > 0 && ChannelModeID > 0 && FileSize > ID3v2Size)
    return double(FileSize - ID3v2Size) / BitRateNominal / ChannelModeID / 125 * 2;
  return 0;
}

int TOggVorbis::BitRate() const {
  const double d = Duration();
  if (d <= 0 || FileSize <= ID3v2Size) return 0;
  double kbps = double(FileSize - ID3v2Size) / d / 125;
  return kbps > 1e9 ? 0 : static_cast<int>(std::lround(kbps));
}

bool TOggVorbis::Valid() const {
  return (ChannelModeID == 1 || ChannelModeID == 2 || ChannelModeID == 6) && SampleRate >= 1 &&
         Duration() > 0.1 && (BitRate() & 0xFFFF) != 0;
}

void TOggVorbis::FillMediaInfo(TMediaInfo& r) const {
  r.FileSize = FileSize32(FileSize);
  r.SampleRate = static_cast<int32_t>(SampleRate);
  r.Bitrate = BitRate();
  r.Duration = DurationMs(Duration());
  r.Channels = ChannelModeID;
  r.Title = Title;
  r.Artist = Artist;
  r.Album = Album;
  r.Year = Date;
  r.Genre = Genre;
  r.Track = Track;
  r.Comment = Comment;
}

}  // namespace ml
