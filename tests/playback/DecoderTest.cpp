// The decoders judged by independent tools: mpg123 for MPEG audio, sox for WAV; hand-made bytes
// for the header rules and the broken files.
#include "tests/playback/PlaybackFixtures.h"
#include "playback/uMPEGDecoder.h"
#include "playback/uWAVDecoder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

using namespace ml;
using namespace mltest;

namespace {

std::vector<int16_t> DecodeAll(TDecoderModule& d, uint32_t block = 4608) {
  std::vector<int16_t> out;
  std::vector<uint8_t> buf(block);
  for (;;) {
    uint32_t n = block;
    bool more = d.Read(buf.data(), n);
    EXPECT_EQ(n % 2, 0u);
    const size_t at = out.size();
    out.resize(at + n / 2);
    std::memcpy(out.data() + at, buf.data(), n);
    if (!more) break;
  }
  return out;
}

int MaxDiff(const std::vector<int16_t>& a, size_t aFrom, const std::vector<int16_t>& b, size_t bFrom, size_t n) {
  int worst = 0;
  for (size_t i = 0; i < n; ++i) worst = std::max(worst, std::abs(int(a[aFrom + i]) - int(b[bFrom + i])));
  return worst;
}

// A Layer III frame header for MPEG-1, 128 kbit/s, 44100 Hz, stereo: 417 bytes long.
const uint8_t kHeader128[4] = {0xFF, 0xFB, 0x90, 0x00};

std::string Frames(int count, const uint8_t* header = kHeader128, int length = 417) {
  std::string s;
  for (int i = 0; i < count; ++i) {
    std::string f(static_cast<size_t>(length), '\0');
    std::memcpy(f.data(), header, 4);
    s += f;
  }
  return s;
}

}  // namespace

class MPEGAgainstReference : public ::testing::TestWithParam<const char*> {};

// Same number of samples (the last frame included, the VBR header frame not counted) and the same
// PCM within the dither's few LSB.
TEST_P(MPEGAgainstReference, MatchesMpg123) {
  const std::string path = PlaybackFixture(GetParam());
  int channels = 0;
  const auto ref = ReferenceDecode(path, &channels);
  ASSERT_FALSE(ref.empty());
  TMPEGDecoder d;
  ASSERT_TRUE(d.Open(path, false));
  EXPECT_EQ(d.CurrentFormat().Channels(), channels);
  const auto ours = DecodeAll(d);
  ASSERT_EQ(ours.size(), ref.size());
  EXPECT_LE(MaxDiff(ours, 0, ref, 0, ref.size()), 4);
  // The reported duration agrees with the audio delivered to within one frame.
  const double seconds = double(ours.size()) / channels / d.CurrentFormat().SampleRate;
  EXPECT_NEAR(d.CurrentFormat().DurationMs, seconds * 1000, 30);
  EXPECT_NEAR(d.GetPositionMs(), seconds * 1000, 1);
}

INSTANTIATE_TEST_SUITE_P(Fixtures, MPEGAgainstReference,
                         ::testing::Values("cbr.mp3", "vbr.mp3", "mono.mp3", "mpeg2.mp3", "layer2.mp2",
                                           "mpeg2l2.mp2", "id3big.mp3"));

// After a seek to 10 s past a 500 KB picture, the first sample out is the one at 10.000 s.
TEST(MPEGDecoder, SeekPastLargeTagLandsOnTheSample) {
  const std::string path = PlaybackFixture("id3big.mp3");
  const auto ref = ReferenceDecode(path);
  TMPEGDecoder d;
  ASSERT_TRUE(d.Open(path, false));
  EXPECT_GT(d.TagLength(), 500u * 1024);
  d.Seek(10000.0f / d.CurrentFormat().DurationMs);
  EXPECT_NEAR(d.GetPositionMs(), 10000, 1);
  std::vector<uint8_t> buf(4096 * 4);
  uint32_t n = static_cast<uint32_t>(buf.size());
  ASSERT_TRUE(d.Read(buf.data(), n));
  ASSERT_EQ(n, buf.size());
  std::vector<int16_t> got(n / 2);
  std::memcpy(got.data(), buf.data(), n);
  // Find where in the reference these samples come from, looking two frames either side.
  const long target = 441000;
  long best = -1;
  int bestDiff = 1 << 30;
  for (long off = target - 2304; off <= target + 2304; ++off) {
    int diff = MaxDiff(got, 0, ref, size_t(off) * 2, 2048);
    if (diff < bestDiff) bestDiff = diff, best = off;
  }
  EXPECT_LE(bestDiff, 4);
  EXPECT_LE(std::abs(best - target), 1152) << "landed at sample " << best;
}

