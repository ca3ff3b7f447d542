#pragma once
// Samples of interleaved little-endian PCM as the effects see them: 8-bit unsigned (offset 128),
// 16-, 24- (three bytes) and 32-bit signed integers, and 32-bit floats. Integer samples are read
// as signed values and written back clipped to their range, so a stage computes in 64 bits or
// floating point and never wraps.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace ml::pcm {

// Bytes of one sample; 0 for a size the effects do not handle.
constexpr int SampleBytes(int bits) { return bits == 8 || bits == 16 || bits == 24 || bits == 32 ? bits / 8 : 0; }

// The range an integer sample is clipped to. 32-bit integers stop one short of the most negative
// value, so that a negated full-scale sample still fits.
constexpr int64_t MaxSample(int bits) { return bits == 8 ? 127 : bits == 16 ? 32767 : bits == 24 ? 8388607 : 2147483647; }
constexpr int64_t MinSample(int bits) { return bits == 32 ? -2147483647 : -MaxSample(bits) - 1; }

inline int64_t ReadInt(const uint8_t* p, int bits) {
  switch (bits) {
    case 8: return int64_t(p[0]) - 128;
    case 16: return int16_t(uint16_t(p[0] | p[1] << 8));
    case 24: {
      const int32_t v = int32_t(uint32_t(p[0]) << 8 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 24);
      return v >> 8;  // sign-extended
    }
    default: return int32_t(uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24);
  }
}

inline void WriteInt(uint8_t* p, int bits, int64_t v) {
  v = std::clamp(v, MinSample(bits), MaxSample(bits));
  switch (bits) {
    case 8: p[0] = uint8_t(v + 128); return;
    case 16: p[0] = uint8_t(v), p[1] = uint8_t(v >> 8); return;
    case 24: p[0] = uint8_t(v), p[1] = uint8_t(v >> 8), p[2] = uint8_t(v >> 16); return;
    default: p[0] = uint8_t(v), p[1] = uint8_t(v >> 8), p[2] = uint8_t(v >> 16), p[3] = uint8_t(v >> 24); return;
  }
}

inline float ReadFloat(const uint8_t* p) {
  float f;
  std::memcpy(&f, p, sizeof f);
  return f;
}

inline void WriteFloat(uint8_t* p, float f) { std::memcpy(p, &f, sizeof f); }

// Rounds to the nearest integer, halves away from zero, and clips to the sample's range.
inline void WriteRounded(uint8_t* p, int bits, double v) {
  if (std::isnan(v)) v = 0;
  v = std::clamp(v, double(MinSample(bits)), double(MaxSample(bits)));
  WriteInt(p, bits, int64_t(std::llround(v)));
}

}  // namespace ml::pcm
