// The equalizer against an oracle of its own: the taps are worked out here with a naive cosine
// sum in double precision from the band table, the frequency response from those taps by a
// direct DFT, and the output of the FFT block convolution compared with a direct convolution.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <numbers>
#include <random>
#include <vector>

#include "dsp/dspEqualizer.h"

using namespace ml;

namespace {

constexpr int kN = 2048, kTaps = kN / 4 + 1, kDelay = kN / 8;
constexpr double kRate = 44100;
constexpr double kPi = std::numbers::pi;

// The player's configuration of the equalizer.
void PlayerSetup(TDCEqualizer& eq) {
  eq.SetFFTSize(TDCFFTSize::fts2048);
  eq.SampleSize = 2048;
  eq.SetEnabled(true);
}

// The linear-phase filter of a ten-band setting: the zero-phase response of the even gain curve
// (bins 0..N/2, the last band reaching N/2), delayed by N/8, cut to N/4 + 1 taps, Hann-weighted.
std::vector<double> OracleTaps(const std::array<int, 10>& db) {
  std::vector<double> g(kN / 2 + 1, 1.0);
  for (int b = 0; b < 10; ++b)
    for (int k = EQBandBins[size_t(b)]; k < EQBandBins[size_t(b) + 1]; ++k) g[size_t(k)] = std::pow(10.0, db[size_t(b)] / 20.0);
  g[kN / 2] = g[kN / 2 - 1];
  std::vector<double> taps(kTaps);
  for (int m = 0; m < kTaps; ++m) {
    const int n = m - kDelay;
    double h = g[0] + g[kN / 2] * std::cos(kPi * n);
    for (int k = 1; k < kN / 2; ++k) h += 2.0 * g[size_t(k)] * std::cos(2.0 * kPi * k * n / kN);
    taps[size_t(m)] = h / kN * (0.5 - 0.5 * std::cos(2.0 * kPi * m / (kN / 4 + 2)));
  }
  return taps;
}

double ResponseAt(const std::vector<double>& taps, double hz) {
  std::complex<double> sum;
  for (size_t m = 0; m < taps.size(); ++m) sum += taps[m] * std::polar(1.0, -2.0 * kPi * hz / kRate * double(m));
  return std::abs(sum);
}

std::vector<int16_t> RunPieces(TDCEqualizer& eq, std::vector<int16_t> pcm, int channels, const std::vector<uint32_t>& pieces) {
  size_t at = 0;
  for (size_t i = 0; at < pcm.size(); ++i) {
    const size_t frames = std::min<size_t>(pieces[i % pieces.size()], (pcm.size() - at) / size_t(channels));
    eq.Process(reinterpret_cast<uint8_t*>(pcm.data() + at), uint32_t(frames * size_t(channels) * 2), false, channels, 16);
    at += frames * size_t(channels);
  }
  return pcm;
}

// The amplitude of the component at hz over samples [from, from + count) of a mono signal, by
// correlation over whole cycles' worth of frames (hz is chosen on the analysis grid).
double AmplitudeAt(const std::vector<int16_t>& y, double hz, size_t from, size_t count) {
  std::complex<double> sum;
  for (size_t i = 0; i < count; ++i) sum += double(y[from + i]) * std::polar(1.0, -2.0 * kPi * hz / kRate * double(i));
  return 2.0 * std::abs(sum) / double(count);
}

std::vector<int16_t> Sine(double hz, double amplitude, size_t frames) {
  std::vector<int16_t> s(frames);
  for (size_t i = 0; i < frames; ++i) s[i] = int16_t(std::lround(amplitude * std::sin(2.0 * kPi * hz * double(i) / kRate)));
  return s;
}

std::array<int, 10> PresetDb(int p) {
  std::array<int, 10> db{};
  for (int i = 0; i < 10; ++i) db[size_t(i)] = EQPresets[size_t(p)].Gains[size_t(i)];
  return db;
}

void ApplyDb(TDCEqualizer& eq, const std::array<int, 10>& db) {
  for (int b = 0; b < 10; ++b) eq.SetBandDb(b, db[size_t(b)]);
}

TEST(Equalizer, DesignedTapsAreTheOracles) {
  for (int preset : {0, 6, 12, 15}) {
    TDCEqualizer eq;
    PlayerSetup(eq);
    ApplyDb(eq, PresetDb(preset));
    const std::vector<float> got = eq.DesignedTaps();
    const std::vector<double> want = OracleTaps(PresetDb(preset));
    ASSERT_EQ(got.size(), want.size());
    for (size_t m = 0; m < want.size(); ++m) EXPECT_NEAR(got[m], want[m], 2e-6) << "preset " << preset << " tap " << m;
  }
}

// Sines at each band's centre (and at the edges of the audio band) come out scaled by the
// response of the oracle's taps; a flat setting is flat to a hundredth of a dB everywhere,
// including next to 0 Hz and the Nyquist frequency.
TEST(Equalizer, SinesComeOutAtTheOraclesResponse) {
  constexpr size_t kWindow = 32768, kSkip = 4096;
  std::vector<double> probes{30, 19000, 21000};
  for (int b = 0; b < 10; ++b)
    probes.push_back(std::sqrt(std::max(EQBandBins[size_t(b)], 1) * double(EQBandBins[size_t(b) + 1])) * kRate / kN);
  for (int preset : {0, 6, 14}) {
    const std::vector<double> taps = OracleTaps(PresetDb(preset));
    for (double probe : probes) {
      const double hz = std::round(probe * kWindow / kRate) * kRate / kWindow;  // on the analysis grid
      TDCEqualizer eq;
      PlayerSetup(eq);
      ApplyDb(eq, PresetDb(preset));
      const std::vector<int16_t> out = RunPieces(eq, Sine(hz, 8000, kSkip + kWindow), 1, {4096});
      const double gainDb = 20 * std::log10(AmplitudeAt(out, hz, kSkip, kWindow) / 8000.0);
      const double wantDb = 20 * std::log10(ResponseAt(taps, hz));
      EXPECT_NEAR(gainDb, wantDb, 0.05) << "preset " << preset << " at " << hz << " Hz";
      if (preset == 0) {
        EXPECT_NEAR(gainDb, 0.0, 0.01) << "flat at " << hz << " Hz";
      }
    }
  }
}

// The block convolution equals a direct convolution with the oracle's taps, rounded, within one
// step, over buffers of every awkward length (shorter than a block, shorter than the overlap,
// crossing chunks) and over both channels of a stereo stream.
TEST(Equalizer, OverlapAddEqualsDirectConvolution) {
  const std::array<int, 10> db = PresetDb(12);
  const std::vector<double> taps = OracleTaps(db);
  std::mt19937 rng(7);
  std::uniform_int_distribution<int> noise(-12000, 12000);
  constexpr size_t kFrames = 30000;
  std::vector<int16_t> in(kFrames * 2);
  for (auto& s : in) s = int16_t(noise(rng));
  TDCEqualizer eq;
  PlayerSetup(eq);
  ApplyDb(eq, db);
  const std::vector<int16_t> out = RunPieces(eq, in, 2, {4000, 100, 1537, 3000, 511, 2048, 7});
  int worst = 0;
  for (int c = 0; c < 2; ++c)
    for (size_t n = 0; n < kFrames; ++n) {
      double y = 0;
      for (size_t m = 0; m < taps.size() && m <= n; ++m) y += taps[m] * in[(n - m) * 2 + size_t(c)];
      const long want = std::clamp(std::lround(y), -32768L, 32767L);
      worst = std::max(worst, int(std::abs(want - out[n * 2 + size_t(c)])));
    }
  EXPECT_LE(worst, 1);
}

TEST(Equalizer, BandsPresetsAndTheirStoredValues) {
  TDCEqualizer eq;
  struct Case {
    int db, stored;
  } cases[] = {{25, 20}, {-25, -20}, {7, 7}, {0, 0}};
  for (const Case& c : cases) {
    EXPECT_EQ(eq.SetBandDb(3, c.db), c.stored);
    EXPECT_EQ(eq.GetBand(0, EQBandBins[3]), 5 * c.stored);
    EXPECT_EQ(eq.GetBand(0, EQBandBins[4] - 1), 5 * c.stored);
  }
  EXPECT_EQ(eq.GetBand(0, EQBandBins[4]), 0) << "the next band is untouched";
  EXPECT_EQ(eq.GetBand(10, 0), 0);
  EXPECT_EQ(eq.GetBand(0, 8192), 0);
  eq.SetBand(0, 100, 0x1FF);  // the low byte, -1
  EXPECT_EQ(eq.GetBand(0, 100), -1);
  ApplyDb(eq, PresetDb(6));
  EXPECT_EQ(eq.GetBand(0, 559), -90);
  EXPECT_EQ(eq.GetBand(0, 1023), -90);
  EXPECT_EQ(EQPresets.size(), 19u);
  EXPECT_EQ(EQPresets[6].Gains[9], -18);
}

// A change between buffers is heard in the next block, and the switch never clicks: the step from
// one sample to the next stays within what a sine of the louder amplitude can make.
TEST(Equalizer, AChangeIsHeardWithinABlockWithoutAClick) {
  const double hz = 861.328125;  // band 4, on the analysis grid of 1024
  TDCEqualizer eq;
  PlayerSetup(eq);
  std::vector<int16_t> s = Sine(hz, 4000, 44100);
  auto* p = reinterpret_cast<uint8_t*>(s.data());
  eq.Process(p, 8192 * 2, false, 1, 16);
  eq.SetBandDb(4, 12);
  eq.Process(p + 8192 * 2, uint32_t((s.size() - 8192) * 2), false, 1, 16);
  std::array<int, 10> db{};
  db[4] = 12;
  const double gain = ResponseAt(OracleTaps(db), hz);
  const double louder = 4000 * gain * 1.01;
  int maxStep = 0;
  for (size_t i = 8192 - 1024; i < 8192 + 4096; ++i) maxStep = std::max(maxStep, std::abs(s[i + 1] - s[i]));
  EXPECT_LE(maxStep, 2 * kPi * hz / kRate * louder + 2);
  const double after = AmplitudeAt(s, hz, 8192 + 1536 + kDelay, 1024);
  EXPECT_NEAR(after / 4000, gain, 0.01 * gain);
}

TEST(Equalizer, DisabledLeavesTheBlockAndEnablingForgetsTheTail) {
  TDCEqualizer eq;
  eq.SetFFTSize(TDCFFTSize::fts2048);
  ApplyDb(eq, PresetDb(6));  // +10 dB in the bass: a loud step must clip
  std::vector<int16_t> s = Sine(1000, 9000, 4096);
  const std::vector<int16_t> before = s;
  eq.Process(reinterpret_cast<uint8_t*>(s.data()), uint32_t(s.size() * 2), false, 1, 16);
  EXPECT_EQ(s, before);

  eq.SetEnabled(true);
  eq.Process(reinterpret_cast<uint8_t*>(s.data()), uint32_t(s.size() * 2), false, 1, 16);
  eq.SetEnabled(false);
  eq.SetEnabled(true);
  std::vector<int16_t> silence(512, 0);
  eq.Process(reinterpret_cast<uint8_t*>(silence.data()), 1024, false, 1, 16);
  EXPECT_EQ(silence, std::vector<int16_t>(512, 0)) << "the tail of the sine was carried over";

  std::vector<int16_t> loud(4096, 32000);
  eq.Process(reinterpret_cast<uint8_t*>(loud.data()), 8192, false, 1, 16);
  EXPECT_EQ(*std::max_element(loud.begin(), loud.end()), 32767);
}

}  // namespace
