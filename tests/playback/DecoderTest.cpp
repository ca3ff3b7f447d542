// The decoders judged by independent tools: mpg123 for MPEG audio, sox for WAV; hand-made bytes
// for the header rules and the broken files.
#include "tests/playback/PlaybackFixtures.h"
#include "playback/uMPEGDecoder.h"
#include "playback/uWAVDecoder.h"
#include "media/uTagInfo.h"

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
  // The reported duration is the audio delivered: exact when the frames were counted, within a
  // frame when an encoder's header gave the count.
  const double ms = double(ours.size()) / channels / d.CurrentFormat().SampleRate * 1000;
  EXPECT_NEAR(d.CurrentFormat().DurationMs, ms, d.FirstFrame().InfoFrame() ? 30 : 1);
  EXPECT_NEAR(d.GetPositionMs(), ms, 1);
}

// xingless.mp3 has no frame count to read: the length comes from counting its frames (a first
// frame's bit rate gave 4.4 s for its 12 s). cut.mp3 starts and ends inside frames, and its
// first frames' bit reservoir lies in the part cut away. few.mp3 is a 30 ms sound.
INSTANTIATE_TEST_SUITE_P(Fixtures, MPEGAgainstReference,
                         ::testing::Values("cbr.mp3", "vbr.mp3", "mono.mp3", "mpeg2.mp3", "layer2.mp2",
                                           "mpeg2l2.mp2", "id3big.mp3", "xingless.mp3", "cut.mp3", "tagged.mp3",
                                           "few.mp3"));

// The first sample after a seek is the one the position names, in every kind of stream: a VBR
// stream with or without a "Xing" table, a CBR one, one behind a 500 KB picture.
TEST(MPEGDecoder, SeekLandsOnTheSample) {
  for (const char* name : {"vbr.mp3", "xingless.mp3", "cbr.mp3", "id3big.mp3"}) {
    SCOPED_TRACE(name);
    const std::string path = PlaybackFixture(name);
    int channels = 0;
    const auto ref = ReferenceDecode(path, &channels);
    TMPEGDecoder d;
    ASSERT_TRUE(d.Open(path, false));
    for (int targetMs : {10000, 3217, 50}) {
      d.Seek(float(double(targetMs) / d.CurrentFormat().DurationMs));
      const int32_t at = d.GetPositionMs();
      EXPECT_NEAR(at, targetMs, 1);
      std::vector<uint8_t> buf(4096 * 4);
      uint32_t n = static_cast<uint32_t>(buf.size());
      ASSERT_TRUE(d.Read(buf.data(), n));
      ASSERT_EQ(n, buf.size());
      std::vector<int16_t> got(n / 2);
      std::memcpy(got.data(), buf.data(), n);
      // Where in the reference these samples come from, looking two frames either side of the
      // sample the position names.
      const long target = long(int64_t(at) * d.CurrentFormat().SampleRate / 1000);
      long best = -1;
      int bestDiff = 1 << 30;
      for (long off = std::max(0L, target - 2304); off <= target + 2304; ++off) {
        const int diff = MaxDiff(got, 0, ref, size_t(off) * channels, 1024);
        if (diff < bestDiff) bestDiff = diff, best = off;
      }
      EXPECT_LE(bestDiff, 4);
      EXPECT_LE(std::abs(best - target), d.CurrentFormat().SampleRate / 1000) << "landed at sample " << best;
    }
  }
}

