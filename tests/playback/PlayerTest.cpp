// The player and its engine driven headless: a manual dispatcher loop on the main thread and a
// fake output whose clock only moves when the test says so. Waits are for the engine's posted
// events, never for wall-clock time.
#include "base/ByteOrder.h"
#include "base/EventLoop.h"
#include "media/RiffWave.h"
#include "playback/DecoderRegistry.h"
#include "playback/uPlayer.h"
#include "tests/playback/PlaybackFixtures.h"
#include "tests/support/ArrivingFile.h"
#include "tests/support/FakeOutput.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <future>
#include <limits>
#include <thread>

using namespace ml;
using namespace mltest;
using namespace std::chrono_literals;

namespace {

class TNegate : public TEffectStage {
public:
  void Process(uint8_t* block, uint32_t& length, uint32_t, int, int, int bits) override {
    ASSERT_EQ(bits, 16);
    for (uint32_t i = 0; i + 2 <= length; i += 2) {
      int16_t s;
      std::memcpy(&s, block + i, 2);
      s = int16_t(-s);
      std::memcpy(block + i, &s, 2);
    }
  }
};

// The test's main loop, counting what the engine posts to it: a reply can be left waiting in
// the queue while the test asks for something else.
class TCountingLoop : public ManualLoop {
public:
  void Post(std::function<void()> fn) override {
    ++Posts;
    ManualLoop::Post(std::move(fn));
  }
  // Waits, without running them, until so many posts have come.
  bool WaitPosts(int count) {
    for (int i = 0; i < 10000 && Posts < count; ++i) std::this_thread::sleep_for(1ms);
    return Posts >= count;
  }
  std::atomic<int> Posts{0};
};

class PlayerTest : public ::testing::Test {
protected:
  void SetUp() override {
    player = std::make_unique<TPlayer>(&loop, [this](const TOutputTarget&) {
      auto out = std::make_unique<TFakeOutput>();
      out->FailOpen = failOpen;
      out->Capture = true;
      fake = out.get();
      return out;
    });
    player->OnPlayerStateChange = [this](TPlayerModule&, TPlayerState cur, TPlayerState) {
      events.push_back("state " + std::to_string(int(cur)));
    };
    player->OnFileFinishPlay = [this](TPlayerModule&) { events.push_back("end"); };
    player->OnOpenFileError = [this](TPlayerModule&) { events.push_back("open error"); };
    player->OnPlayError = [this](TPlayerModule&) { events.push_back("play error"); };
    player->SetOutputTarget({TOutputKind::Null, "fake"});
  }

  bool WaitFor(const std::string& event) {
    return loop.WaitPumping([&] { return !events.empty() && events.back() == event; }, 10s);
  }
  // Waits until the engine has filled the fake device's ring and stopped for room.
  bool WaitWritten(uint64_t bytes) {
    return loop.WaitPumping([&] { return fake->BytesWritten >= bytes; }, 10s);
  }
  // Returns once the engine has acted on everything asked of it so far.
  void Settle() {
    bool done = false;
    player->Sync([&] { done = true; });
    ASSERT_TRUE(loop.WaitPumping([&] { return done; }, 10s));
  }
  // The device plays for that long, a tick at a time, the engine refilling as a device's timer
  // would have it do.
  void PlayFor(std::chrono::milliseconds ms) {
    for (auto t = 0ms; t < ms; t += 20ms) {
      fake->Advance(std::min<std::chrono::milliseconds>(20ms, ms - t));
      Settle();
    }
  }
  // Opens the song and plays until the device's ring is full; the last frame queued, (left, right).
  std::pair<int16_t, int16_t> LastFrameQueued(const std::string& wav) {
    events.clear();
    Open(wav);
    EXPECT_TRUE(WaitFor("state 4"));
    const uint64_t before = fake->BytesWritten;  // the same device serves every song
    player->Play(0);
    EXPECT_TRUE(WaitWritten(before + fake->QueueBytes()));
    Settle();
    const std::string pcm = fake->Captured();
    EXPECT_EQ(pcm.size(), before + fake->QueueBytes());
    int16_t l = 0, r = 0;
    if (pcm.size() < 4) return {l, r};
    std::memcpy(&l, pcm.data() + pcm.size() - 4, 2);
    std::memcpy(&r, pcm.data() + pcm.size() - 2, 2);
    return {l, r};
  }
  std::string Open(const std::string& bytes, const std::string& name = "song.wav") {
    WriteAll(dir.File(name), bytes);
    EXPECT_TRUE(player->OpenFile(dir.File(name), false));
    return dir.File(name);
  }

