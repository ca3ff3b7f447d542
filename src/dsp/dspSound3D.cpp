#include "dsp/dspSound3D.h"

#include <algorithm>

#include "dsp/PcmSamples.h"

namespace ml {

void TDCSound3D::SetLevel(int level) {
  level = std::clamp(level, 0, 100);
  Volume = uint16_t(1000 + level * 9000 / 100);
  Enabled = level > 0;
}

void TDCSound3D::Process(uint8_t* buffer, uint32_t byteLength, bool isFloat, int channels, int bitsPerSample) const {
  if (!Enabled || !buffer || channels != 2) return;
  const int bytes = isFloat ? (bitsPerSample == 32 ? 4 : 0) : pcm::SampleBytes(bitsPerSample);
  if (bytes == 0) return;
  const double k = double(Volume.load()) / 10000.0 * 6.5536;
  const uint32_t frame = 2u * uint32_t(bytes);
  for (uint32_t at = 0; at + frame <= byteLength; at += frame) {
    uint8_t* left = buffer + at;
    uint8_t* right = left + bytes;
    const double l = isFloat ? pcm::ReadFloat(left) : double(pcm::ReadInt(left, bitsPerSample));
    const double r = isFloat ? pcm::ReadFloat(right) : double(pcm::ReadInt(right, bitsPerSample));
    const double m = (l + r) / 2;
    const double outL = (l + m + (l - m) * k) / 2, outR = (r + m + (r - m) * k) / 2;
    if (isFloat) {
      pcm::WriteFloat(left, float(outL));
      pcm::WriteFloat(right, float(outR));
    } else {
      pcm::WriteRounded(left, bitsPerSample, outL);
      pcm::WriteRounded(right, bitsPerSample, outR);
    }
  }
}

}  // namespace ml
