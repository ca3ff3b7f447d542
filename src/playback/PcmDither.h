#pragma once
// Conversion of fine samples to 16 bits: the linear dither with noise shaping of libmad's
// reference player, per channel. Input is 4.28 fixed point (libmad's own sample format, in which
// the float WAV decoder also hands its samples over): 1.0 is 1 << 28.
#include <cstdint>

namespace ml {

struct TPcmDither {
  static constexpr int kFracBits = 28;
  static constexpr int64_t kOne = int64_t(1) << kFracBits;

  // 64-bit so that the shaping error cannot overflow.
  int64_t Error[3] = {0, 0, 0};
  uint32_t Random = 0;
  int16_t Apply(int32_t sample);
};

inline int16_t TPcmDither::Apply(int32_t s) {
  constexpr int kScaleBits = kFracBits + 1 - 16;
  constexpr int64_t kMask = (int64_t(1) << kScaleBits) - 1;
  constexpr int64_t kMax = kOne - 1, kMin = -kOne;
  int64_t sample = int64_t(s) + Error[0] - Error[1] + Error[2];
  Error[2] = Error[1];
  Error[1] = Error[0] / 2;
  int64_t output = sample + (int64_t(1) << (kScaleBits - 1));
  const uint32_t random = Random * 1664525u + 1013904223u;
  output += int64_t(random & kMask) - int64_t(Random & kMask);
  Random = random;
  if (output > kMax) {
    output = kMax;
    if (sample > kMax) sample = kMax;
  } else if (output < kMin) {
    output = kMin;
    if (sample < kMin) sample = kMin;
  }
  output &= ~kMask;
  Error[0] = sample - output;
  return static_cast<int16_t>(output >> kScaleBits);
}

}  // namespace ml
