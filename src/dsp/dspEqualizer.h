#pragma once
// TDCEqualizer: a frequency-domain equalizer working in place on interleaved PCM. It keeps one
// gain per FFT bin and channel, turns the gain curve into a linear-phase FIR filter of N/4 + 1
// taps (a Hann-windowed, zero-phase response delayed by N/8 frames) and applies it by FFT block
// convolution with overlap-add: blocks of 3N/4 new frames, transforms of N points.
//
// Threads: the main thread sets gains, Seperate, Enabled and the size; the engine thread runs
// Process. Settings go into a pending table behind a mutex and raise an atomic flag; Process takes
// them over between blocks (with try_lock, so the engine never waits for the main thread) and
// designs the new filter there. A changed filter does not switch abruptly: the first block after
// the change is computed with the old and the new filter and cross-faded, so a preset change is
// heard within one block and never clicks.
#include "dsp/dspFastFourier.h"

#include <array>
#include <atomic>
#include <complex>
#include <cstdint>
#include <mutex>
#include <string_view>
#include <vector>

namespace ml {

// The player's ten bands: bins [EQBandBins[i], EQBandBins[i + 1]) of a 2048-point transform
// (21.53 Hz a bin at 44.1 kHz), from 0-65 Hz up to 12-22 kHz.
inline constexpr std::array<int, 11> EQBandBins{0, 3, 9, 16, 29, 48, 100, 141, 280, 559, 1024};
inline constexpr int EQBandCount = 10;
inline constexpr int EQMaxBandDb = 20;

struct TEQPreset {
  std::string_view Name;
  std::array<int8_t, EQBandCount> Gains;  // dB, bands 0..9
};
extern const std::array<TEQPreset, 19> EQPresets;

class TDCEqualizer {
public:
  static constexpr int Channels = 10;
  static constexpr int MaxBins = 8192;

  TDCEqualizer();
  TDCEqualizer(const TDCEqualizer&) = delete;
  TDCEqualizer& operator=(const TDCEqualizer&) = delete;

  // Takes effect at the next Process; it does not by itself change the gains.
  void SetFFTSize(TDCFFTSize size);
  TDCFFTSize FFTSize() const { return pendingSize_.load(); }
  // Chunk length in frames (0: the whole buffer at once). Block boundaries fall per chunk.
  std::atomic<uint32_t> SampleSize{8192};

  // Stores the gain 2 * 10^(v / 100), v being value's low byte as a signed byte (the factor 2
  // is the design's convention for a one-sided gain curve). Out-of-range indexes are ignored.
  void SetBand(int channel, int bin, int value);
  // The value byte as set, signed (which is round(100 * log10(gain / 2))); 0 for an index out
  // of range.
  int GetBand(int channel, int bin) const;
  // The player's band operation: bins of band 0..9 of channel 0 set to 5 * dB (a gain of
  // 10^(dB / 20)), dB clamped to -20..20. Returns the stored dB.
  int SetBandDb(int band, int db);

  void SetEnabled(bool on);  // switching on clears the overlap memory
  bool Enabled() const { return enabled_.load(); }
  void SetSeperate(bool on);  // one curve per channel, or channel 0's for all
  bool Seperate() const { return seperate_.load(); }

  // Engine thread. Does nothing while disabled or for a sample size it does not know.
  void Process(uint8_t* buffer, uint32_t byteLength, bool isFloat, int channels, int bitsPerSample);
  // Forgets the overlap (a seek or another song: the tail of what came before is not wanted).
  void ResetOverlap() { clearOverlap_ = true; }

  // The taps of channel 0's current filter (N/4 + 1 values), as Process uses them (tests).
  std::vector<float> DesignedTaps(int channel = 0);

private:
  void TakePending();
  void Resize(TDCFFTSize size);
  void Design(int channel);
  void ProcessBlock(uint8_t* first, uint32_t frames, uint32_t frameBytes, int channel, bool isFloat, int bits);

  // Main thread's side. A bin keeps its value byte, not its gain: a quarter of the memory (the
  // table is 80 KB a copy), and the gain is GainTable()[byte] when a filter is designed.
  mutable std::mutex pendingMutex_;
  std::vector<int8_t> pendingValues_;  // Channels x MaxBins
  std::atomic<bool> pendingChanged_{true};
  std::atomic<TDCFFTSize> pendingSize_{TDCFFTSize::fts1024};
  std::atomic<bool> enabled_{false}, seperate_{false}, clearOverlap_{false};

  // Engine thread's side.
  std::vector<int8_t> values_;  // Channels x MaxBins
  TDCFFT work_;
  int n_ = 0;
  bool designNeeded_ = true;
  bool designedSeperate_ = false;
  std::array<std::vector<std::complex<float>>, Channels> filter_, oldFilter_;
  std::array<bool, Channels> designed_{}, fading_{};
  std::array<std::vector<float>, Channels> overlap_;
  std::vector<std::complex<float>> spectrum_;  // a block's spectrum before the filter
  std::vector<float> faded_;                   // a block through the old filter
};

}  // namespace ml
