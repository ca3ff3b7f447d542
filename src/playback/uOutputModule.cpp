#include "playback/uOutputModule.h"

namespace ml {

TWaveFormat TWaveFormat::Pcm(int channels, int sampleRate, int bitsPerSample) {
  TWaveFormat f;
  f.FormatTag = 1;
  f.Channels = static_cast<uint16_t>(channels);
  f.SamplesPerSec = static_cast<uint32_t>(sampleRate);
  f.BitsPerSample = static_cast<uint16_t>(bitsPerSample);
  f.BlockAlign = static_cast<uint16_t>(f.Channels * f.BitsPerSample / 8);
  f.AvgBytesPerSec = f.SamplesPerSec * f.BlockAlign;
  return f;
}

}  // namespace ml
