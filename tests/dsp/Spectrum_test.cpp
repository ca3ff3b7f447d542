// The spectrum analysis as the player sets it up, and the bars and peaks of the display model on
// a manual clock (one ShowLevels a tick).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <vector>

#include "dsp/visSpectrum.h"

using namespace ml;

namespace {

void PlayerSetup(TDCSpectrum& s) {
  s.SetFFTSize(TDCFFTSize::fts1024);
  s.SetSampleSkip(3);
  s.PreEmphesis = 88;
  s.MaxY = 60;
  s.Logarithmic = false;
}

std::vector<int16_t> StereoSine(double hz, double amplitude, int frames, int rate = 44100) {
  std::vector<int16_t> s(size_t(frames) * 2);
  for (int i = 0; i < frames; ++i)
    s[size_t(i) * 2] = s[size_t(i) * 2 + 1] =
        int16_t(std::lround(amplitude * std::sin(2 * std::numbers::pi * hz * i / rate)));
  return s;
}

std::array<float, SpectrumLevelCount> Levels(const TDCSpectrum& s) {
  std::array<float, SpectrumLevelCount> l{};
  SpectrumLevels(s.Data(), l);
  return l;
}

// Every third frame is analysed, so a bin is (44100 / 3) / 1024 Hz wide and a column of the
// 32-column display 16 bins: a sine lands in the column of its bin, counted from the right.
TEST(Spectrum, ASineLightsItsOwnColumn) {
  for (double hz : {300.0, 2000.0, 5000.0, 7000.0}) {
    TDCSpectrum s;
    PlayerSetup(s);
    int analysed = 0;
    s.OnSpectrumData = [&](const int32_t*, int32_t, int32_t maxY, int num, int channels) {
      analysed = num;
      EXPECT_EQ(maxY, 60);
      EXPECT_EQ(channels, 1);
    };
    const std::vector<int16_t> pcm = StereoSine(hz, 16000, 2048);
    s.Process(reinterpret_cast<const uint8_t*>(pcm.data()), uint32_t(pcm.size() * 2), false, 2, 16);
    EXPECT_EQ(analysed, 512);
    TSpectrumBars bars(128, 40);
    bars.ShowLevels(Levels(s));
    const int bin = int(std::lround(hz * 3 * 1024 / 44100));
    int loudest = 0;
    for (int c = 1; c < bars.ColumnCount(); ++c)
      if (bars.ColumnLevel(c) > bars.ColumnLevel(loudest)) loudest = c;
    EXPECT_EQ(loudest, bin / 16) << hz << " Hz";
    EXPECT_EQ(bars.ColumnX(loudest), (31 - bin / 16) * 4);
  }
}

// A louder signal never shows lower: the value grows with the magnitude through the floor.
TEST(Spectrum, ValuesGrowWithTheAmplitude) {
  int last = -1;
  for (double a = 1; a < 3000; a *= 1.05) {
    TDCSpectrum s;
    PlayerSetup(s);
    const std::vector<int16_t> pcm = StereoSine(2000, a, 2048);
    s.Process(reinterpret_cast<const uint8_t*>(pcm.data()), uint32_t(pcm.size() * 2), false, 2, 16);
    const int v = *std::max_element(s.Data(), s.Data() + 512);
    EXPECT_GE(v, last) << "amplitude " << a;
    last = v;
  }
  EXPECT_GT(last, 0);
}

TEST(Spectrum, SettingsLevelsAndWhatItIgnores) {
  TDCSpectrum s;
  s.SetSampleSkip(0);
  EXPECT_EQ(s.SampleSkip(), 1);
  s.SetSampleSkip(300);
  EXPECT_EQ(s.SampleSkip(), 255);
  const uint64_t before = s.FFTCount();
  s.Process(nullptr, 0, false, 2, 16);
  uint8_t b[8]{};
  s.Process(b, sizeof b, false, 0, 16);
  s.Process(b, sizeof b, false, 2, 12);
  EXPECT_EQ(s.FFTCount(), before);

  int32_t values[SpectrumLevelCount]{};
  values[0] = 60, values[1] = 41, values[2] = 40, values[3] = 20, values[4] = -3;
  std::array<float, SpectrumLevelCount> l{};
  SpectrumLevels(values, l);
  EXPECT_FLOAT_EQ(l[0], 1.0f);
  EXPECT_FLOAT_EQ(l[1], 1.0f);
  EXPECT_FLOAT_EQ(l[2], 1.0f);
  EXPECT_FLOAT_EQ(l[3], 0.5f);
  EXPECT_FLOAT_EQ(l[4], 0.0f);
}

TEST(SpectrumBars, ColumnsFollowTheWidth) {
  struct Case {
    int width, columns, bins;
  } cases[] = {{100, 25, 20}, {200, 32, 16}, {128, 32, 16}, {131, 32, 16}, {132, 32, 16}, {3, 0, 0}, {0, 0, 0}};
  for (const Case& c : cases) {
    TSpectrumBars bars(c.width, 40);
    EXPECT_EQ(bars.ColumnCount(), c.columns) << c.width;
    EXPECT_EQ(bars.BinsPerColumn(), c.bins) << c.width;
    bars.ShowLevels({});  // no columns: nothing to divide
  }
}

// Full scale once, then silence: the bar falls 2 pixels a tick; the peak holds nine ticks, then
// falls ever faster, and its mark shows while it is above the bar.
TEST(SpectrumBars, BarsFallAndPeaksHoldThenFall) {
  TSpectrumBars bars(128, 40);
  std::array<float, SpectrumLevelCount> full{};
  full.fill(1.0f);
  bars.ShowLevels(full);
  EXPECT_EQ(bars.Bar(0), 40);
  EXPECT_FLOAT_EQ(bars.Peak(0), 40.1f);
  EXPECT_EQ(bars.PeakY(0), -1);
  const std::array<float, SpectrumLevelCount> silence{};
  std::vector<int> barsSeen, peakRows;
  for (int tick = 0; tick < 40; ++tick) {
    bars.ShowLevels(silence);
    barsSeen.push_back(bars.Bar(0));
    peakRows.push_back(bars.PeakY(0));
  }
  EXPECT_EQ(barsSeen[0], 38);
  EXPECT_EQ(barsSeen[9], 20);
  EXPECT_EQ(barsSeen[19], 0);
  for (int tick = 0; tick < 9; ++tick) EXPECT_EQ(peakRows[size_t(tick)], 0) << "held at the top, tick " << tick;
  EXPECT_GT(peakRows[15], peakRows[9]);
  EXPECT_EQ(peakRows.back(), -1) << "the peak has fallen to the floor";
  EXPECT_EQ(bars.Bar(0), 0);
}

}  // namespace