  TempDir dir;
  TCountingLoop loop;
  bool failOpen = false;
  TFakeOutput* fake = nullptr;
  std::unique_ptr<TPlayer> player;
  std::vector<std::string> events;
};

}  // namespace

// 3 s of 44.1 kHz stereo: 529 200 bytes, four rings' worth.
TEST_F(PlayerTest, EventsInOrderThroughTheWholeSong) {
  Open(MakeWav(3, 44100, 2, 100, -100));
  ASSERT_TRUE(WaitFor("state 4"));
  EXPECT_EQ(player->GetDurationMs(), 3000);
  EXPECT_EQ(player->MediaTagInfo().Channels, 2);
  EXPECT_EQ(player->MediaTagInfo().Format, "WAV");
  player->Play(0);
  ASSERT_TRUE(WaitFor("state 1"));
  const uint64_t queue = fake->QueueBytes();
  EXPECT_EQ(queue, 14112u);  // 80 ms
  ASSERT_TRUE(WaitWritten(queue));
  Settle();
  EXPECT_EQ(fake->BytesWritten, queue);  // full, and waiting for the device
  EXPECT_FALSE(fake->Paused);

  player->Pause();
  ASSERT_TRUE(WaitFor("state 3"));
  EXPECT_TRUE(fake->Paused);
  const int32_t pausedAt = player->GetPositionMs();
  fake->Advance(500ms);  // a paused device plays nothing
  player->Resume();
  ASSERT_TRUE(WaitFor("state 1"));
  EXPECT_EQ(player->GetPositionMs(), pausedAt);

  // Play it out: each step plays 200 ms and the engine refills what was played.
  for (int i = 0; i < 40 && events.back() != "end"; ++i) {
    fake->Advance(200ms);
    Settle();
    // Never more queued than the queue holds.
    EXPECT_LE(fake->BytesWritten, queue + (i + 1) * 35280u);
  }
  ASSERT_TRUE(WaitFor("end"));
  EXPECT_EQ(fake->BytesWritten, 529200u);
  EXPECT_EQ(player->GetPositionMs(), 3000);
  EXPECT_EQ(events, (std::vector<std::string>{"state 4", "state 1", "state 3", "state 1", "end"}));

  player->Stop();
  ASSERT_TRUE(WaitFor("state 2"));
  EXPECT_FALSE(fake->DeviceIsOpen);
}

// The end comes only once the device has played every queued byte.
TEST_F(PlayerTest, EndWaitsForTheQueueToPlayOut) {
  Open(MakeWav(1, 8000, 1, 5, 5));  // 16 000 bytes
  ASSERT_TRUE(WaitFor("state 4"));
  player->Play(0);
  ASSERT_TRUE(WaitFor("state 1"));
  for (int i = 0; i < 100 && fake->BytesWritten < 16000; ++i) {
    fake->Advance(20ms);
    Settle();
  }
  ASSERT_EQ(fake->BytesWritten, 16000u);
  fake->Advance(1ms);
  Settle();
  EXPECT_EQ(events.back(), "state 1");  // all of it written, not all of it played
  EXPECT_LT(player->GetPositionMs(), 1000);
  fake->Advance(100ms);
  EXPECT_TRUE(WaitFor("end"));
  EXPECT_EQ(player->GetPositionMs(), 1000);
}

