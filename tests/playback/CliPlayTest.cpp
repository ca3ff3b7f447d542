// minilirra-cli play and demo as a user runs them, judged by the reference decoder.
#include "tests/playback/PlaybackFixtures.h"
#include "base/ByteOrder.h"
#include "playback/uWAVDecoder.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace mltest;

namespace {

std::string Cli(const std::string& args, int* rc, const std::string& env = "") {
  return RunCapture(env + " '" + BinDir() + "/minilirra-cli' " + args + " 2>&1", rc);
}

std::vector<int16_t> WavSamples(const std::string& path) {
  ml::TWAVDecoder d;
  if (!d.Open(path, false)) return {};
  const std::string all = ReadAll(path);
  return AsSamples(all.substr(d.DataStart(), d.DataLength()));
}

// Environment with no sound server and an ALSA default that cannot open.
const std::string kNoDevices = "PULSE_SERVER=unix:/nonexistent/socket ALSA_CONFIG_PATH=/dev/null";

}  // namespace

TEST(CliPlay, WavOutputHoldsTheReferenceDecode) {
  TempDir dir;
  int rc = -1;
  const std::string out = Cli("play '" + PlaybackFixture("vbr.mp3") + "' --output wav:'" + dir.File("o.wav") + "'", &rc);
  ASSERT_EQ(rc, 0) << out;
  EXPECT_NE(out.find("finished 00:12"), std::string::npos) << out;
  const auto ours = WavSamples(dir.File("o.wav"));
  const auto ref = ReferenceDecode(PlaybackFixture("vbr.mp3"));
  ASSERT_EQ(ours.size(), ref.size());
  int worst = 0;
  for (size_t i = 0; i < ref.size(); ++i) worst = std::max(worst, std::abs(int(ours[i]) - int(ref[i])));
  EXPECT_LE(worst, 4);
}

// After --seek 10000 past a 500 KB picture the first sample written is the one at 10.000 s.
TEST(CliPlay, SeekPastALargeTag) {
  TempDir dir;
  int rc = -1;
  const std::string out = Cli("play '" + PlaybackFixture("id3big.mp3") + "' --seek 10000 --output wav:'" +
                                  dir.File("o.wav") + "'",
                              &rc);
  ASSERT_EQ(rc, 0) << out;
  const auto ours = WavSamples(dir.File("o.wav"));
  const auto ref = ReferenceDecode(PlaybackFixture("id3big.mp3"));
  ASSERT_GT(ours.size(), 4096u);
  long best = -1;
  int bestDiff = 1 << 30;
  for (long off = 441000 - 2304; off <= 441000 + 2304; ++off) {
    int diff = 0;
    for (size_t i = 0; i < 4096 && diff < bestDiff; ++i) diff = std::max(diff, std::abs(int(ours[i]) - int(ref[size_t(off) * 2 + i])));
    if (diff < bestDiff) bestDiff = diff, best = off;
  }
  EXPECT_LE(bestDiff, 4);
  EXPECT_LE(std::abs(best - 441000), 1152) << "first sample is the reference's " << best;
  // And the rest of the song follows to its end.
  EXPECT_NEAR(double(ours.size()) / 2, double(ref.size()) / 2 - best, 1152);
}

TEST(CliPlay, Failures) {
  TempDir dir;
  WriteAll(dir.File("text.mp3"), std::string(3000, 'a'));
  struct Case {
    std::string args;
    int rc;
    const char* says;
  } cases[] = {
      {"play '" + dir.File("text.mp3") + "' --output null", 1, "not an audio file"},
      {"play '" + dir.File("missing.mp3") + "' --output null", 1, "no such file"},
      {"play '" + PlaybackFixture("mono.mp3") + "' --seek 99000 --output null", 1, "cannot seek"},
      {"play '" + PlaybackFixture("mono.mp3") + "' --output oss", 2, "--output: takes"},
      // An output that cannot take the song is a failure that says why, never "finished".
      {"play '" + PlaybackFixture("mono.mp3") + "' --output wav:/no/such/dir/x.wav", 1,
       "cannot create a file beside /no/such/dir/x.wav: No such file or directory"},
      {"play '" + PlaybackFixture("mono.mp3") + "' --output wav:'" + dir.Path().string() + "'", 1, "Is a directory"},
      {"play '" + PlaybackFixture("mono.mp3") + "' --output alsa", 1, "cannot open ALSA PCM \"default\""},
      {"play '" + PlaybackFixture("mono.mp3") + "' --output alsa:no-such-pcm", 1, "cannot open ALSA PCM"},
      {"play '" + PlaybackFixture("mono.mp3") + "' --output pulse", 1, "cannot connect to the PulseAudio server"},
      {"play '" + PlaybackFixture("mono.mp3") + "' --output pulse:nosink", 1, "cannot play"},
      {"play '" + PlaybackFixture("adpcm.wav") + "' --output null", 1, "IMA ADPCM"},
      {"play '" + PlaybackFixture("mono.mp3") + "' --volume 300", 2, "--volume"},
      {"play", 2, "usage"},
  };
  for (const auto& c : cases) {
    int rc = -1;
    const std::string out = Cli(c.args, &rc, kNoDevices);
    EXPECT_EQ(rc, c.rc) << c.args << "\n" << out;
    EXPECT_NE(out.find(c.says), std::string::npos) << c.args << "\n" << out;
    EXPECT_EQ(out.find("finished"), std::string::npos) << c.args << "\n" << out;
  }
}

