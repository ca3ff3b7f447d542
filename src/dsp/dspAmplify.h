#pragma once
// TDCAmplify: the equalizer's preamplifier. Every sample of channel c is scaled by volume(c)
// (10000 is unity), or by channel 0's volume for every channel unless Seperate is set, and
// clipped to its sample range. Settings are written from the main thread and read by the engine
// thread, so they are atomics; a block uses whatever values it reads.
#include <array>
#include <atomic>
#include <cstdint>

namespace ml {

class TDCAmplify {
public:
  static constexpr int Channels = 10;
  static constexpr int32_t Unity = 10000;

  TDCAmplify();
  std::atomic<bool> Enabled{false};
  std::atomic<bool> Seperate{false};

  // Channels 0..9; others are ignored (and read as 0).
  void SetVolume(int channel, int32_t volume);
  int32_t GetVolume(int channel) const;
  // The preamplifier in dB steps as the player sets it: clamped to -12..12, channel 0's volume
  // becomes 10000 + 500 * p (40 % to 160 %).
  void SetPreamp(int preamp);

  // In place over byteLength bytes of interleaved PCM; nothing while disabled or for a sample
  // size it does not know. Integer samples: s * volume / 10000 toward zero in 64 bits, clipped;
  // floats: scaled without clipping.
  void Process(uint8_t* buffer, uint32_t byteLength, bool isFloat, int channels, int bitsPerSample) const;

private:
  std::array<std::atomic<int32_t>, Channels> volumes_;
};

}  // namespace ml
