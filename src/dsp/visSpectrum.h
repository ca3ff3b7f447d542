#pragma once
// TDCSpectrum: magnitudes of a piece of audio's FFT bins, scaled into a display range, for the
// spectrum display. The player feeds it the block being heard on its visual tick and maps channel
// 0's values to levels 0..1 (SpectrumLevels); TSpectrumBars turns those into falling bars.
#include "dsp/dspFastFourier.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <memory>
#include <vector>

namespace ml {

enum class TWindowMode : uint8_t { wmRectangular, wmHanning, wmBartlett, wmHamming, wmGaussian, wmBlackman, wmBlackmanHarris };

class TDCSpectrum {
public:
  static constexpr int Channels = 10;
  static constexpr int MaxBins = 8192;

  TDCSpectrum();
  void SetFFTSize(TDCFFTSize size);
  TDCFFTSize FFTSize() const { return fft_.FFTSize(); }
  TWindowMode WindowMode = TWindowMode::wmRectangular;
  void SetSampleSkip(int skip) { sampleSkip_ = uint8_t(std::clamp(skip, 1, 255)); }
  int SampleSkip() const { return sampleSkip_; }
  uint8_t PreEmphesis = 90;  // hundredths
  bool PreEmphesisEnabled = true;
  bool MixChannels = true;
  int32_t MinY = 0, MaxY = 100;
  bool Logarithmic = true;  // kept for the settings; the scale is the one below either way

  // Raised after each analysis: values of bins 0..N/2 - 1 per channel (MaxBins apart), the
  // range, the frames analysed and the channels analysed (1 when mixed).
  std::function<void(const int32_t* data, int32_t minY, int32_t maxY, int numSamples, int channels)> OnSpectrumData;

  // Analyses interleaved PCM; nothing for an empty buffer or zero channels or bits. Every
  // SampleSkip-th frame of the first part of the buffer is taken, N/2 at most.
  void Process(const uint8_t* buffer, uint32_t byteLength, bool isFloat, int channels, int bitsPerSample);
  void Clear();
  const int32_t* Data(int channel = 0) const { return data_.get() + size_t(channel) * MaxBins; }
  uint64_t FFTCount() const { return fft_.TransformCount(); }

  // The player's display: 1024 points, every third frame, pre-emphasis 0.88, a range of 0..60.
  void UsePlayerSettings();

private:
  void Analyse(int channel, const std::vector<float>& samples, int count);

  TDCFFT fft_{TDCFFTSize::fts1024, false};
  uint8_t sampleSkip_ = 1;
  struct TFree {
    void operator()(int32_t* p) const noexcept { std::free(p); }
  };
  // Channels x MaxBins (320 KB), from calloc: the pages stay untouched, and take no memory,
  // until a transform writes them; playback writes a channel's first N/2 bins.
  std::unique_ptr<int32_t[], TFree> data_;
  int writtenChannels_ = 0, writtenBins_ = 0;  // the corner Clear has to zero
  std::vector<float> samples_;
};

// Levels 0..1 of the display: a value of 40 or more is full scale, v / 40 below.
inline constexpr int SpectrumLevelCount = 512;
void SpectrumLevels(const int32_t* values, std::array<float, SpectrumLevelCount>& levels);

// The falling bars and peak marks of the spectrum display, one ShowLevels per 50 ms tick. The
// control is width x height pixels: width / 4 columns (32 when wider than 131) of 512 / columns
// levels each, a bar 3 pixels wide every 4, column 0 at the right.
class TSpectrumBars {
public:
  static constexpr int MaxColumns = 32;
  explicit TSpectrumBars(int width = 128, int height = 40) { SetSize(width, height); }
  void SetSize(int width, int height);
  int ColumnCount() const { return columns_; }
  int BinsPerColumn() const { return columns_ > 0 ? SpectrumLevelCount / columns_ : 0; }
  int Height() const { return height_; }

  void ShowLevels(const std::array<float, SpectrumLevelCount>& levels);

  int ColumnLevel(int c) const { return level_[size_t(c)]; }
  int Bar(int c) const { return bar_[size_t(c)]; }  // pixels; drawn when > 0
  int ColumnX(int c) const { return (columns_ - c - 1) * 4; }
  // The peak mark's row, or -1 when no mark shows this tick.
  int PeakY(int c) const { return peakY_[size_t(c)]; }
  float Peak(int c) const { return peak_[size_t(c)]; }

private:
  int columns_ = 0, height_ = 0;
  std::array<int, MaxColumns> level_{}, bar_{}, peakAge_{}, peakY_{};
  std::array<float, MaxColumns> peak_{};
};

}  // namespace ml