TEST_F(PlayerTest, SeekAndResumeKeepTheirPlace) {
  Open(MakeWav(3, 44100, 2, 1, 1, true));
  ASSERT_TRUE(WaitFor("state 4"));
  player->Play(0.5f);  // starts in the middle
  ASSERT_TRUE(WaitFor("state 1"));
  ASSERT_TRUE(WaitWritten(fake->QueueBytes()));
  const std::string first = fake->Captured().substr(0, 4);
  int16_t sample;
  std::memcpy(&sample, first.data(), 2);
  EXPECT_EQ(sample, int16_t(66150 % 30000));  // frame 66 150 = 1.5 s
  fake->Advance(300ms);
  ASSERT_TRUE(WaitWritten(2 * fake->QueueBytes()));

  // Pause then play again goes on from here, not from the old start point.
  player->Pause();
  ASSERT_TRUE(WaitFor("state 3"));
  const int32_t before = player->GetPositionMs();
  const int flushes = fake->Flushes;
  player->Resume();
  ASSERT_TRUE(WaitFor("state 1"));
  EXPECT_EQ(fake->Flushes, flushes);
  EXPECT_GE(player->GetPositionMs(), before);

  // A seek while playing lands there; a seek while paused is dropped.
  player->SeekFraction(0.25f);
  ASSERT_TRUE(loop.WaitPumping([&] { return fake->Flushes == flushes + 1; }, 10s));
  ASSERT_TRUE(loop.WaitPumping([&] { return player->GetPositionMs() >= 750 && player->GetPositionMs() < 1500; }, 10s));
  player->Pause();
  ASSERT_TRUE(WaitFor("state 3"));
  const int32_t pausedAt = player->GetPositionMs();
  player->SeekFraction(0.9f);
  player->SeekMs(100);
  player->Stop();  // a stop while paused releases the device
  ASSERT_TRUE(WaitFor("state 2"));
  EXPECT_EQ(fake->Flushes, flushes + 1);
  EXPECT_EQ(player->GetPositionMs(), pausedAt);
  EXPECT_FALSE(fake->DeviceIsOpen);
  // Nothing is open after a stop: play does nothing.
  player->Play(0);
  Settle();
  EXPECT_EQ(events.back(), "state 2");
}

TEST_F(PlayerTest, FractionsAreClamped) {
  Open(MakeWav(3, 44100, 2, 1, 1, true));
  ASSERT_TRUE(WaitFor("state 4"));
  player->Play(7.0f);  // beyond the end: no seek, it starts where it is
  ASSERT_TRUE(WaitWritten(fake->QueueBytes()));
  int16_t first;
  std::memcpy(&first, fake->Captured().data(), 2);
  EXPECT_EQ(first, 0);
  player->SeekFraction(std::numeric_limits<float>::quiet_NaN());  // taken as the start
  player->SeekFraction(7.0f);                                     // taken as the end
  ASSERT_TRUE(loop.WaitPumping([&] { return player->GetPositionMs() == 3000; }, 10s));
  for (int i = 0; i < 20 && events.back() != "end"; ++i) {
    fake->Advance(200ms);
    Settle();
  }
  EXPECT_EQ(events.back(), "end");
}

// A device that does not open, or stops taking audio, is an error with its reason, and the
// song stops: it does not "end", which would send a player through its whole list at once.
TEST_F(PlayerTest, DeviceFailuresAreErrors) {
  failOpen = true;
  player = nullptr;
  SetUp();
  Open(MakeWav(2, 44100, 2, 1, 1));
  ASSERT_TRUE(WaitFor("state 2"));  // no clock advanced: nothing waits for a device that is not there
  EXPECT_EQ(events, (std::vector<std::string>{"play error", "state 2"}));
  EXPECT_EQ(player->ErrorText(), "no fake device here");
  EXPECT_EQ(fake->BytesWritten, 0u);

  failOpen = false;
  player = nullptr;
  events.clear();
  SetUp();
  Open(MakeWav(2, 44100, 2, 1, 1));
  ASSERT_TRUE(WaitFor("state 4"));
  player->Play(0);
  ASSERT_TRUE(WaitWritten(fake->QueueBytes()));
  fake->FailWrites = true;
  fake->Advance(50ms);
  ASSERT_TRUE(WaitFor("state 2"));
  EXPECT_EQ(events, (std::vector<std::string>{"state 4", "state 1", "play error", "state 2"}));
  EXPECT_EQ(player->ErrorText(), "the fake device was unplugged");
  EXPECT_FALSE(fake->DeviceIsOpen);
}

