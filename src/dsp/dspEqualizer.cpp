#include "dsp/dspEqualizer.h"

#include "dsp/PcmSamples.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace ml {

const std::array<TEQPreset, 19> EQPresets{{
    {"(默认)", {0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
    {"古典", {0, 0, 0, 0, 0, -2, 8, 8, 8, 10}},
    {"俱乐部", {0, 0, -2, -4, -4, -4, -2, 0, 0, 0}},
    {"舞曲", {-10, -8, -4, 1, 0, 4, 6, 4, 0, 0}},
    {"高音", {-10, -10, -10, -6, -2, 2, 6, 10, 10, 10}},
    {"超重低音和高音", {-6, -4, 0, 6, 4, -2, -8, -10, -10, -10}},
    {"超重低音", {10, 10, 10, 4, -2, -10, -16, -16, -16, -18}},
    {"膝上型喇叭/耳机", {-3, -10, -5, 4, 2, -1, -3, -6, -10, -12}},
    {"大厅", {-10, -10, -6, -4, 0, 4, 6, 6, 0, 0}},
    {"实时", {6, 0, -2, -3, -4, -4, -4, -1, -1, 0}},
    {"喧闹", {-16, -14, -10, -4, 0, -2, -4, -10, -14, -18}},
    {"派对", {-6, -6, 0, 0, 0, 0, 0, 0, -6, -6}},
    {"流行", {2, -3, -5, -5, -3, 2, 4, 4, 4, 2}},
    {"瑞格舞", {0, 0, 1, 6, 0, -6, -6, 0, 0, 0}},
    {"摇滚", {-8, -6, 6, 8, 4, -4, -8, -8, -8, -8}},
    {"斯卡", {2, 4, 2, 0, -2, -4, -6, 7, -6, -5}},
    {"温和", {-3, -1, 1, 3, 1, -3, -6, -8, -9, -10}},
    {"温和摇滚", {-3, -3, -2, 1, 3, 5, 3, 1, -2, -6}},
    {"电子乐", {-6, -6, 0, 6, 4, 0, -4, -6, -6, -4}},
}};

namespace {

int8_t ValueByte(int value) { return int8_t(uint8_t(value & 0xFF)); }

// The gain of each value byte (indexed by the byte as unsigned): 2 * 10^(v / 100).
const std::array<float, 256>& GainTable() {
  static const std::array<float, 256> table = [] {
    std::array<float, 256> t{};
    for (int b = 0; b < 256; ++b) t[size_t(b)] = 2.0f * std::pow(10.0f, float(int8_t(uint8_t(b))) / 100.0f);
    return t;
  }();
  return table;
}

bool InRange(int channel, int bin) {
  return channel >= 0 && channel < TDCEqualizer::Channels && bin >= 0 && bin < TDCEqualizer::MaxBins;
}

}  // namespace

TDCEqualizer::TDCEqualizer()
    : pendingValues_(size_t(Channels) * MaxBins, 0), values_(pendingValues_), work_(TDCFFTSize::fts1024, true) {
  Resize(TDCFFTSize::fts1024);
}

void TDCEqualizer::SetFFTSize(TDCFFTSize size) { pendingSize_ = size; }

void TDCEqualizer::SetBand(int channel, int bin, int value) {
  if (!InRange(channel, bin)) return;
  std::lock_guard lock(pendingMutex_);
  pendingValues_[size_t(channel) * MaxBins + size_t(bin)] = ValueByte(value);
  pendingChanged_ = true;
}

int TDCEqualizer::GetBand(int channel, int bin) const {
  if (!InRange(channel, bin)) return 0;
  std::lock_guard lock(pendingMutex_);
  return pendingValues_[size_t(channel) * MaxBins + size_t(bin)];
}

int TDCEqualizer::SetBandDb(int band, int db) {
  db = std::clamp(db, -EQMaxBandDb, EQMaxBandDb);
  if (band < 0 || band >= EQBandCount) return db;
  std::lock_guard lock(pendingMutex_);
  std::fill(pendingValues_.begin() + EQBandBins[size_t(band)], pendingValues_.begin() + EQBandBins[size_t(band) + 1],
            ValueByte(5 * db));
  pendingChanged_ = true;
  return db;
}

void TDCEqualizer::SetEnabled(bool on) {
  if (on && !enabled_) clearOverlap_ = true;
  enabled_ = on;
}

void TDCEqualizer::SetSeperate(bool on) { seperate_ = on; }

void TDCEqualizer::Resize(TDCFFTSize size) {
  work_.SetFFTSize(size);
  n_ = work_.FFTSizeInt();
  for (int c = 0; c < Channels; ++c) {
    filter_[size_t(c)].assign(size_t(work_.BinCount()), {});
    oldFilter_[size_t(c)].assign(size_t(work_.BinCount()), {});
    overlap_[size_t(c)].assign(size_t(n_ / 4), 0.0f);
  }
  designed_.fill(false);
  fading_.fill(false);
  designNeeded_ = true;
}

void TDCEqualizer::TakePending() {
  bool fade = true;
  if (pendingSize_.load() != work_.FFTSize()) {
    Resize(pendingSize_);
    fade = false;
  }
  if (clearOverlap_.exchange(false))
    for (auto& o : overlap_) std::fill(o.begin(), o.end(), 0.0f);
  const bool seperate = seperate_;
  if (seperate != designedSeperate_) {
    designedSeperate_ = seperate;
    designNeeded_ = true;
    fade = false;  // the channels change filters: no old curve of their own to fade from
  }
  if (pendingChanged_) {
    std::unique_lock lock(pendingMutex_, std::try_to_lock);
    if (lock.owns_lock()) {
      values_ = pendingValues_;
      pendingChanged_ = false;
      designNeeded_ = true;
    }
  }
  if (!designNeeded_) return;
  designNeeded_ = false;
  for (int c = 0; c < Channels; ++c) {
    if (!designed_[size_t(c)]) continue;
    oldFilter_[size_t(c)].swap(filter_[size_t(c)]);
    designed_[size_t(c)] = false;
    // Every channel that plays through this filter fades from the old one in its next block.
    if (fade) {
      if (seperate)
        fading_[size_t(c)] = true;
      else
        fading_.fill(true);
    }
  }
}

// The filter for one gain curve. The one-sided curve G (bins 0..N/2 - 1, stored doubled) is read
// as the real, even spectrum of a zero-phase response: G/2 at every bin from 0 to N/2, the last
// repeating bin N/2 - 1. Its inverse transform is that response; delayed by N/8 frames, cut to
// N/4 + 1 taps and Hann-weighted, it is a causal linear-phase FIR, whose transform is kept.
void TDCEqualizer::Design(int channel) {
  const int half = n_ / 2, taps = n_ / 4 + 1, delay = n_ / 8;
  const int8_t* v = values_.data() + size_t(channel) * MaxBins;
  const std::array<float, 256>& gain = GainTable();
  std::complex<float>* bins = work_.Bins();
  for (int k = 0; k < half; ++k) bins[k] = {gain[uint8_t(v[k])] / 2.0f, 0.0f};
  bins[half] = {gain[uint8_t(v[half - 1])] / 2.0f, 0.0f};
  work_.Inverse();
  float* x = work_.Real();
  std::vector<float> h(static_cast<size_t>(taps));
  for (int m = 0; m < taps; ++m) {
    const double w = 0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * m / double(n_ / 4 + 2));
    h[size_t(m)] = float(double(x[(m - delay + n_) % n_]) * w);
  }
  std::fill_n(x, n_, 0.0f);
  std::copy(h.begin(), h.end(), x);
  work_.Forward();
  std::copy_n(work_.Bins(), work_.BinCount(), filter_[size_t(channel)].begin());
  designed_[size_t(channel)] = true;
}

std::vector<float> TDCEqualizer::DesignedTaps(int channel) {
  TakePending();
  const int c = seperate_ ? std::clamp(channel, 0, Channels - 1) : 0;
  if (!designed_[size_t(c)]) Design(c);
  std::copy_n(filter_[size_t(c)].begin(), work_.BinCount(), work_.Bins());
  work_.Inverse();
  return std::vector<float>(work_.Real(), work_.Real() + n_ / 4 + 1);
}

void TDCEqualizer::Process(uint8_t* buffer, uint32_t byteLength, bool isFloat, int channels, int bitsPerSample) {
  if (!enabled_ || !buffer || channels <= 0) return;
  const int bytes = isFloat ? (bitsPerSample == 32 ? 4 : 0) : pcm::SampleBytes(bitsPerSample);
  if (bytes == 0) return;
  TakePending();
  const uint32_t frameBytes = uint32_t(channels) * uint32_t(bytes);
  const uint32_t frames = byteLength / frameBytes;
  const uint32_t chunk = SampleSize ? SampleSize.load() : frames;
  const uint32_t block = uint32_t(n_) * 3 / 4;
  const int used = std::min(channels, Channels);
  const bool seperate = designedSeperate_;
  for (int c = 0; c < used; ++c) {
    const int f = seperate ? c : 0;
    if (!designed_[size_t(f)]) Design(f);
  }
  for (uint32_t start = 0; start < frames; start += chunk) {
    const uint32_t chunkFrames = std::min(chunk, frames - start);
    for (int c = 0; c < used; ++c)
      for (uint32_t at = 0; at < chunkFrames; at += block)
        ProcessBlock(buffer + size_t(start + at) * frameBytes + size_t(c) * size_t(bytes),
                     std::min(block, chunkFrames - at), frameBytes, c, isFloat, bitsPerSample);
  }
}

void TDCEqualizer::ProcessBlock(uint8_t* first, uint32_t frames, uint32_t frameBytes, int channel, bool isFloat,
                                int bits) {
  const int bins = work_.BinCount(), tail = n_ / 4;
  const size_t f = designedSeperate_ ? size_t(channel) : 0;
  float* x = work_.Real();
  std::fill_n(x, n_, 0.0f);
  for (uint32_t i = 0; i < frames; ++i) {
    const uint8_t* p = first + size_t(i) * frameBytes;
    x[i] = isFloat ? pcm::ReadFloat(p) : float(pcm::ReadInt(p, bits));
  }
  work_.Forward();
  std::complex<float>* X = work_.Bins();
  const bool fade = fading_[size_t(channel)];
  if (fade) {
    spectrum_.assign(X, X + bins);
    for (int k = 0; k < bins; ++k) X[k] *= oldFilter_[f][size_t(k)];
    work_.Inverse();
    faded_.assign(x, x + frames);
    std::copy(spectrum_.begin(), spectrum_.end(), X);
    fading_[size_t(channel)] = false;  // one block fades; the next ones are the new filter's
  }
  for (int k = 0; k < bins; ++k) X[k] *= filter_[f][size_t(k)];
  work_.Inverse();
  if (fade)
    for (uint32_t i = 0; i < frames; ++i) {
      const float a = float(i + 1) / float(frames + 1);
      x[i] = faded_[i] + (x[i] - faded_[i]) * a;
    }
  // The previous blocks' tail adds in; this block's tail (its own beyond its length, plus what
  // is left of the earlier tail when the block is shorter than it) waits for the next block.
  std::vector<float>& overlap = overlap_[size_t(channel)];
  for (int i = 0; i < tail; ++i) x[i] += overlap[size_t(i)];
  std::copy_n(x + frames, tail, overlap.begin());
  for (uint32_t i = 0; i < frames; ++i) {
    uint8_t* p = first + size_t(i) * frameBytes;
    if (isFloat)
      pcm::WriteFloat(p, x[i]);
    else
      pcm::WriteRounded(p, bits, x[i]);
  }
}

}  // namespace ml