TEST(MPEGDecoder, VbrSeekUsesTheTable) {
  const std::string path = PlaybackFixture("vbr.mp3");
  const auto ref = ReferenceDecode(path);
  TMPEGDecoder d;
  ASSERT_TRUE(d.Open(path, false));
  ASSERT_TRUE(d.FirstFrame().IsXing);
  ASSERT_EQ(d.FirstFrame().VBRFlags & 7, 7u);
  d.Seek(0.5f);
  const auto rest = DecodeAll(d);
  // The table is coarse (1 % of the bytes): the rest of the song is about half of it.
  EXPECT_NEAR(double(rest.size()) / ref.size(), 0.5, 0.03);
}

TEST(MPEGDecoder, HeaderRulesAndFrameLengths) {
  struct Case {
    uint8_t h[4];
    bool valid;
    int length;
    int spf;
  } cases[] = {
      {{0xFF, 0xFB, 0x90, 0x00}, true, 417, 1152},  // MPEG-1 L3 128k 44100
      {{0xFF, 0xFB, 0x92, 0x00}, true, 418, 1152},  // padded
      {{0xFF, 0xF3, 0x80, 0xC0}, true, 208, 576},   // MPEG-2 L3 64k 22050 mono
      {{0xFF, 0xF5, 0xA4, 0x00}, true, 576, 1152},  // MPEG-2 L2 96k 24000: 144, not 72
      {{0xFF, 0xF7, 0x18, 0x00}, true, 96, 384},    // MPEG-2 L1 32k 16000: 4 x 24
      {{0xFF, 0xFF, 0x10, 0x00}, true, 32, 384},    // MPEG-1 L1 32k 44100
      {{0xFF, 0xE3, 0x18, 0x00}, true, 72, 576},    // MPEG-2.5 L3 8k 8000
      {{0xFF, 0xEB, 0x90, 0x00}, false, 0, 0},      // reserved version
      {{0xFF, 0xF9, 0x90, 0x00}, false, 0, 0},      // reserved layer
      {{0xFF, 0xFB, 0x00, 0x00}, false, 0, 0},      // free format
      {{0xFF, 0xFB, 0xF0, 0x00}, false, 0, 0},      // bad bit rate
      {{0xFF, 0xFB, 0x9C, 0x00}, false, 0, 0},      // reserved sample rate
      {{0xFF, 0xFB, 0x90, 0x02}, false, 0, 0},      // reserved emphasis
  };
  for (const auto& c : cases) {
    TMPEGHeaderFields h;
    ASSERT_EQ(ParseMPEGHeader(c.h, h), c.valid) << std::hex << int(c.h[1]) << int(c.h[2]);
    if (!c.valid) continue;
    EXPECT_EQ(h.FrameLength(), c.length) << std::hex << int(c.h[1]) << " " << int(c.h[2]);
    EXPECT_EQ(h.SamplesPerFrame(), c.spf);
  }
}

