#include "media/MpegHeader.h"

#include "base/ByteOrder.h"
#include "media/MediaSource.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>

namespace ml {

int MpegBitrateKbps(int versionBits, int layerBits, int index) {
  static constexpr int Table[2][3][16] = {
      // MPEG-1: Layer I, II, III
      {{0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448, 0},
       {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, 0},
       {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0}},
      // MPEG-2 and 2.5
      {{0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256, 0},
       {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0},
       {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0}}};
  if (versionBits < 0 || versionBits > 3 || versionBits == 1 || layerBits < 1 || layerBits > 3 || index < 0 ||
      index > 15)
    return 0;
  return Table[versionBits == 3 ? 0 : 1][3 - layerBits][index];
}

int MpegSampleRate(int versionBits, int index) {
  static constexpr int Table[4][3] = {{11025, 12000, 8000}, {0, 0, 0}, {22050, 24000, 16000}, {44100, 48000, 32000}};
  if (versionBits < 0 || versionBits > 3 || index < 0 || index > 2) return 0;
  return Table[versionBits][index];
}

int TMPEGHeaderFields::SamplesPerFrame() const {
  switch (LayerNumber()) {
    case 1: return 384;
    case 2: return 1152;
    default: return IsMPEG1() ? 1152 : 576;
  }
}

int TMPEGHeaderFields::FrameLength() const {
  const int64_t br = BitrateKbps() * 1000LL;
  const int sr = SampleRate();
  if (sr == 0 || br == 0) return 0;
  // Layer I counts in 4-byte slots, the others in bytes; bytes per frame are samples / 8 times
  // the bit rate over the sample rate.
  if (LayerNumber() == 1) return static_cast<int>((12 * br / sr + Padding) * 4);
  return static_cast<int>(SamplesPerFrame() / 8 * br / sr + Padding);
}

bool ParseMPEGHeader(const uint8_t* p, TMPEGHeaderFields& h) {
  if (p[0] != 0xFF || p[1] < 0xE0) return false;
  const int version = (p[1] >> 3) & 3, layer = (p[1] >> 1) & 3;
  if (version == 1 || layer == 0) return false;
  if (p[2] <= 0x0F || p[2] >= 0xF0) return false;  // bit rate index 0 (free) or 15 (bad)
  if (((p[2] >> 2) & 3) == 3) return false;
  if ((p[3] & 3) == 2) return false;
  std::memcpy(h.Bytes, p, 4);
  h.Version = version;
  h.Layer = layer;
  h.Protection = (p[1] & 1) ? 0 : 1;
  h.BitrateIndex = p[2] >> 4;
  h.SampleRateIndex = (p[2] >> 2) & 3;
  h.Padding = (p[2] >> 1) & 1;
  h.Private = p[2] & 1;
  h.ChannelMode = p[3] >> 6;
  h.ModeExtension = (p[3] >> 4) & 3;
  h.Copyright = (p[3] >> 3) & 1;
  h.Original = (p[3] >> 2) & 1;
  h.Emphasis = p[3] & 3;
  return true;
}

void ReadMpegVbrHeader(const uint8_t* frame, size_t avail, const TMPEGHeaderFields& h, TMpegVbrHeader& out) {
  out = TMpegVbrHeader{};
  // "VBRI" sits 32 bytes after the header whatever the stream's mode.
  constexpr size_t kVbriAt = 36;
  if (avail >= kVbriAt + 18 && std::memcmp(frame + kVbriAt, "VBRI", 4) == 0) {
    const uint8_t* v = frame + kVbriAt;
    out.Found = true;
    std::memcpy(out.ID, "VBRI", 4);
    out.Quality = v[9];
    out.Bytes = LoadBE32(v + 10);
    out.Frames = LoadBE32(v + 14);
    return;
  }
  if (h.LayerNumber() != 3) return;
  // Xing/Info takes the place of the side information, after the CRC when there is one.
  size_t at = h.IsMPEG1() ? (h.IsMono() ? 21 : 36) : (h.IsMono() ? 13 : 21);
  if (h.Protection) at += 2;
  if (at + 8 > avail) return;
  const uint8_t* tag = frame + at;
  if (std::memcmp(tag, "Xing", 4) != 0 && std::memcmp(tag, "Info", 4) != 0) return;
  out.Found = true;
  std::memcpy(out.ID, tag, 4);
  const uint8_t* end = frame + avail;
  const uint8_t* q = tag + 8;
  const uint32_t flags = LoadBE32(tag + 4) & 0xF;
  // A field cut off by the end of what is there ends the reading: nothing after it can be placed.
  if (flags & 1) {
    if (q + 4 > end) return;
    out.Frames = LoadBE32(q), q += 4, out.Flags |= 1;
  }
  if (flags & 2) {
    if (q + 4 > end) return;
    out.Bytes = LoadBE32(q), q += 4, out.Flags |= 2;
  }
  if (flags & 4) {
    if (q + 100 > end) return;
    std::memcpy(out.Table.data(), q, 100), q += 100, out.Flags |= 4;
  }
  if (flags & 8) {
    if (q + 4 > end) return;
    out.Quality = LoadBE32(q), out.Flags |= 8;
  }
}

uint64_t ID3v2TagLength(const uint8_t* p) {
  if (std::memcmp(p, "ID3", 3) != 0) return 0;
  if ((p[6] | p[7] | p[8] | p[9]) & 0x80) return 0;  // not a synchsafe size: not a tag
  uint64_t len = (uint64_t(p[6]) << 21) | (uint64_t(p[7]) << 14) | (uint64_t(p[8]) << 7) | p[9];
  len += 10;
  if (p[3] >= 4 && (p[5] & 0x10)) len += 10;  // v2.4 footer
  return len;
}

uint64_t MpegAudioEnd(TMediaSource& src, uint64_t audioStart) {
  const uint64_t size = src.Size();
  if (size < 128 || size - 128 < audioStart) return size;
  uint8_t tag[3];
  if (src.ReadAt(size - 128, tag, 3) == 3 && std::memcmp(tag, "TAG", 3) == 0) return size - 128;
  return size;
}

int32_t MpegDurationMs(uint64_t samples, int sampleRate) {
  if (sampleRate <= 0) return 0;
  return static_cast<int32_t>(std::min<uint64_t>((samples * 1000 + uint64_t(sampleRate) / 2) / uint64_t(sampleRate),
                                                 INT32_MAX));
}

int32_t MpegAverageKbps(uint64_t bytes, uint64_t samples, int sampleRate) {
  if (samples == 0 || sampleRate <= 0) return 0;
  const double kbps = double(bytes) * 8.0 * sampleRate / (double(samples) * 1000.0);
  return kbps >= INT32_MAX ? INT32_MAX : static_cast<int32_t>(std::lround(kbps));
}

}  // namespace ml
