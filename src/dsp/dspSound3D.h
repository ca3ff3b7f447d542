#pragma once
// TDCSound3D: a stereo widener. The side signal of each frame (each channel's distance from the
// mid) is scaled by k = Volume / 10000 * 6.5536 and the result halved with the original:
// L' = (L + m + (L - m) * k) / 2, that is m + (L - m) * (1 + k) / 2, likewise R'. Only stereo
// blocks are touched. Volume and Enabled are written from the main thread, read by the engine.
#include <atomic>
#include <cstdint>

namespace ml {

class TDCSound3D {
public:
  std::atomic<bool> Enabled{false};
  std::atomic<uint16_t> Volume{1000};

  // The player's 3D slider, 0..100 (clamped): Volume = round(1000 + v * 90), on when v > 0.
  void SetLevel(int level);

  void Process(uint8_t* buffer, uint32_t byteLength, bool isFloat, int channels, int bitsPerSample) const;
};

}  // namespace ml