// A device that stops answering holds the engine thread in a write: the player still goes within
// its limit (the program's exit does not freeze), and the engine ends on its own once the device
// lets go.
TEST_F(PlayerTest, DestructionDoesNotWaitForAStuckDevice) {
  Open(MakeWav(2, 44100, 2, 1, 1));
  ASSERT_TRUE(WaitFor("state 4"));
  fake->HangWrites = true;
  player->Play(0);
  ASSERT_TRUE(loop.WaitPumping([&] { return bool(fake->Stuck); }, 10s));
  auto gone = std::async(std::launch::async, [&] { player = nullptr; });
  const bool inTime = gone.wait_for(TPlayer::kEngineQuitLimit + 5s) == std::future_status::ready;
  fake->HangWrites = false;  // the engine still owns the fake: it is stuck in it
  gone.wait();
  EXPECT_TRUE(inTime) << "the player waited for its engine without limit";
  const int posts = loop.Posts;
  for (int i = 0; i < 2000 && TFakeOutput::Alive > 0; ++i) std::this_thread::sleep_for(5ms);
  EXPECT_EQ(TFakeOutput::Alive, 0) << "the engine cut loose did not end";
  EXPECT_EQ(loop.Posts, posts) << "the engine posted to a dispatcher that may be gone";
}

// The position is what is heard: the decoder runs ahead by what the device has queued.
TEST_F(PlayerTest, PositionIsWhatIsHeard) {
  Open(MakeWav(3, 44100, 2, 1, 1, true));
  ASSERT_TRUE(WaitFor("state 4"));
  player->Play(0);
  ASSERT_TRUE(WaitWritten(fake->QueueBytes()));
  Settle();
  EXPECT_EQ(player->GetPositionMs(), 0);
  PlayFor(200ms);
  EXPECT_EQ(player->GetPositionMs(), 200);
  player->SeekFraction(0.5f);
  Settle();
  PlayFor(300ms);
  EXPECT_EQ(player->GetPositionMs(), 1800);
}

// An effect switched on while a song plays is heard within 100 ms: the queue in front of it is
// that short.
TEST_F(PlayerTest, EffectChangeIsHeardWithin100ms) {
  Open(MakeWav(3, 44100, 2, 300, -700));
  ASSERT_TRUE(WaitFor("state 4"));
  player->Play(0);
  ASSERT_TRUE(WaitWritten(fake->QueueBytes()));
  Settle();
  player->Effects().SetStage(TEffectSlot::Equalizer, std::make_shared<TNegate>());
  PlayFor(100ms);
  // The last frame the device has played by now (100 ms of 44.1 kHz stereo 16-bit).
  const std::string pcm = fake->Captured();
  ASSERT_GE(pcm.size(), 17640u);
  int16_t l, r;
  std::memcpy(&l, pcm.data() + 17636, 2);
  std::memcpy(&r, pcm.data() + 17638, 2);
  EXPECT_EQ(l, -300);
  EXPECT_EQ(r, 700);
}

