// The output family on this machine's real interfaces: the ring buffer arithmetic, the WAV-file
// output, ALSA through its "null" PCM, and PulseAudio through a private server with a null sink
// that the test starts and stops itself.
#include "tests/playback/PlaybackFixtures.h"
#include "base/EventLoop.h"
#include "playback/uCircleBuffer.h"
#include "playback/uDSoundOutput.h"
#include "playback/uOutputModuleFactory.h"
#include "playback/uNullOutput.h"
#include "playback/uPlayer.h"
#include "playback/uSoundDeviceEnum.h"
#include "playback/uWAVDecoder.h"
#include "playback/uWaveOutput.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <thread>

using namespace ml;
using namespace mltest;
using namespace std::chrono_literals;

TEST(CircleBuffer, CapacityTenHoldsNine) {
  TCircleBuffer b(10);
  EXPECT_EQ(b.FreeSpace(), 10u);
  EXPECT_FALSE(b.Write("0123456789", 10));  // an empty ring reports 10 free but takes at most 9
  EXPECT_TRUE(b.Write("012345678", 9));
  EXPECT_EQ(b.FreeSpace(), 0u);
  EXPECT_FALSE(b.Write("x", 1));  // full: dropped
  char out[16] = {};
  uint32_t n = 5;
  EXPECT_TRUE(b.Read(out, n));
  EXPECT_EQ(std::string(out, n), "01234");
  EXPECT_TRUE(b.Write("abcd", 4));  // wraps
  n = 8;
  EXPECT_TRUE(b.Read(out, n));
  EXPECT_EQ(std::string(out, n), "5678abcd");
}

TEST(CircleBuffer, ReaderSeesTheEndOfTheStream) {
  TCircleBuffer b(64);
  char out[32];
  uint32_t n = 8;
  b.SetFinished(true);
  EXPECT_FALSE(b.Read(out, n));  // finished and empty: false at once, nothing read
  EXPECT_EQ(n, 0u);

  TCircleBuffer c(64);
  std::thread writer([&] {
    c.Write("hello", 5);
    c.Write(" world", 6);
    c.SetFinished(true);
  });
  n = 32;
  EXPECT_FALSE(c.Read(out, n));  // the stream ended before 32 bytes came
  writer.join();
  EXPECT_EQ(std::string(out, n), "hello world");
  EXPECT_FALSE(c.Write("late", 4));  // nothing is taken after the end
}

TEST(RingOutput, FreeSpaceSteps) {
  struct Case {
    uint32_t free, cut;
  } cases[] = {{0x4000, 0x4000}, {0x8000, 0x4000}, {0x18000, 0x18000}, {0x10000, 0x10000}, {0x800, 0x800}};
  for (const auto& c : cases) EXPECT_EQ(TRingOutput::CutFreeSpace(c.free), c.cut) << std::hex << c.free;
}

namespace {
// The software volume of the sound card output, reached through a null device.
class TVolumeProbe : public TNullOutput {
public:
  void Apply(std::vector<int16_t>& frames, int volume, int balance) {
    Format.Channels = 2;
    Format.BitsPerSample = 16;
    Volume_ = volume;
    Balance_ = balance;
    ApplySoftwareVolume(reinterpret_cast<uint8_t*>(frames.data()), uint32_t(frames.size() * 2));
  }
};
}  // namespace

// Balance takes the far side down to silence, the volume scales both.
TEST(RingOutput, SoftwareVolumeAndBalance) {
  struct Case {
    int volume, balance;
    int16_t left, right;
  } cases[] = {{100, 50, 10000, -10000}, {50, 50, 5000, -5000}, {100, 0, 10000, 0},
               {100, 100, 0, -10000},   {100, 25, 10000, -5000}, {0, 50, 0, 0}};
  for (const auto& c : cases) {
    TVolumeProbe out;
    std::vector<int16_t> frames{10000, -10000, 10000, -10000};
    out.Apply(frames, c.volume, c.balance);
    EXPECT_EQ(frames[2], c.left) << c.volume << "/" << c.balance;
    EXPECT_EQ(frames[3], c.right) << c.volume << "/" << c.balance;
  }
}

