#include "media/RiffWave.h"

#include "base/ByteOrder.h"

#include <algorithm>
#include <climits>
#include <cstdio>
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

namespace {

constexpr uint16_t kTagPcm = 1, kTagFloat = 3, kTagALaw = 6, kTagMuLaw = 7;

// The GUID of an extensible format's sub-format is the tag followed by these 14 bytes.
constexpr uint8_t kSubFormatTail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                        0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

}  // namespace

TWaveCoding TWaveFmt::Coding() const {
  switch (CodingTag()) {
    case kTagPcm: return TWaveCoding::Pcm;
    case kTagFloat: return TWaveCoding::Float;
    case kTagALaw: return TWaveCoding::ALaw;
    case kTagMuLaw: return TWaveCoding::MuLaw;
    default: return TWaveCoding::Other;
  }
}

uint32_t TWaveFmt::FrameBytes() const {
  if (Coding() == TWaveCoding::Other) return 0;
  return uint32_t(Channels) * ((BitsPerSample + 7u) / 8u);
}

uint64_t TWaveFmt::BytesPerSecond() const {
  return Coding() == TWaveCoding::Other ? ByteRate : uint64_t(SampleRate) * FrameBytes();
}

int32_t TWaveFmt::BitrateKbps() const {
  return static_cast<int32_t>(std::min<uint64_t>((BytesPerSecond() * 8 + 500) / 1000, INT32_MAX));
}

std::string WaveCodingName(uint16_t tag) {
  static const struct {
    uint16_t tag;
    const char* name;
  } kNames[] = {{kTagPcm, "PCM"},       {2, "Microsoft ADPCM"},  {kTagFloat, "IEEE float"},
                {kTagALaw, "A-law"},    {kTagMuLaw, "mu-law"}, {0x11, "IMA ADPCM"},
                {0x31, "GSM 6.10"},     {0x50, "MPEG"},        {0x55, "MPEG Layer III"},
                {0x161, "WMA"},         {0x2000, "AC-3"},      {TWaveFmt::kExtensible, "extensible"}};
  char hex[16];
  std::snprintf(hex, sizeof hex, "0x%04X", tag);
  for (const auto& n : kNames)
    if (n.tag == tag) return std::string(n.name) + " (" + hex + ")";
  return std::string("format ") + hex;
}

bool ReadWaveFmt(TMediaSource& src, const TRiffChunk& chunk, TWaveFmt& fmt) {
  uint8_t f[40] = {};
  const size_t got = src.ReadAt(chunk.BodyOffset, f, std::min<uint32_t>(chunk.Size, 40));
  fmt.FormatTag = LoadLE16(f);
  fmt.Channels = LoadLE16(f + 2);
  fmt.SampleRate = LoadLE32(f + 4);
  fmt.ByteRate = LoadLE32(f + 8);
  fmt.BlockAlign = LoadLE16(f + 12);
  fmt.BitsPerSample = LoadLE16(f + 14);
  // The extension: its size (at least 22), valid bits, channel mask, then the sub-format GUID.
  fmt.SubFormat = 0;
  if (fmt.FormatTag == TWaveFmt::kExtensible && got == 40 && LoadLE16(f + 16) >= 22 &&
      std::memcmp(f + 26, kSubFormatTail, sizeof kSubFormatTail) == 0)
    fmt.SubFormat = LoadLE16(f + 24);
  return got >= 16;
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
