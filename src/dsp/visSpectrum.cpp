#include "dsp/visSpectrum.h"

#include "dsp/PcmSamples.h"

#include <cmath>
#include <new>
#include <numbers>

namespace ml {

namespace {

// Brings every transform size to a comparable display scale.
constexpr std::array<double, 13> kSizeFactor{11, 10, 9, 8, 7, 6, 5, 4, 3.2, 2.4, 1.5, 1.2, 1.0};

double Window(TWindowMode mode, int i, int n) {
  const double pi = std::numbers::pi, x = 2.0 * pi * i / n;
  switch (mode) {
    case TWindowMode::wmRectangular: return 1.0;
    case TWindowMode::wmHanning: return 0.5 - 0.5 * std::cos(x);
    case TWindowMode::wmBartlett: return i < n / 2 ? 2.0 * i / (n - 1) : 2.0 - 2.0 * i / (n - 1);
    case TWindowMode::wmHamming: return 0.54 - 0.46 * std::cos(x);
    case TWindowMode::wmGaussian: return std::exp(-5.0 * (2.0 * i - n) * (2.0 * i - n) / (double(n) * n));
    case TWindowMode::wmBlackman: return 0.42 - 0.5 * std::cos(x) + 0.08 * std::cos(2 * x);
    case TWindowMode::wmBlackmanHarris: {
      const double y = 2.0 * pi * (i + 0.5) / n;
      return 0.35875 - 0.48829 * std::cos(y) + 0.14128 * std::cos(2 * y) - 0.01168 * std::cos(3 * y);
    }
  }
  return 1.0;
}

// One sample on a 16-bit scale.
int32_t Sample16(const uint8_t* p, bool isFloat, int bits) {
  if (isFloat) return int32_t(std::lround(double(pcm::ReadFloat(p)) * 32767.0));
  const int64_t v = pcm::ReadInt(p, bits);
  switch (bits) {
    case 8: return int32_t(v * 256);  // (byte - 128) * 256 = byte * 256 - 32768
    case 24: return int32_t(v >> 8);
    case 32: return int32_t(v >> 16);
    default: return int32_t(v);
  }
}

}  // namespace

TDCSpectrum::TDCSpectrum() : data_(static_cast<int32_t*>(std::calloc(size_t(Channels) * MaxBins, sizeof(int32_t)))) {
  if (!data_) throw std::bad_alloc();
}

void TDCSpectrum::SetFFTSize(TDCFFTSize size) { fft_.SetFFTSize(size); }

void TDCSpectrum::UsePlayerSettings() {
  SetFFTSize(TDCFFTSize::fts1024);
  Logarithmic = false;
  SetSampleSkip(3);
  PreEmphesis = 88;
  MaxY = 60;
}

void TDCSpectrum::Clear() {
  for (int c = 0; c < writtenChannels_; ++c) std::fill_n(data_.get() + size_t(c) * MaxBins, writtenBins_, 0);
}

void TDCSpectrum::Process(const uint8_t* buffer, uint32_t byteLength, bool isFloat, int channels, int bitsPerSample) {
  const int k = isFloat ? (bitsPerSample == 32 ? 4 : 0) : pcm::SampleBytes(bitsPerSample);
  if (!buffer || byteLength == 0 || channels <= 0 || k == 0) return;
  const int n = fft_.FFTSizeInt(), s = sampleSkip_;
  const uint32_t frames = byteLength / uint32_t(k) / uint32_t(channels);
  const int count = int(std::min<uint32_t>(frames / uint32_t(s + 1), uint32_t(n / 2)));
  const int used = std::min(channels, Channels);
  const size_t frameBytes = size_t(k) * size_t(channels);
  samples_.assign(size_t(n), 0.0f);
  if (MixChannels) {
    for (int i = 0; i < count; ++i) {
      const uint8_t* frame = buffer + size_t(i) * size_t(s) * frameBytes;
      int64_t sum = 0;
      for (int c = 0; c < used; ++c) sum += Sample16(frame + size_t(c) * size_t(k), isFloat, bitsPerSample);
      samples_[size_t(i)] = float(sum / used);
    }
    Analyse(0, samples_, count);
  } else {
    for (int c = 0; c < used; ++c) {
      std::fill(samples_.begin(), samples_.end(), 0.0f);
      for (int i = 0; i < count; ++i)
        samples_[size_t(i)] = float(Sample16(buffer + size_t(i) * size_t(s) * frameBytes + size_t(c) * size_t(k),
                                             isFloat, bitsPerSample));
      Analyse(c, samples_, count);
    }
  }
  if (OnSpectrumData) OnSpectrumData(data_.get(), MinY, MaxY, count, MixChannels ? 1 : used);
}

void TDCSpectrum::Analyse(int channel, const std::vector<float>& samples, int) {
  const int n = fft_.FFTSizeInt();
  float* x = fft_.Real();
  for (int i = 0; i < n; ++i) x[i] = float(samples[size_t(i)] * Window(WindowMode, i, n));
  if (PreEmphesisEnabled) {
    const float c = float(PreEmphesis) / 100.0f;
    for (int i = n - 1; i >= 1; --i) x[i] -= c * x[i - 1];  // backwards: each uses the value before this step
  }
  fft_.Forward();
  const double factor = kSizeFactor[size_t(fft_.FFTSize())];
  int32_t* out = data_.get() + size_t(channel) * MaxBins;
  writtenChannels_ = std::max(writtenChannels_, channel + 1);
  writtenBins_ = std::max(writtenBins_, n / 2);
  const std::complex<float>* bins = fft_.Bins();
  for (int j = 0; j < n / 2; ++j) {
    const double m = std::round(std::abs(std::complex<double>(bins[j])));
    // A floor of 10000 below which a bin shows nothing. (Taken literally, a bin just under the
    // floor would show higher than one just over it; the floor is what is meant.)
    const double u = std::max(0.0, m * factor - 10000.0);
    out[j] = int32_t(std::lround(MinY + std::sqrt(u / 900000.0) * (MaxY - MinY)));
  }
}

void SpectrumLevels(const int32_t* values, std::array<float, SpectrumLevelCount>& levels) {
  for (int i = 0; i < SpectrumLevelCount; ++i) {
    const int32_t v = values ? values[i] : 0;
    levels[size_t(i)] = v <= 0 ? 0.0f : v <= 40 ? float(v) / 40.0f : 1.0f;
  }
}

void TSpectrumBars::SetSize(int width, int height) {
  width = std::max(width, 0);
  columns_ = width > 131 ? MaxColumns : std::min(width / 4, MaxColumns);
  height_ = std::max(height, 0);
  level_.fill(0), bar_.fill(0), peakAge_.fill(0), peakY_.fill(-1), peak_.fill(0.0f);
}

void TSpectrumBars::ShowLevels(const std::array<float, SpectrumLevelCount>& levels) {
  const int per = BinsPerColumn();
  for (int c = 0; c < columns_; ++c) {
    int64_t sum = 0;
    for (int j = c * per; j < (c + 1) * per; ++j) sum += int64_t(float(height_) * levels[size_t(j)]);
    level_[size_t(c)] = int(std::lround(double(sum) / per));
    int& bar = bar_[size_t(c)];
    bar = std::clamp(std::max(bar - 2, level_[size_t(c)]), 0, height_);
    float& peak = peak_[size_t(c)];
    int& age = peakAge_[size_t(c)];
    peakY_[size_t(c)] = -1;
    if (bar >= int(peak)) {
      peak = float(bar) + 0.1f;
      age = 0;
      continue;
    }
    if (int(peak) > 0) peakY_[size_t(c)] = height_ - int(peak);
    if (age > 7) peak -= float(age - 8) * 0.3f;
    if (peak >= 0)
      ++age;
    else
      peak = 0;
  }
}

}  // namespace ml
