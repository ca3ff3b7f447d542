#include "media/WAVfile.h"

#include "base/ByteOrder.h"
#include "media/RiffWave.h"

#include <algorithm>
#include <climits>

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
  // "fmt " normally comes first, but writers may put other chunks before it, and "data" often
  // follows a LIST chunk.
  bool haveFormat = false;
  WalkRiffChunks(src, kMaxChunks, [&](const TRiffChunk& chunk) {
    if (chunk.Is("fmt ") && chunk.Size >= 16) {
      TWaveFmt& f = Fmt_;
      ReadWaveFmt(src, chunk, f);
      Channels = static_cast<uint8_t>(f.Channels);
      SampleRate = f.SampleRate;
      ByteRate = f.ByteRate;
      BitsPerSample = static_cast<uint8_t>(f.BitsPerSample);
      haveFormat = f.Channels == 1 || f.Channels == 2;
    } else if (chunk.Is("data")) {
      DataSize = std::min<uint64_t>(chunk.Size, realSize - chunk.BodyOffset);
      return false;
    }
    return true;
  });
  if (!haveFormat) {
    ResetData();
    return true;
  }
  Valid = true;
  const uint64_t riff = uint64_t(LoadLE32(h.data() + 4)) + 8;
  FileSize = static_cast<uint32_t>(riff > 8 && riff <= realSize ? riff : std::min<uint64_t>(realSize, UINT32_MAX));
  return true;
}

double TWAVfile::Duration() const {
  if (!Valid) return 0;
  // The decoder's reckoning: whole sample frames over the stream's own byte rate.
  const double bytesPerSecond = double(Fmt_.BytesPerSecond());
  if (bytesPerSecond <= 0) return 0;
  uint64_t bytes = DataSize > 0 ? DataSize : (FileSize > 44 ? FileSize - 44 : 0);
  if (const uint32_t frame = Fmt_.FrameBytes()) bytes -= bytes % frame;
  return double(bytes) / bytesPerSecond;
}

int32_t TWAVfile::Bitrate() const { return Valid ? Fmt_.BitrateKbps() : 0; }

void TWAVfile::FillMediaInfo(TMediaInfo& r) const {
  r.FileSize = FileSize;
  r.SampleRate = static_cast<int32_t>(std::min<uint32_t>(SampleRate, INT32_MAX));
  r.Bitrate = Bitrate();
  r.Duration = DurationMs(Duration());
  r.Channels = Channels;
}

}  // namespace ml
