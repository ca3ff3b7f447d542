#pragma once
// The bit rate and sample rate tables of the MPEG audio frame header, looked up by the header's
// raw bits. The tag reader and the decoder both read frame headers; this is their one table.

namespace ml {

// Kbps for the raw version bits (3 MPEG-1, 2 MPEG-2, 0 MPEG-2.5), layer bits (3 Layer I,
// 2 Layer II, 1 Layer III) and bit rate index; 0 for "free" and every invalid combination.
inline int MpegBitrateKbps(int versionBits, int layerBits, int index) {
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

// Hz for the raw version bits and sample rate index; 0 for the reserved values.
inline int MpegSampleRate(int versionBits, int index) {
  static constexpr int Table[4][3] = {{11025, 12000, 8000}, {0, 0, 0}, {22050, 24000, 16000}, {44100, 48000, 32000}};
  if (versionBits < 0 || versionBits > 3 || index < 0 || index > 2) return 0;
  return Table[versionBits][index];
}

}  // namespace ml