TEST(OutputTarget, Parse) {
  struct Case {
    const char* text;
    bool ok;
    TOutputKind kind;
    const char* device;
  } cases[] = {{"alsa", true, TOutputKind::Alsa, ""},       {"alsa:hw:0,0", true, TOutputKind::Alsa, "hw:0,0"},
               {"pulse:sink1", true, TOutputKind::Pulse, "sink1"}, {"wav:/tmp/a b.wav", true, TOutputKind::WavFile, "/tmp/a b.wav"},
               {"null", true, TOutputKind::Null, ""},        {"wav", false, TOutputKind::Null, ""},
               {"null:x", false, TOutputKind::Null, ""},     {"oss", false, TOutputKind::Null, ""}};
  for (const auto& c : cases) {
    TOutputTarget s;
    ASSERT_EQ(ParseOutputTarget(c.text, s), c.ok) << c.text;
    if (!c.ok) continue;
    EXPECT_EQ(s.Kind, c.kind) << c.text;
    EXPECT_EQ(s.Device, c.device) << c.text;
  }
}

namespace {

// Plays a file through a real player on the given output; returns the events seen.
std::vector<std::string> PlayThrough(const std::string& file, const TOutputTarget& target, int volume = 100) {
  EventLoop loop;
  TPlayer player(&loop);
  player.SetOutputTarget(target);
  player.SetVolume(volume);
  std::vector<std::string> events;
  player.OnPlayerStateChange = [&](TPlayerModule& p, TPlayerState s, TPlayerState) {
    events.push_back("state " + std::to_string(int(s)));
    if (s == psOpen) p.Play(0);
  };
  player.OnFileFinishPlay = [&](TPlayerModule&) { events.push_back("end"); };
  player.OnOpenFileError = [&](TPlayerModule&) { events.push_back("open error"); };
  EXPECT_TRUE(player.OpenFile(file, false));
  loop.WaitPumping([&] { return !events.empty() && (events.back() == "end" || events.back() == "open error"); }, 30s);
  player.Stop();
  loop.WaitPumping([&] { return events.back() == "state 2"; }, 10s);
  return events;
}

const std::vector<std::string> kWholeSong{"state 4", "state 1", "end", "state 2"};

}  // namespace

// What reaches a WAV file is exactly what the engine sent: here the decoder's PCM untouched.
TEST(WavFileOutput, WritesWhatTheEngineSent) {
  TempDir dir;
  for (const char* name : {"pcm8.wav", "pcm24.wav", "list.wav"}) {
    const std::string out = dir.File(std::string("out-") + name);
    EXPECT_EQ(PlayThrough(PlaybackFixture(name), {TOutputKind::WavFile, out}), kWholeSong) << name;
    TWAVDecoder in, back;
    ASSERT_TRUE(in.Open(PlaybackFixture(name), false));
    ASSERT_TRUE(back.Open(out, false)) << name;
    EXPECT_EQ(back.CurrentFormat().BitsPerSample, in.CurrentFormat().BitsPerSample);
    EXPECT_EQ(back.DataLength(), in.DataLength());
    const std::string a = ReadAll(PlaybackFixture(name)), b = ReadAll(out);
    EXPECT_TRUE(a.compare(in.DataStart(), in.DataLength(), b, back.DataStart(), back.DataLength()) == 0) << name;
  }
  // No temporary files are left beside the output.
  int files = 0;
  for (auto& e : std::filesystem::directory_iterator(dir.Path())) files += e.path().filename().string().find(".wav.") != std::string::npos;
  EXPECT_EQ(files, 0);
}

TEST(WavFileOutput, UnwritableFolderEndsTheSong) {
  EXPECT_EQ(PlayThrough(PlaybackFixture("pcm8.wav"), {TOutputKind::WavFile, "/nonexistent-dir/x.wav"}), kWholeSong);
}

TEST(AlsaOutput, PlaysToTheNullDevice) {
  const auto pcms = EnumerateAlsaPcms();
  const bool haveNull = std::any_of(pcms.begin(), pcms.end(), [](auto& p) { return p.Name == "null"; });
  ASSERT_TRUE(haveNull) << "ALSA lists no \"null\" PCM";
  EXPECT_TRUE(TOutputModuleFactory::Probe({TOutputKind::Alsa, "null"}));
  EXPECT_EQ(PlayThrough(PlaybackFixture("mono.mp3"), {TOutputKind::Alsa, "null"}, 40), kWholeSong);
  EXPECT_EQ(PlayThrough(PlaybackFixture("pcm24.wav"), {TOutputKind::Alsa, "null"}), kWholeSong);
  // A PCM that does not exist: no device, and the song still ends.
  EXPECT_FALSE(TOutputModuleFactory::Probe({TOutputKind::Alsa, "no-such-pcm"}));
  EXPECT_EQ(PlayThrough(PlaybackFixture("pcm8.wav"), {TOutputKind::Alsa, "no-such-pcm"}), kWholeSong);
}

