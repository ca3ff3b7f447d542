// The effects on CD audio (44.1 kHz, stereo, 16 bits) in the blocks the engine hands them (80 ms,
// what the output queue takes at a time): each stage alone over one second, one spectrum tick
// (the analysis of the block being heard, every 50 ms), and a whole MP3 decoded through the
// amplifier, the equalizer, 3D and the spectrum, reported as times real time. The MP3 is
// ML_BENCH_MP3, or a 60-second one made with sox and lame.
#include "dsp/dspAmplify.h"
#include "dsp/dspEqualizer.h"
#include "dsp/dspSound3D.h"
#include "dsp/visSpectrum.h"
#include "playback/uMPEGDecoder.h"

#include "bench/BenchFiles.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr int kRate = 44100;
constexpr uint32_t kBlockFrames = kRate * 80 / 1000;

std::vector<int16_t> Noise(size_t samples) {
  std::vector<int16_t> v(samples);
  uint32_t x = 12345;
  for (auto& s : v) s = int16_t((x = x * 1664525u + 1013904223u) >> 18) - 8192;
  return v;
}

template <class F>
void OverOneSecond(benchmark::State& state, F&& process) {
  std::vector<int16_t> pcm = Noise(size_t(kRate) * 2);
  for (auto _ : state) {
    for (uint32_t at = 0; at < uint32_t(kRate); at += kBlockFrames) {
      const uint32_t frames = std::min(kBlockFrames, uint32_t(kRate) - at);
      process(reinterpret_cast<uint8_t*>(pcm.data() + size_t(at) * 2), frames * 4);
    }
    benchmark::ClobberMemory();
  }
  state.counters["x_realtime"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_EqualizerSecond(benchmark::State& state) {
  ml::TDCEqualizer eq;
  eq.SetFFTSize(ml::TDCFFTSize::fts2048);
  eq.SampleSize = 2048;
  for (int b = 0; b < ml::EQBandCount; ++b) eq.SetBandDb(b, ml::EQPresets[14].Gains[size_t(b)]);
  eq.SetEnabled(true);
  OverOneSecond(state, [&](uint8_t* p, uint32_t n) { eq.Process(p, n, false, 2, 16); });
}
BENCHMARK(BM_EqualizerSecond)->Unit(benchmark::kMicrosecond);

void BM_AmplifierAnd3DSecond(benchmark::State& state) {
  ml::TDCAmplify amp;
  amp.SetPreamp(3);
  amp.Enabled = true;
  ml::TDCSound3D s3d;
  s3d.SetLevel(50);
  OverOneSecond(state, [&](uint8_t* p, uint32_t n) {
    amp.Process(p, n, false, 2, 16);
    s3d.Process(p, n, false, 2, 16);
  });
}
BENCHMARK(BM_AmplifierAnd3DSecond)->Unit(benchmark::kMicrosecond);

void BM_SpectrumTick(benchmark::State& state) {
  ml::TDCSpectrum s;
  s.UsePlayerSettings();
  std::array<float, ml::SpectrumLevelCount> levels;
  s.OnSpectrumData = [&](const int32_t* d, int32_t, int32_t, int, int) { ml::SpectrumLevels(d, levels); };
  ml::TSpectrumBars bars(128, 40);
  const std::vector<int16_t> block = Noise(4096);  // the 8192 bytes the player analyses
  for (auto _ : state) {
    s.Process(reinterpret_cast<const uint8_t*>(block.data()), 8192, false, 2, 16);
    bars.ShowLevels(levels);
  }
}
BENCHMARK(BM_SpectrumTick)->Unit(benchmark::kMicrosecond);

using mlbench::BenchFile;

// Decode, amplifier, equalizer, 3D, and a spectrum tick for every 50 ms of audio.
void BM_DecodeThroughTheEffects(benchmark::State& state) {
  std::vector<uint8_t> block(kBlockFrames * 4 * 2);
  double seconds = 0;
  for (auto _ : state) {
    ml::TMPEGDecoder d;
    if (!d.Open(BenchFile(), false)) return state.SkipWithError("cannot open the MP3");
    ml::TDCAmplify amp;
    amp.Enabled = true;
    ml::TDCEqualizer eq;
    eq.SetFFTSize(ml::TDCFFTSize::fts2048);
    eq.SampleSize = 2048;
    for (int b = 0; b < ml::EQBandCount; ++b) eq.SetBandDb(b, ml::EQPresets[14].Gains[size_t(b)]);
    eq.SetEnabled(true);
    ml::TDCSound3D s3d;
    s3d.SetLevel(50);
    ml::TDCSpectrum spectrum;
    spectrum.UsePlayerSettings();
    uint64_t frames = 0, nextTick = 0;
    for (bool more = true; more;) {
      uint32_t n = kBlockFrames * 4;
      more = d.Read(block.data(), n);
      amp.Process(block.data(), n, false, 2, 16);
      eq.Process(block.data(), n, false, 2, 16);
      s3d.Process(block.data(), n, false, 2, 16);
      frames += n / 4;
      if (frames >= nextTick && n >= 8192) {
        spectrum.Process(block.data(), 8192, false, 2, 16);
        nextTick += kRate / 20;
      }
      benchmark::DoNotOptimize(block.data());
    }
    seconds += double(frames) / kRate;
  }
  state.counters["x_realtime"] = benchmark::Counter(seconds, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_DecodeThroughTheEffects)->Unit(benchmark::kMillisecond);

}  // namespace