TEST(MPEGDecoder, OpensHandMadeStreams) {
  TempDir dir;
  struct Case {
    const char* name;
    std::string bytes;
    bool opens;
    uint64_t offset;
    int durationMs;
  };
  std::string xing = Frames(3);
  std::memcpy(xing.data() + 36, "Xing\0\0\0\x01\0\0\x03\xE8", 12);  // flags 1, 1000 frames
  std::string fakeFirst = std::string("\xFF\xFB\x90\x00", 4) + std::string(500, '\x11') + Frames(4);
  std::string oversized = std::string("ID3\x03\x00\x00\x7F\x7F\x7F\x7F", 10) + Frames(3);
  std::string padded = std::string("ID3\x03\x00\x00\x00\x00\x00\x0A", 10) + std::string(10, '\0') +
                       std::string(20000, '\0') + Frames(3);
  std::string cbr = Frames(2398);  // 1 000 000 bytes less a few
  cbr += std::string(1000000 - cbr.size(), '\0');
  const Case cases[] = {
      {"cbr.mp3", cbr, true, 0, 62500},
      {"xing.mp3", xing, true, 0, 26122},
      {"fake-first.mp3", fakeFirst, true, 504, 0},
      {"oversized-tag.mp3", oversized, true, 10, 0},
      {"zero-padding.mp3", padded, true, 20020, 0},
      {"no-frames.mp3", std::string(30000, '\x55'), false, 0, 0},
      {"empty.mp3", "", false, 0, 0},
  };
  for (const auto& c : cases) {
    WriteAll(dir.File(c.name), c.bytes);
    TMPEGDecoder d;
    ASSERT_EQ(d.Open(dir.File(c.name), false), c.opens) << c.name;
    if (!c.opens) continue;
    EXPECT_EQ(d.FirstFrame().Offset, c.offset) << c.name;
    if (c.durationMs) {
      EXPECT_EQ(d.CurrentFormat().DurationMs, c.durationMs) << c.name;
    }
  }
}

// A stream that turns from stereo to mono half-way keeps the channel count it opened with.
TEST(MPEGDecoder, ModeChangeKeepsChannelCount) {
  TempDir dir;
  const std::string src = PlaybackFixtureDir();
  int rc = -1;
  RunCapture("cd '" + dir.Path().string() + "' && sox -q -n -r 44100 -c 2 a.wav synth 1 sine 500 && "
             "lame --quiet -t -b 128 a.wav s.mp3 && lame --quiet -t -m m -b 128 a.wav m.mp3 && "
             "cat s.mp3 m.mp3 > sm.mp3",
             &rc);
  ASSERT_EQ(rc, 0);
  TMPEGDecoder stereo, both;
  ASSERT_TRUE(stereo.Open(dir.File("s.mp3"), false));
  ASSERT_TRUE(both.Open(dir.File("sm.mp3"), false));
  ASSERT_EQ(both.CurrentFormat().Channels(), 2);
  const size_t oneHalf = DecodeAll(stereo).size();
  EXPECT_EQ(DecodeAll(both).size(), oneHalf * 2);
}

TEST(MPEGDecoder, DitherSaturatesWithoutOverflow) {
  TMadDither d;
  for (int i = 0; i < 100; ++i) EXPECT_EQ(d.Apply(0x7FFFFFFF), 32767);
  for (int i = 0; i < 100; ++i) EXPECT_EQ(d.Apply(INT32_MIN), -32768);
  TMadDither z;
  for (int i = 0; i < 1000; ++i) EXPECT_LE(std::abs(z.Apply(0)), 2);
}

// WAV: the data chunk is found wherever it is, every sample size comes out as sox reads it.
TEST(WAVDecoder, MatchesSox) {
  for (const char* name : {"pcm8.wav", "pcm16.wav", "pcm24.wav", "list.wav"}) {
    const std::string path = PlaybackFixture(name);
    TWAVDecoder d;
    ASSERT_TRUE(d.Open(path, false)) << name;
    EXPECT_EQ(d.CurrentFormat().DurationMs, 3000) << name;
    std::string ours;
    std::vector<uint8_t> buf(1000);  // not a multiple of the 6-byte frames of 24-bit stereo
    for (;;) {
      uint32_t n = static_cast<uint32_t>(buf.size());
      bool more = d.Read(buf.data(), n);
      EXPECT_EQ(n % d.CurrentFormat().BlockAlign(), 0u);
      ours.append(reinterpret_cast<char*>(buf.data()), n);
      if (!more) break;
    }
    const int bits = d.CurrentFormat().BitsPerSample;
    const std::string enc = bits == 8 ? "-e unsigned" : "-e signed";
    const std::string ref = RunCapture("sox '" + path + "' -t raw " + enc + " -b " + std::to_string(bits) + " -");
    EXPECT_EQ(ours.size(), ref.size()) << name;
    EXPECT_TRUE(ours == ref) << name;
    EXPECT_EQ(d.GetPositionMs(), 3000);
  }
}