// "wav:-" writes the song to standard output, and says everything else on standard error: into
// a file the header gets its sizes, into a pipe it says "to the end". A reader that goes away
// is a failed write.
TEST(CliPlay, WavToStandardOutput) {
  TempDir dir;
  const std::string song = PlaybackFixture("pcm16.wav");
  int rc = -1;
  const std::string cli = "'" + BinDir() + "/minilirra-cli' play '" + song + "' --output wav:-";
  RunCapture(cli + " >'" + dir.File("file.wav") + "' 2>/dev/null", &rc);
  ASSERT_EQ(rc, 0);
  RunCapture(cli + " 2>/dev/null | cat >'" + dir.File("piped.wav") + "'", &rc);
  ASSERT_EQ(rc, 0);
  const auto want = WavSamples(song);
  for (const char* name : {"file.wav", "piped.wav"}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(WavSamples(dir.File(name)), want);
    // sox, which trusts the sizes of a file it can seek in, reads the same.
    EXPECT_EQ(AsSamples(RunCapture("sox -V1 '" + dir.File(name) + "' -t raw -")), want);
  }
  EXPECT_EQ(ml::LoadLE32(ReadAll(dir.File("file.wav")).data() + 40), want.size() * 2);  // the data size
  RunCapture("{ " + cli + " 2>'" + dir.File("err") + "'; echo $? >'" + dir.File("rc") + "'; } | head -c 100 >/dev/null");
  EXPECT_EQ(ReadAll(dir.File("rc")), "1\n");
  EXPECT_NE(ReadAll(dir.File("err")).find("cannot write WAV to standard output: Broken pipe"), std::string::npos)
      << ReadAll(dir.File("err"));
}

// Without any sound device the song plays to the null output, in its own time, and ends.
TEST(CliPlay, NoDeviceFallsBackToNull) {
  TempDir dir;
  RunCapture("sox -q -n -r 8000 -c 1 -b 16 '" + dir.File("short.wav") + "' synth 0.5 sine 300");
  int rc = -1;
  const std::string out = Cli("play '" + dir.File("short.wav") + "'", &rc, kNoDevices);
  EXPECT_EQ(rc, 0) << out;
  EXPECT_NE(out.find("null output"), std::string::npos) << out;
  EXPECT_NE(out.find("finished"), std::string::npos) << out;
}

TEST(CliDemo, SavesAndPlaysTheTune) {
  TempDir dir;
  int rc = -1;
  const std::string out = Cli("--data-dir '" + dir.Path().string() + "' demo --output wav:'" + dir.File("heard.wav") + "'", &rc);
  ASSERT_EQ(rc, 0) << out;
  ml::TWAVDecoder d;
  ASSERT_TRUE(d.Open(dir.File("Demo/demo.wav"), false));
  EXPECT_GE(d.CurrentFormat().DurationMs, 5000);
  EXPECT_LE(d.CurrentFormat().DurationMs, 8000);
  // What was played is the saved tune, sample for sample, and it is neither silent nor clipped.
  const auto saved = WavSamples(dir.File("Demo/demo.wav"));
  EXPECT_EQ(WavSamples(dir.File("heard.wav")), saved);
  int peak = 0;
  for (int16_t s : saved) peak = std::max(peak, std::abs(int(s)));
  EXPECT_GT(peak, 4000);
  EXPECT_LT(peak, 32000);
}