// A reply about a file the player has since moved on from is dropped: an open failure of the
// old file neither raises the error nor wipes the new one's information, and the old file's
// format never stands for the new one.
TEST_F(PlayerTest, StaleRepliesAreDropped) {
  Open(std::string(5000, 'x'), "noise.mp3");
  ASSERT_TRUE(loop.WaitPosts(1));  // the open failure is waiting in the queue
  Open(MakeWav(3, 44100, 2, 1, 1), "b.wav");
  ASSERT_TRUE(WaitFor("state 4"));
  EXPECT_EQ(events, (std::vector<std::string>{"state 4"}));
  EXPECT_EQ(player->MediaTagInfo().Format, "WAV");
  EXPECT_EQ(player->ErrorText(), "");

  events.clear();
  const int posts = loop.Posts;
  Open(MakeWav(1, 8000, 1, 1, 1), "a.wav");
  ASSERT_TRUE(loop.WaitPosts(posts + 1));  // a.wav's psOpen is waiting
  Open(MakeWav(3, 44100, 2, 1, 1), "c.wav");
  EXPECT_NE(player->GetDurationMs(), 1000);  // a.wav's length is not c.wav's
  ASSERT_TRUE(WaitFor("state 4"));
  Settle();
  EXPECT_EQ(events, (std::vector<std::string>{"state 4"}));
  EXPECT_EQ(player->MediaTagInfo().SampleRate, 44100);
  EXPECT_EQ(player->MediaTagInfo().Channels, 2);
  EXPECT_EQ(player->GetDurationMs(), 3000);
}

TEST_F(PlayerTest, OpenErrors) {
  EXPECT_FALSE(player->OpenFile(dir.File("missing.mp3"), false));
  Open(std::string(5000, 'x'), "noise.mp3");
  EXPECT_TRUE(WaitFor("open error"));
  // A WAV file named .MP3: the MPEG decoder is tried first and the WAV one takes it.
  EXPECT_STREQ(DecoderRegistry()[size_t(DecoderForExtension("/a.b/x.MP3"))].Name, "MPEG");
  EXPECT_EQ(DecoderForExtension("/a.wav/x"), -1);
  Open(MakeWav(1, 8000, 1, 1, 1), "x.MP3");
  EXPECT_TRUE(WaitFor("state 4"));
  EXPECT_EQ(player->MediaTagInfo().Format, "WAV");
}


// The per-block processing: channel choice first, then the effect stages.
TEST_F(PlayerTest, ChannelChoiceAndEffectsShapeEveryBlock) {
  struct Case {
    TAudioChannel channel;
    bool negate;
    int16_t left, right;
  } cases[] = {
      {TAudioChannel::acStereo, false, 300, -700},
      {TAudioChannel::acLeft, false, -700, -700},
      {TAudioChannel::acRight, false, 300, 300},
      {TAudioChannel::acLeft, true, 700, 700},
  };
  for (const auto& c : cases) {
    events.clear();
    player->SetAudioChannel(c.channel);
    player->Effects().SetStage(TEffectSlot::Equalizer, c.negate ? std::make_shared<TNegate>() : nullptr);
    EXPECT_EQ(LastFrameQueued(MakeWav(1, 8000, 2, 300, -700)), std::make_pair(c.left, c.right));
  }
}

// The player's own effects, all on: the channel selector, the amplifier (+12: 160 %), a flat
// equalizer, the 3D widener at 100 and the test plug-in's -6 dB module, in that order. A steady
// frame comes out as the formulas give it once the equalizer's 256-frame delay has passed.
TEST_F(PlayerTest, TheEffectsRunInTheirOrder) {
  player->SetEQEnabled(true);
  ASSERT_TRUE(player->SetPreamp(30));  // clamped to 12
  EXPECT_EQ(player->Preamp(), 12);
  player->SetEQPreset(0);
  player->SetSound3DVolume(100);
  ASSERT_TRUE(player->SetDSPPluginDirectory(ML_TEST_DSP_PLUGINS));
  std::vector<std::string> names, modules;
  player->GetDSPPluginNames(names);
  player->GetDSPPluginModules(0, modules);
  EXPECT_EQ(names, (std::vector<std::string>{"Host test plug-in"}));
  ASSERT_GE(modules.size(), 1u);
  EXPECT_EQ(modules[0], "Half");
  ASSERT_TRUE(player->StartDSPPluginByName("dsp_testhost.so", 0));
  EXPECT_FALSE(player->StartDSPPluginByName("dsp_none.so", 0));
  struct Case {
    TAudioChannel channel;
    int16_t left, right;
  } cases[] = {
      // (1000, 3000) x 1.6 = (1600, 4800); mid 3200, side -1600 x (1 + 6.5536) / 2; halved.
      {TAudioChannel::acStereo, -1421, 4621},
      // (3000, 3000) x 1.6 = 4800 on both sides: no side to widen; halved.
      {TAudioChannel::acLeft, 2400, 2400},
  };
  for (const auto& c : cases) {
    player->SetAudioChannel(c.channel);
    EXPECT_EQ(LastFrameQueued(MakeWav(1, 8000, 2, 1000, 3000)), std::make_pair(c.left, c.right));
  }
  player->StopDSPPlugin(0);
  player->SetEQEnabled(false);
  player->SetSound3DVolume(0);
  EXPECT_EQ(LastFrameQueued(MakeWav(1, 8000, 2, 1000, 3000)).first, 3000) << "all off again (the selector still on the left)";
}