TEST(WAVDecoder, SeekLandsOnASampleFrame) {
  TWAVDecoder d;
  ASSERT_TRUE(d.Open(PlaybackFixture("pcm24.wav"), false));
  const std::string all = ReadAll(PlaybackFixture("pcm24.wav"));
  // Out-of-range fractions are clamped; every landing is on a 6-byte frame of the data.
  for (float f : {0.3333f, 0.0f, 1.0f, 7.0f, -1.0f, 0.123457f}) {
    d.Seek(f);
    const float c = std::min(std::max(f, 0.0f), 1.0f);
    const uint64_t at = uint64_t(std::llround(double(d.DataLength()) * c)) / 6 * 6;
    uint8_t b[6];
    uint32_t n = 6;
    const bool more = d.Read(b, n);
    EXPECT_EQ(more, at < d.DataLength()) << f;
    if (more) {
      EXPECT_EQ(std::memcmp(b, all.data() + d.DataStart() + at, 6), 0) << f;
    }
  }
  d.Seek(0.5f);
  EXPECT_EQ(d.GetPositionMs(), 1500);
  uint8_t b[6];
  uint32_t n = 6;
  ASSERT_TRUE(d.Read(b, n));
  const uint64_t at = d.DataStart() + (d.DataLength() / 2) / 6 * 6;
  EXPECT_EQ(std::memcmp(b, all.data() + at, 6), 0);
}

TEST(WAVDecoder, RejectsBadHeaders) {
  TempDir dir;
  auto wav = [](uint16_t tag, uint16_t ch, uint32_t rate, uint16_t bits, const std::string& extra,
                uint32_t dataSize) {
    std::string s = "RIFF0000WAVE";
    auto le = [&s](uint32_t v, int n) {
      for (int i = 0; i < n; ++i) s += char((v >> (8 * i)) & 0xFF);
    };
    s += "fmt ";
    le(16, 4), le(tag, 2), le(ch, 2), le(rate, 4), le(rate * ch * bits / 8, 4), le(ch * bits / 8, 2), le(bits, 2);
    s += extra;
    s += "data";
    le(dataSize, 4);
    s += std::string(4000, '\x10');
    return s;
  };
  struct Case {
    const char* name;
    std::string bytes;
    bool opens;
    int durationMs;
  } cases[] = {
      {"ok", wav(1, 2, 1000, 16, "", 4000), true, 1000},
      {"float-tag-as-pcm", wav(3, 2, 1000, 16, "", 4000), true, 1000},
      {"streaming-size", wav(1, 1, 1000, 16, "", 0xFFFFFFFF), true, 2000},
      {"cut-short", wav(1, 1, 1000, 16, "", 100000), true, 2000},
      {"odd-chunk", wav(1, 1, 1000, 8, std::string("junk\x03\0\0\0abc\0", 12), 4000), true, 4000},
      {"six-channels", wav(1, 6, 1000, 16, "", 4000), false, 0},
      {"zero-rate", wav(1, 2, 0, 16, "", 4000), false, 0},
      {"12-bit", wav(1, 2, 1000, 12, "", 4000), false, 0},
      {"no-data", std::string("RIFF0000WAVEfmt \x10\0\0\0\x01\0\x01\0\xE8\x03\0\0\xE8\x03\0\0\x01\0\x08\0", 36), false, 0},
      {"short", "RIFF", false, 0},
      {"not-riff", std::string(100, 'x'), false, 0},
  };
  for (const auto& c : cases) {
    WriteAll(dir.File(c.name), c.bytes);
    TWAVDecoder d;
    ASSERT_EQ(d.Open(dir.File(c.name), false), c.opens) << c.name;
    if (c.opens) {
      EXPECT_EQ(d.CurrentFormat().DurationMs, c.durationMs) << c.name;
    }
  }
}
