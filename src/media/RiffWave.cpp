#include "media/RiffWave.h"

#include "base/ByteOrder.h"

#include <algorithm>
#include <cstring>

namespace ml {

bool TRiffChunk::Is(const char* id) const { return std::memcmp(Id, id, 4) == 0; }

bool IsRiffWave(TMediaSource& src) {
  const std::string h = src.Read(0, 12);
  return HasAt(h, 0, "RIFF") && HasAt(h, 8, "WAVE");
}

void WalkRiffChunks(TMediaSource& src, int maxChunks, const std::function<bool(const TRiffChunk&)>& visit) {
  const uint64_t size = src.Size();
  uint64_t pos = 12;
  for (int n = 0; n < maxChunks && pos + 8 <= size; ++n) {
    uint8_t head[8];
    if (src.ReadAt(pos, head, 8) != 8) return;
    TRiffChunk chunk;
    std::memcpy(chunk.Id, head, 4);
    chunk.Size = LoadLE32(head + 4);
    chunk.BodyOffset = pos + 8;
    if (!visit(chunk)) return;
    pos = chunk.BodyOffset + chunk.Size + (chunk.Size & 1);
  }
}

bool ReadWaveFmt(TMediaSource& src, const TRiffChunk& chunk, TWaveFmt& fmt) {
  uint8_t f[16] = {};
  const size_t got = src.ReadAt(chunk.BodyOffset, f, 16);
  fmt.FormatTag = LoadLE16(f);
  fmt.Channels = LoadLE16(f + 2);
  fmt.SampleRate = LoadLE32(f + 4);
  fmt.ByteRate = LoadLE32(f + 8);
  fmt.BlockAlign = LoadLE16(f + 12);
  fmt.BitsPerSample = LoadLE16(f + 14);
  return got == 16;
}

std::string WavFileHeader(uint16_t channels, uint32_t sampleRate, uint16_t bitsPerSample, uint64_t dataBytes) {
  const uint32_t data = static_cast<uint32_t>(std::min<uint64_t>(dataBytes, 0xFFFFFFFFu - 36));
  const uint16_t blockAlign = static_cast<uint16_t>(channels * bitsPerSample / 8);
  std::string h = "RIFF";
  AppendLE32(h, 36 + data);
  h += "WAVEfmt ";
  AppendLE32(h, 16);
  AppendLE16(h, 1);  // integer PCM
  AppendLE16(h, channels);
  AppendLE32(h, sampleRate);
  AppendLE32(h, sampleRate * blockAlign);
  AppendLE16(h, blockAlign);
  AppendLE16(h, bitsPerSample);
  h += "data";
  AppendLE32(h, data);
  return h;
}

}  // namespace ml