// Nobody listening to the spectrum: the engine keeps no copy of what it plays and no transform
// runs. A listener gets the 512 levels of the block being heard on each tick.
TEST_F(PlayerTest, TheSpectrumCostsNothingUnwatched) {
  player->OnPlayProgress = [](TPlayerModule&, int32_t, int32_t, double) {};
  Open(MakeWav(3, 44100, 2, 0, 0, true));
  ASSERT_TRUE(WaitFor("state 4"));
  player->Play(0);
  for (int i = 0; i < 10; ++i) {
    loop.Advance(50ms);
    PlayFor(50ms);
  }
  std::vector<uint8_t> visual;
  int ch = 0, bits = 0;
  EXPECT_FALSE(player->GetVisualData(visual, ch, bits));
  EXPECT_EQ(player->Spectrum().FFTCount(), 0u);

  int frames = 0;
  float loudest = 0;
  player->OnNewFFTData = [&](TPlayerModule&, const float* levels) {
    ++frames;
    loudest = *std::max_element(levels, levels + SpectrumLevelCount);
  };
  for (int i = 0; i < 10; ++i) {
    loop.Advance(50ms);
    PlayFor(50ms);
  }
  ASSERT_TRUE(player->GetVisualData(visual, ch, bits));
  EXPECT_EQ(ch, 2);
  EXPECT_EQ(bits, 16);
  EXPECT_GE(frames, 9);
  EXPECT_GT(player->Spectrum().FFTCount(), 0u);
  EXPECT_GT(loudest, 0.5f) << "the ramp is loud";
}

TEST_F(PlayerTest, ProgressAndHalfwayEvents) {
  std::vector<std::pair<int32_t, int32_t>> progress;
  int middles = 0;
  player->OnPlayProgress = [&](TPlayerModule&, int32_t pos, int32_t dur, double) { progress.push_back({pos, dur}); };
  player->OnPlayingMiddle = [&](TPlayerModule&) { ++middles; };
  Open(MakeWav(1, 8000, 1, 1, 1));
  ASSERT_TRUE(WaitFor("state 4"));
  player->Play(0);
  for (int i = 0; i < 100 && events.back() != "end"; ++i) {
    fake->Advance(50ms);
    Settle();
  }
  ASSERT_EQ(player->GetPositionMs(), 1000);
  loop.Advance(250ms);
  ASSERT_FALSE(progress.empty());
  EXPECT_EQ(progress.back(), std::make_pair(1000, 1000));
  EXPECT_LE(progress.size(), 3u);  // at most one report per 100 ms
  EXPECT_EQ(middles, 1);
}

TEST(TimeText, Forms) {
  struct Case {
    int64_t seconds;
    bool shortForm;
    const char* text;
  } cases[] = {{59, false, "00:59"}, {6000, false, "100:00"}, {6039, false, "100:39"},
               {-1, false, ""},      {65, true, "1:05"},      {0, false, "00:00"}};
  for (const auto& c : cases) EXPECT_EQ(FormatTimeText(c.seconds, c.shortForm), c.text) << c.seconds;
}

