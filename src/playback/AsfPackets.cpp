#include "playback/AsfPackets.h"

#include "media/AsfGuids.h"

namespace ml {

namespace {

// Sanity limits: a header of more objects than this, or bigger, is not a song's.
constexpr uint32_t kMaxHeaderObjects = 1024;
constexpr uint64_t kMaxHeaderSize = 64u << 20;

// A cursor over a byte range that refuses to read past it: every read after a fault gives 0
// and leaves Ok() false.
class TByteCursor {
public:
  explicit TByteCursor(std::string_view bytes) : s_(bytes) {}
  bool Ok() const { return ok_; }
  size_t Pos() const { return pos_; }
  size_t Left() const { return s_.size() - pos_; }
  uint32_t Uint(int bytes) {
    if (!Need(size_t(bytes))) return 0;
    uint32_t v = 0;
    for (int i = bytes - 1; i >= 0; --i) v = v << 8 | static_cast<uint8_t>(s_[pos_ + size_t(i)]);
    pos_ += size_t(bytes);
    return v;
  }
  // A field whose width is given by two bits of a flags byte: none, byte, word, double word.
  uint32_t Field(unsigned type) { return Uint(kWidth[type & 3]); }
  std::string_view Take(size_t n) {
    if (!Need(n)) return {};
    const std::string_view v = s_.substr(pos_, n);
    pos_ += n;
    return v;
  }
  void Skip(size_t n) { Take(n); }

private:
  static constexpr int kWidth[4] = {0, 1, 2, 4};
  bool Need(size_t n) {
    if (ok_ && n <= Left()) return true;
    ok_ = false;
    pos_ = s_.size();
    return false;
  }
  std::string_view s_;
  size_t pos_ = 0;
  bool ok_ = true;
};

void ReadFileProperties(TByteCursor c, TAsfHeader& h) {
  c.Skip(16 + 8 + 8 + 8);  // file id, file size, creation date, packet count
  h.PlayDuration100ns = uint64_t(c.Uint(4)) | uint64_t(c.Uint(4)) << 32;
  c.Skip(8);  // send duration
  h.PrerollMs = uint64_t(c.Uint(4)) | uint64_t(c.Uint(4)) << 32;
  c.Skip(4);  // flags
  const uint32_t minPacket = c.Uint(4), maxPacket = c.Uint(4);
  h.MaxBitrate = c.Uint(4);
  // Data packets are all of one size; a header that says otherwise has no usable size.
  if (c.Ok()) h.PacketSize = minPacket == maxPacket ? maxPacket : 0;
}

// The first audio stream wins; a later one (a second language, say) is not ours to mix in.
void ReadStreamProperties(TByteCursor c, TAsfHeader& h) {
  if (h.Audio.StreamNumber != 0) return;
  const std::string_view type = c.Take(16);
  c.Skip(16 + 8);  // error correction type, time offset
  const uint32_t formatLength = c.Uint(4);
  c.Skip(4);  // error correction data length
  const uint8_t number = static_cast<uint8_t>(c.Uint(2) & 0x7F);
  c.Skip(4);  // reserved
  TByteCursor f(c.Take(formatLength));
  if (!c.Ok() || type != asf::kAudioMedia || number == 0) return;
  TAsfAudioStream a;
  a.FormatTag = static_cast<uint16_t>(f.Uint(2));
  a.Channels = static_cast<uint16_t>(f.Uint(2));
  a.SampleRate = f.Uint(4);
  a.AvgBytesPerSec = f.Uint(4);
  a.BlockAlign = static_cast<uint16_t>(f.Uint(2));
  a.BitsPerSample = static_cast<uint16_t>(f.Uint(2));
  const uint16_t extra = static_cast<uint16_t>(f.Uint(2));
  a.CodecData = std::string(f.Take(extra));
  if (!f.Ok()) return;
  a.StreamNumber = number;
  h.Audio = std::move(a);
}

}  // namespace

int32_t TAsfHeader::DurationMs() const {
  const uint64_t ms = PlayDuration100ns / 10000;
  return static_cast<int32_t>(std::min<uint64_t>(ms > PrerollMs ? ms - PrerollMs : 0, INT32_MAX));
}

TAsfHeaderResult ReadAsfHeader(TMediaSource& src, TAsfHeader& h, std::string& why) {
  h = {};
  const std::string head = src.Read(0, 30);
  if (head.size() < 30 || std::string_view(head).substr(0, 16) != asf::kHeaderObject) return TAsfHeaderResult::NotAsf;
  const uint64_t headerSize = GetLE64(head, 16);
  const uint32_t objects = GetLE32(head, 24);
  if (headerSize < 30 || headerSize > kMaxHeaderSize || objects > kMaxHeaderObjects) {
    why = "the ASF header is damaged";
    return TAsfHeaderResult::Unplayable;
  }
  const std::string header = src.Read(0, static_cast<size_t>(headerSize));
  size_t pos = 30;
  for (uint32_t i = 0; i < objects && header.size() - pos >= 24; ++i) {
    const std::string_view guid = std::string_view(header).substr(pos, 16);
    const uint64_t size = GetLE64(header, pos + 16);
    if (size < 24 || size > header.size() - pos) break;
    const TByteCursor body(std::string_view(header).substr(pos + 24, size_t(size - 24)));
    if (guid == asf::kFileProperties)
      ReadFileProperties(body, h);
    else if (guid == asf::kStreamProperties)
      ReadStreamProperties(body, h);
    pos += size_t(size);
  }
  const std::string data = src.Read(headerSize, 50);
  if (h.Audio.StreamNumber == 0) {
    why = "the ASF file has no audio stream";
    return TAsfHeaderResult::Unplayable;
  }
  if (h.PacketSize == 0 || h.PacketSize > kMaxAsfPacketSize) {
    why = "the ASF file's packet size (" + std::to_string(h.PacketSize) + " bytes) is not one this player reads";
    return TAsfHeaderResult::Unplayable;
  }
  if (data.size() < 50 || std::string_view(data).substr(0, 16) != asf::kDataObject) {
    why = "the ASF file has no data object after its header";
    return TAsfHeaderResult::Unplayable;
  }
  h.PacketCount = GetLE64(data, 40);
  h.FirstPacket = headerSize + 50;
  return TAsfHeaderResult::Ok;
}

bool ParseAsfPacket(std::string_view packet, const std::function<void(const TAsfPayload&)>& each) {
  TByteCursor c(packet);
  uint8_t flags = static_cast<uint8_t>(c.Uint(1));
  // The error-correction block is there only when its presence bit says so; otherwise this first
  // byte already is the length-type flags.
  if (flags & 0x80) {
    if (flags & 0x60) return false;  // an error-correction length field of another width: unknown
    c.Skip(flags & 0x0F);
    flags = static_cast<uint8_t>(c.Uint(1));
  }
  const uint8_t props = static_cast<uint8_t>(c.Uint(1));
  const uint32_t explicitLength = c.Field(flags >> 5);
  c.Field(flags >> 1);  // sequence
  const uint32_t padding = c.Field(flags >> 3);
  c.Skip(6);  // send time, duration
  if (!c.Ok()) return false;
  // A packet length of its own may only shorten the packet.
  const size_t length = (flags & 0x60) && explicitLength <= packet.size() ? explicitLength : packet.size();
  if (padding > length || c.Pos() > length - padding) return false;
  const size_t end = length - padding;

  const bool multiple = flags & 0x01;
  unsigned count = 1, lengthType = 0;
  if (multiple) {
    const uint8_t pf = static_cast<uint8_t>(c.Uint(1));
    count = pf & 0x3F;
    lengthType = pf >> 6;
  }
  for (unsigned i = 0; i < count; ++i) {
    TAsfPayload p;
    p.StreamNumber = static_cast<uint8_t>(c.Field(props >> 6) & 0x7F);
    p.ObjectNumber = c.Field(props >> 4);
    const uint32_t offsetField = c.Field(props >> 2);
    const uint32_t replicated = c.Field(props);
    const bool compressed = replicated == 1;
    if (compressed) {
      c.Skip(1);  // presentation time delta
      p.PresentationMs = offsetField;
    } else {
      TByteCursor r(c.Take(replicated));
      p.ObjectOffset = offsetField;
      // Replicated data starts with the object's size and presentation time; without them the
      // payload is a whole object of unknown time.
      if (replicated >= 8) {
        p.ObjectSize = r.Uint(4);
        p.PresentationMs = r.Uint(4);
      }
    }
    const size_t dataLength = multiple ? c.Field(lengthType) : (c.Pos() <= end ? end - c.Pos() : 0);
    if (!c.Ok() || c.Pos() > end || dataLength > end - c.Pos()) return false;
    const std::string_view data = c.Take(dataLength);
    if (!compressed) {
      if (replicated < 8) p.ObjectSize = static_cast<uint32_t>(data.size()), p.ObjectOffset = 0;
      p.Data = data;
      each(p);
      continue;
    }
    // Sub-payloads: each a length byte and that many bytes of a whole object.
    TByteCursor sub(data);
    while (sub.Left() > 0) {
      const uint32_t n = sub.Uint(1);
      p.Data = sub.Take(n);
      if (!sub.Ok()) return false;
      p.ObjectOffset = 0;
      p.ObjectSize = n;
      each(p);
      ++p.ObjectNumber;
    }
  }
  return true;
}

}  // namespace ml
