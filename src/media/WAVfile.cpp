#include "media/WAVfile.h"

namespace ml {
namespace {
constexpr int kMaxChunks = 64;  // chunks looked at before giving up on finding "data"
}

void TWAVfile::ResetData() { *this = TWAVfile(); }

bool TWAVfile::Parse(TMediaSource& src) {
  std::string h = src.Read(0, 44);
  if (h.size() < 44) return false;
  if (!HasAt(h, 0, "RIFF") || !HasAt(h, 8, "WAVE")) return true;
  const uint64_t realSize = src.Size();
  // Walk the chunks: "fmt " normally comes first, but writers may put others before it, and
  // "data" often follows a LIST chunk.
  bool haveFormat = false;
  uint64_t pos = 12;
  for (int n = 0; n < kMaxChunks && pos + 8 <= realSize; ++n) {
    std::string ch = src.Read(pos, 8);
    const uint32_t size = GetLE32(ch, 4);
    if (HasAt(ch, 0, "fmt ") && size >= 16) {
      std::string f = src.Read(pos + 8, 16);
      Channels = static_cast<uint8_t>(GetLE16(f, 2));
      SampleRate = GetLE32(f, 4);
      ByteRate = GetLE32(f, 8);
      BitsPerSample = static_cast<uint8_t>(GetLE16(f, 14));
      haveFormat = GetLE16(f, 2) == 1 || GetLE16(f, 2) == 2;
    } else if (HasAt(ch, 0, "data")) {
      DataSize = std::min<uint64_t>(size, realSize - (pos + 8));
      break;
    }
    pos += 8 + uint64_t(size) + (size & 1);  // chunks are padded to even sizes
  }
  if (!haveFormat) {
    ResetData();
    return true;
  }
  Valid = true;
  const uint64_t riff = uint64_t(GetLE32(h, 4)) + 8;
  FileSize = static_cast<uint32_t>(riff > 8 && riff <= realSize ? riff : std::min<uint64_t>(realSize, UINT32_MAX));
  return true;
}

double TWAVfile::Duration() const {
  if (!Valid) return 0;
  const double bytesPerSecond = ByteRate > 0 ? double(ByteRate) : double(SampleRate) * BitsPerSample * Channels / 8;
  if (bytesPerSecond <= 0) return 0;
  if (DataSize > 0) return double(DataSize) / bytesPerSecond;
  return FileSize > 44 ? double(FileSize - 44) / bytesPerSecond : 0;
}

}  // namespace ml