// A private PulseAudio server with one null sink, on a socket in a temp folder.
class PulseServer : public ::testing::Test {
protected:
  void SetUp() override {
    int rc = -1;
    RunCapture("command -v pulseaudio", &rc);
    if (rc != 0) GTEST_SKIP() << "pulseaudio (the server) is not installed";
    socket_ = dir_.File("native");
    // A simple command in the background, with its own redirections, so that $! is the server and
    // nothing holds the capture pipe open.
    const std::string cmd = "HOME='" + dir_.Path().string() +
                            "' XDG_RUNTIME_DIR='" + dir_.Path().string() +
                            "' timeout 120 pulseaudio -n --daemonize=no --exit-idle-time=-1 --disable-shm=yes "
                            "--use-pid-file=no --log-target=stderr "
                            "-L 'module-null-sink sink_name=testsink sink_properties=device.description=TestSink' "
                            "-L 'module-native-protocol-unix socket=" + socket_ + " auth-anonymous=1' "
                            ">'" + dir_.File("pulse.log") + "' 2>&1 </dev/null & echo $!";
    pid_ = std::atoi(RunCapture(cmd).c_str());
    ASSERT_GT(pid_, 0);
    // The server takes a moment to come up; look for its socket.
    for (int i = 0; i < 200 && !std::filesystem::exists(socket_); ++i) std::this_thread::sleep_for(25ms);
    ASSERT_TRUE(std::filesystem::exists(socket_)) << ReadAll(dir_.File("pulse.log"));
    const char* old = std::getenv("PULSE_SERVER");
    if (old) oldServer_ = old;
    setenv("PULSE_SERVER", ("unix:" + socket_).c_str(), 1);
  }
  void TearDown() override {
    if (oldServer_.empty())
      unsetenv("PULSE_SERVER");
    else
      setenv("PULSE_SERVER", oldServer_.c_str(), 1);
    if (pid_ > 0) ::kill(pid_, SIGTERM);
  }

  TempDir dir_;
  std::string socket_, oldServer_;
  int pid_ = 0;
};

TEST_F(PulseServer, ListsSinksAndPlaysToTheEnd) {
  const auto sinks = EnumeratePulseSinks();
  ASSERT_EQ(sinks.size(), 2u);
  EXPECT_EQ(sinks[0].Id, "");  // the default comes first
  EXPECT_EQ(sinks[1].Id, "testsink");
  EXPECT_EQ(sinks[1].Description, "TestSink");
  // The sink plays in real time: a 1-second file takes about a second.
  TempDir d;
  RunCapture("sox -q -n -r 22050 -c 2 -b 16 '" + d.File("one.wav") + "' synth 1 sine 440");
  const auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(PlayThrough(d.File("one.wav"), {TOutputKind::Pulse, "testsink"}, 50), kWholeSong);
  const auto took = std::chrono::steady_clock::now() - t0;
  EXPECT_GT(took, 600ms);
  EXPECT_LT(took, 5s);
  EXPECT_EQ(PlayThrough(d.File("one.wav"), {TOutputKind::Pulse, "no-such-sink"}), kWholeSong);
}

TEST(PulseOutput, NoServerStillEnds) {
  TempDir d;
  const char* old = std::getenv("PULSE_SERVER");
  const std::string saved = old ? old : "";
  setenv("PULSE_SERVER", ("unix:" + d.File("nobody-here")).c_str(), 1);
  EXPECT_FALSE(TOutputModuleFactory::Probe({TOutputKind::Pulse, ""}));
  EXPECT_EQ(PlayThrough(PlaybackFixture("mono.mp3"), {TOutputKind::Pulse, ""}), kWholeSong);
  EXPECT_EQ(EnumeratePulseSinks().size(), 1u);
  if (old)
    setenv("PULSE_SERVER", saved.c_str(), 1);
  else
    unsetenv("PULSE_SERVER");
}