TEST_F(PlayerTest, MediaInformationCarriesTheTags) {
  int rc = -1;
  const std::string mp3 = dir.File("tagged.mp3");
  RunCapture("sox -n -r 44100 -c 2 -t wav - synth 1 sine 440 2>/dev/null | lame --quiet --tt 月亮 --ta 歌手 --tl 专辑 --tn 7 - " +
                 mp3,
             &rc);
  ASSERT_EQ(rc, 0);
  ASSERT_TRUE(player->OpenFile(mp3, false));
  EXPECT_EQ(player->MediaTagInfo().Title, "月亮");
  EXPECT_EQ(player->MediaTagInfo().Artist, "歌手");
  EXPECT_EQ(player->MediaTagInfo().Album, "专辑");
  EXPECT_EQ(player->MediaTagInfo().Track, "7");
  EXPECT_EQ(player->MediaTagInfo().SampleRate, 44100);
  ASSERT_TRUE(WaitFor("state " + std::to_string(int(TPlayerState::psOpen))));
  EXPECT_EQ(player->MediaTagInfo().Format, "MPEG") << "the decoder adds what it knows";
  EXPECT_EQ(player->MediaTagInfo().Title, "月亮");
}

// A song still downloading: a read that would meet bytes not yet there waits (the engine says it
// starves, the position holds, no end of song) and goes on when they come, every sample kept.
// The MPEG decoder takes a short read for the end of the song, so it is the one that shows it.
TEST_F(PlayerTest, ASongStillArrivingWaitsForItsBytes) {
  for (const std::string name : {"cbr.mp3", "xingless.mp3", "ramp.wav"}) {
    SCOPED_TRACE(name);
    const std::string content = name == "ramp.wav" ? MakeWav(2, 44100, 2, 0, 0, true)
                                                   : ReadAll(PlaybackFixture(name));
    ASSERT_FALSE(content.empty());
    WriteAll(dir.File("whole-" + name), content);
    const std::string whole = DecodeWhole(dir.File("whole-" + name));
    ASSERT_FALSE(whole.empty());
    const std::string path = dir.File("arriving-" + name);
    auto file = std::make_shared<TArrivingFile>(path, "", content);
    file->Arrive(0, content.size() / 3);
    events.clear();
    ASSERT_TRUE(player->OpenDownloading(path, file));
    ASSERT_TRUE(WaitFor("state 4"));
    // A length that nothing in the file states (a VBR stream without its header) is reckoned at
    // the rate of what has come: not the length of that third, and near the whole song's (the
    // fixture's rate grows along its sweep, by a tenth).
    const double ms = double(whole.size()) / 4 / 44.1;
    EXPECT_NEAR(player->GetDurationMs(), ms, ms / 6);
    const uint64_t before = fake->BytesWritten;  // the same device serves every song
    player->Play(0);
    ASSERT_TRUE(WaitFor("state 1"));
    for (int i = 0; i < 400 && !player->IsStarving(); ++i) PlayFor(100ms);
    ASSERT_TRUE(player->IsStarving());
    PlayFor(200ms);  // what was queued is heard; then the position holds
    const int32_t heldAt = player->GetPositionMs();
    const uint64_t written = fake->BytesWritten;
    PlayFor(2000ms);
    EXPECT_EQ(events.back(), "state 1");  // no end of song
    EXPECT_EQ(fake->BytesWritten, written);
    EXPECT_EQ(player->GetPositionMs(), heldAt);
    EXPECT_GT(heldAt, 0);

    file->Arrive(0, content.size());
    for (int i = 0; i < 400 && events.back() != "end"; ++i) PlayFor(100ms);
    ASSERT_EQ(events.back(), "end");
    EXPECT_FALSE(player->IsStarving());
    const std::string heard = fake->Captured().substr(size_t(before));
    EXPECT_EQ(heard.size(), whole.size());
    EXPECT_TRUE(heard == whole) << "the PCM differs from a plain decode of the whole file";
  }
}
