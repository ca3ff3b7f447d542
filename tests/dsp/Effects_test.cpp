// The preamplifier and the 3D widener over every sample format they take: tables of inputs
// against the formulas worked out here in floating point, full-scale samples that must clip and
// never wrap, and blocks they must leave alone.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "dsp/dspAmplify.h"
#include "dsp/dspSound3D.h"

using namespace ml;

namespace {

// Interleaved samples of the given size as bytes (8-bit values are signed here, stored + 128).
std::vector<uint8_t> Pcm(const std::vector<int64_t>& samples, int bits) {
  const int bytes = bits / 8;
  std::vector<uint8_t> out(samples.size() * size_t(bytes));
  for (size_t i = 0; i < samples.size(); ++i) {
    const int64_t v = bits == 8 ? samples[i] + 128 : samples[i];
    for (int b = 0; b < bytes; ++b) out[i * size_t(bytes) + size_t(b)] = uint8_t(uint64_t(v) >> (8 * b));
  }
  return out;
}

std::vector<int64_t> Samples(const std::vector<uint8_t>& pcm, int bits) {
  const int bytes = bits / 8;
  std::vector<int64_t> out;
  for (size_t at = 0; at + size_t(bytes) <= pcm.size(); at += size_t(bytes)) {
    uint64_t u = 0;
    for (int b = 0; b < bytes; ++b) u |= uint64_t(pcm[at + size_t(b)]) << (8 * b);
    int64_t v = bits == 8 ? int64_t(u) - 128 : int64_t(u << (64 - bits)) >> (64 - bits);
    out.push_back(v);
  }
  return out;
}

int64_t Max(int bits) { return (int64_t(1) << (bits - 1)) - 1; }
int64_t Min(int bits) { return bits == 32 ? -Max(32) : -Max(bits) - 1; }

TEST(Amplifier, PreampScalesAndClipsEveryIntegerFormat) {
  TDCAmplify amp;
  amp.Enabled = true;
  amp.SetPreamp(12);
  EXPECT_EQ(amp.GetVolume(0), 16000);
  // 16 bits, as the player's own example: 30000 clips, 1000 becomes 1600.
  auto b = Pcm({30000, 1000, -30000, -1001}, 16);
  amp.Process(b.data(), uint32_t(b.size()), false, 2, 16);
  EXPECT_EQ(Samples(b, 16), (std::vector<int64_t>{32767, 1600, -32768, -1601}));
  // Full scale in every size: clipped at the rail, never wrapped to the other sign (a 24-bit
  // full-scale sample times 16000 overflows 32 bits).
  for (int bits : {8, 16, 24, 32}) {
    auto full = Pcm({Max(bits), Min(bits), Max(bits) / 2, 3}, bits);
    amp.Process(full.data(), uint32_t(full.size()), false, 2, bits);
    const int64_t half = Max(bits) / 2 * 16000 / 10000;
    EXPECT_EQ(Samples(full, bits), (std::vector<int64_t>{Max(bits), Min(bits), std::min(half, Max(bits)), 4}))
        << bits << " bits";
  }
  // Toward zero, as integer division does: -3 * 0.4 = -1.2 becomes -1.
  amp.SetPreamp(-12);
  EXPECT_EQ(amp.GetVolume(0), 4000);
  auto quiet = Pcm({-3, 3}, 16);
  amp.Process(quiet.data(), uint32_t(quiet.size()), false, 2, 16);
  EXPECT_EQ(Samples(quiet, 16), (std::vector<int64_t>{-1, 1}));
  amp.SetPreamp(40);
  EXPECT_EQ(amp.GetVolume(0), 16000) << "clamped to 12";
}

TEST(Amplifier, ChannelsFloatsAndWhenItDoesNothing) {
  TDCAmplify amp;
  amp.Enabled = true;
  amp.SetVolume(0, 20000);
  amp.SetVolume(1, 5000);
  amp.SetVolume(10, 1);  // no such channel
  EXPECT_EQ(amp.GetVolume(10), 0);
  auto b = Pcm({100, 100}, 16);
  amp.Process(b.data(), uint32_t(b.size()), false, 2, 16);
  EXPECT_EQ(Samples(b, 16), (std::vector<int64_t>{200, 200})) << "channel 0's volume for all";
  amp.Seperate = true;
  b = Pcm({100, 100}, 16);
  amp.Process(b.data(), uint32_t(b.size()), false, 2, 16);
  EXPECT_EQ(Samples(b, 16), (std::vector<int64_t>{200, 50}));

  std::vector<float> f = {0.5f, -0.75f};
  amp.Process(reinterpret_cast<uint8_t*>(f.data()), uint32_t(f.size() * sizeof(float)), true, 2, 32);
  EXPECT_FLOAT_EQ(f[0], 1.0f);
  EXPECT_FLOAT_EQ(f[1], -0.375f);

  amp.Enabled = false;
  b = Pcm({100, 100}, 16);
  amp.Process(b.data(), uint32_t(b.size()), false, 2, 16);
  EXPECT_EQ(Samples(b, 16), (std::vector<int64_t>{100, 100}));
  amp.Enabled = true;
  std::vector<uint8_t> odd = {1, 2, 3};
  amp.Process(odd.data(), 3, false, 1, 12);  // a size it does not know
  EXPECT_EQ(odd, (std::vector<uint8_t>{1, 2, 3}));
}

// The widened frame as the formula gives it, rounded half away from zero and clipped.
std::pair<int64_t, int64_t> Widened(int64_t l, int64_t r, uint16_t volume, int bits) {
  const double k = volume / 10000.0 * 6.5536, m = (double(l) + double(r)) / 2;
  auto one = [&](double x) {
    const double v = std::round((x + m + (x - m) * k) / 2);
    return int64_t(std::fmin(std::fmax(v, double(Min(bits))), double(Max(bits))));
  };
  return {one(double(l)), one(double(r))};
}

TEST(Sound3D, StereoFramesFollowTheFormula) {
  TDCSound3D s3d;
  s3d.SetLevel(0);
  EXPECT_FALSE(s3d.Enabled);
  s3d.SetLevel(100);
  EXPECT_TRUE(s3d.Enabled);
  EXPECT_EQ(s3d.Volume.load(), 10000);
  s3d.SetLevel(50);
  EXPECT_EQ(s3d.Volume.load(), 5500);

  const std::vector<std::pair<int64_t, int64_t>> frames = {{0, 0}, {1000, -1000}, {1000, 1000}, {30000, -30000},
                                                             {-5, 7}, {12345, 2345}, {-32768, 32767}};
  for (uint16_t volume : {uint16_t(1000), uint16_t(5500), uint16_t(10000)}) {
    s3d.Volume = volume;
    for (int bits : {8, 16, 24, 32}) {
      std::vector<int64_t> in;
      for (auto [l, r] : frames) {
        // Scaled to the format, so every size sees quiet and loud frames.
        const double scale = double(Max(bits)) / 32767.0;
        in.push_back(std::clamp(int64_t(double(l) * scale), Min(bits), Max(bits)));
        in.push_back(std::clamp(int64_t(double(r) * scale), Min(bits), Max(bits)));
      }
      auto b = Pcm(in, bits);
      s3d.Process(b.data(), uint32_t(b.size()), false, 2, bits);
      const auto out = Samples(b, bits);
      for (size_t i = 0; i < in.size(); i += 2) {
        const auto [l, r] = Widened(in[i], in[i + 1], volume, bits);
        EXPECT_EQ(out[i], l) << bits << " bits, volume " << volume << ", frame " << in[i] << "," << in[i + 1];
        EXPECT_EQ(out[i + 1], r) << bits << " bits, volume " << volume << ", frame " << in[i] << "," << in[i + 1];
      }
    }
  }
  // At the default volume the side is scaled by 0.655 before the halving: (1000, -1000) keeps
  // its mid 0 and becomes (828, -828).
  s3d.Volume = 1000;
  auto b = Pcm({1000, -1000}, 16);
  s3d.Process(b.data(), uint32_t(b.size()), false, 2, 16);
  EXPECT_EQ(Samples(b, 16), (std::vector<int64_t>{828, -828}));
}

TEST(Sound3D, LeavesMonoAndDisabledBlocksAlone) {
  TDCSound3D s3d;
  s3d.SetLevel(100);
  auto mono = Pcm({1000, -1000}, 16);
  const auto before = mono;
  s3d.Process(mono.data(), uint32_t(mono.size()), false, 1, 16);
  EXPECT_EQ(mono, before);
  s3d.SetLevel(0);
  auto stereo = Pcm({1000, -1000}, 16);
  s3d.Process(stereo.data(), uint32_t(stereo.size()), false, 2, 16);
  EXPECT_EQ(stereo, Pcm({1000, -1000}, 16));
  // A trailing half frame is left as it is.
  s3d.SetLevel(100);
  auto ragged = Pcm({1000, -1000, 77}, 16);
  s3d.Process(ragged.data(), uint32_t(ragged.size()), false, 2, 16);
  EXPECT_EQ(Samples(ragged, 16)[2], 77);
}

}  // namespace
