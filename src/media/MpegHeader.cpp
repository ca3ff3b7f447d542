#include "media/MpegHeader.h"

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

}  // namespace ml