// A stream of a single frame is still MPEG audio: it opens and gives that frame, as the stream
// it was cut from decodes it.
TEST(MPEGDecoder, SingleFrame) {
  const auto ref = ReferenceDecode(PlaybackFixture("few.mp3"));
  TMPEGDecoder d;
  ASSERT_TRUE(d.Open(PlaybackFixture("one.mp3"), false));
  EXPECT_EQ(d.CurrentFormat().DurationMs, 26);
  const auto ours = DecodeAll(d);
  ASSERT_EQ(ours.size(), 2304u);
  EXPECT_LE(MaxDiff(ours, 0, ref, 0, ours.size()), 4);
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
  const std::string tag = "TAG" + std::string(125, 'x');
  const Case cases[] = {
      // The frames are counted: 2398 x 1152 samples, the zeros after them are no audio.
      {"cbr.mp3", cbr, true, 0, 62642},
      {"xing.mp3", xing, true, 0, 26122},
      // A stream too short for a second header: one frame, or one before a trailing tag.
      {"one-frame.mp3", Frames(1), true, 0, 26},
      {"one-frame-tagged.mp3", Frames(1) + tag, true, 0, 26},
      {"frame-and-junk.mp3", Frames(1) + std::string(10, '\x55'), false, 0, 0},
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
  TPcmDither d;
  for (int i = 0; i < 100; ++i) EXPECT_EQ(d.Apply(0x7FFFFFFF), 32767);
  for (int i = 0; i < 100; ++i) EXPECT_EQ(d.Apply(INT32_MIN), -32768);
  TPcmDither z;
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
  auto le = [](std::string& s, uint32_t v, int n) {
    for (int i = 0; i < n; ++i) s += char((v >> (8 * i)) & 0xFF);
  };
  // fmtExtra: bytes of the "fmt " chunk after its 16 (the extensible format's extension).
  auto wav = [&](uint16_t tag, uint16_t ch, uint32_t rate, uint16_t bits, const std::string& extra, uint32_t dataSize,
                 const std::string& fmtExtra = "") {
    std::string s = "RIFF0000WAVEfmt ";
    le(s, uint32_t(16 + fmtExtra.size()), 4);
    le(s, tag, 2), le(s, ch, 2), le(s, rate, 4), le(s, rate * ch * bits / 8, 4), le(s, ch * bits / 8, 2), le(s, bits, 2);
    s += fmtExtra + extra + "data";
    le(s, dataSize, 4);
    return s + std::string(4000, '\0');
  };
  auto extension = [&](uint16_t subFormat) {
    std::string x;
    le(x, 22, 2), le(x, 32, 2), le(x, 3, 4), le(x, subFormat, 2);
    return x + std::string("\x00\x00\x00\x00\x10\x00\x80\x00\x00\xAA\x00\x38\x9B\x71", 14);
  };
  struct Case {
    const char* name;
    std::string bytes;
    bool opens;
    int durationMs;
    const char* says;  // in OpenError: a WAV file this decoder will not play says why
  } cases[] = {
      {"ok", wav(1, 2, 1000, 16, "", 4000), true, 1000, ""},
      {"extensible-float", wav(0xFFFE, 2, 1000, 32, "", 4000, extension(3)), true, 500, ""},
      {"extensible-unknown", wav(0xFFFE, 2, 1000, 32, "", 4000, extension(0x55)), false, 0, "MPEG Layer III"},
      {"float-16-bit", wav(3, 2, 1000, 16, "", 4000), false, 0, "IEEE float"},
      {"adpcm", wav(0x11, 1, 1000, 4, "", 4000), false, 0, "IMA ADPCM"},
      {"a-law-16-bit", wav(6, 1, 1000, 16, "", 4000), false, 0, "A-law"},
      {"streaming-size", wav(1, 1, 1000, 16, "", 0xFFFFFFFF), true, 2000, ""},
      {"cut-short", wav(1, 1, 1000, 16, "", 100000), true, 2000, ""},
      {"odd-chunk", wav(1, 1, 1000, 8, std::string("junk\x03\0\0\0abc\0", 12), 4000), true, 4000, ""},
      {"six-channels", wav(1, 6, 1000, 16, "", 4000), false, 0, "6 channels"},
      {"zero-rate", wav(1, 2, 0, 16, "", 4000), false, 0, "0 Hz"},
      {"12-bit", wav(1, 2, 1000, 12, "", 4000), false, 0, "12-bit"},
      {"no-data", std::string("RIFF0000WAVEfmt \x10\0\0\0\x01\0\x01\0\xE8\x03\0\0\xE8\x03\0\0\x01\0\x08\0", 36), false, 0, ""},
      {"short", "RIFF", false, 0, ""},
      {"not-riff", std::string(100, 'x'), false, 0, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    WriteAll(dir.File(c.name), c.bytes);
    TWAVDecoder d;
    ASSERT_EQ(d.Open(dir.File(c.name), false), c.opens);
    if (c.opens) {
      EXPECT_EQ(d.CurrentFormat().DurationMs, c.durationMs);
    }
    if (*c.says) {
      EXPECT_NE(d.OpenError().find(c.says), std::string::npos) << d.OpenError();
    } else {
      EXPECT_EQ(d.OpenError(), "");
    }
  }
}

// Float and G.711 files play as 16-bit PCM: A-law and mu-law exactly as sox expands them, float
// within the dither's few LSB of sox's plain rounding. The bit rate and length are the file's
// own, as the tag reader gives them.
TEST(WAVDecoder, ConvertsFloatAndCompandedCodings) {
  struct Case {
    const char* name;
    int maxDiff;
    int kbps;
  } cases[] = {{"float32.wav", 4, 2822}, {"float64.wav", 4, 5645}, {"alaw.wav", 0, 128}, {"mulaw.wav", 0, 128}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = PlaybackFixture(c.name);
    TWAVDecoder d;
    ASSERT_TRUE(d.Open(path, false)) << d.OpenError();
    EXPECT_EQ(d.CurrentFormat().BitsPerSample, 16);
    EXPECT_EQ(d.CurrentFormat().DurationMs, 3000);
    EXPECT_EQ(d.BitRateKbps(), c.kbps);
    const auto ours = DecodeAll(d);
    const auto ref = AsSamples(RunCapture("sox -D '" + path + "' -t raw -e signed -b 16 -"));
    ASSERT_EQ(ours.size(), ref.size());
    EXPECT_LE(MaxDiff(ours, 0, ref, 0, ref.size()), c.maxDiff);
  }
  TWAVDecoder d;
  EXPECT_FALSE(d.Open(PlaybackFixture("adpcm.wav"), false));
  EXPECT_NE(d.OpenError().find("IMA ADPCM"), std::string::npos) << d.OpenError();
}

// The tag reader and the decoder give one answer for a file's length and bit rate: what the
// library shows and what the player shows do not differ (a WAV file's bit rate, an ID3v1 tag
// after a CBR stream, a VBR stream without a frame count).
TEST(TagsAndDecoders, AgreeOnLengthAndBitRate) {
  for (const char* name : {"pcm16.wav", "float32.wav", "mulaw.wav", "tagged.mp3", "cbr.mp3", "vbr.mp3",
                           "xingless.mp3", "cut.mp3", "few.mp3", "one.mp3", "mpeg2l2.mp2"}) {
    SCOPED_TRACE(name);
    const std::string path = PlaybackFixture(name);
    TMediaInfo tags;
    ASSERT_TRUE(ReadMediaInfo(path, tags));
    std::unique_ptr<TDecoderModule> d;
    if (std::string(name).find(".wav") != std::string::npos)
      d = std::make_unique<TWAVDecoder>();
    else
      d = std::make_unique<TMPEGDecoder>();
    ASSERT_TRUE(d->Open(path, false));
    EXPECT_EQ(tags.Duration, d->CurrentFormat().DurationMs);
    EXPECT_EQ(tags.Bitrate, d->BitRateKbps());
    EXPECT_GT(tags.Bitrate, 0);
  }
}
