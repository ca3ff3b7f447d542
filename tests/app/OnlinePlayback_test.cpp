// A song played while its download runs, driven step by step: the manual clock fires the glue's
// 100 ms ticks, a feeder delivers the download's blocks as a job would (those just ahead of the
// play position first) into a preallocated temporary file and renames it at the end, and the
// real player and decoder play it on a fake output. What reaches the output is judged against a
// plain decode of the final file.
#include "app/OnlinePlayback.h"

#include "base/EventLoop.h"
#include "playback/uPlayer.h"
#include "tests/app/ArrivingDownload.h"
#include "tests/support/ArrivingFile.h"
#include "tests/support/FakeOutput.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace ml;
using namespace mltest;
using namespace std::chrono_literals;

namespace {

using TFeeder = TArrivingDownload;

class OnlinePlaybackTest : public ::testing::Test {
protected:
  void SetUp() override {
    player = std::make_unique<TPlayer>(&loop, [this](const TOutputTarget&) {
      auto out = std::make_unique<TFakeOutput>();
      out->Capture = true;
      fake = out.get();
      return out;
    });
    player->OnFileFinishPlay = [this](TPlayerModule&) { ended = true; };
    player->SetOutputTarget({TOutputKind::Null, "fake"});
  }
  void Settle() {
    bool done = false;
    player->Sync([&] { done = true; });
    ASSERT_TRUE(loop.WaitPumping([&] { return done; }, 10s));
  }
  // One glue tick: the download delivers, the clock moves 100 ms, the device plays as long.
  void Step(TFeeder& feeder, int blocksPerTick) {
    feeder.Deliver(blocksPerTick);
    loop.Advance(100ms);
    Settle();
    for (int i = 0; i < 5; ++i) {
      fake->Advance(20ms);
      Settle();
    }
  }

  TempDir dir;
  ManualLoop loop;
  TFakeOutput* fake = nullptr;
  std::unique_ptr<TPlayer> player;
  bool ended = false;
};

// Arriving at half the speed it plays (80 KB/s against 176 KB/s), the song starts once the start
// amount is in, pauses for data and goes on, moves to its final name while playing, and plays
// to its end with every sample.
TEST_F(OnlinePlaybackTest, ASongPlayedWhileItDownloadsPlaysThroughToTheEnd) {
  const std::string song = MakeWav(4, 44100, 2, 0, 0, true);  // 705 644 bytes
  auto feeder = std::make_shared<TFeeder>(dir, "song.wav", song);
  TOnlinePlayback online(loop, *player, feeder);
  online.Start();
  bool rebuffered = false, completedWhilePlaying = false;
  int steps = 0;
  for (; steps < 600 && !ended; ++steps) {
    Step(*feeder, 8);
    if (!online.Opened()) {
      EXPECT_LE(feeder->ArrivedFrom(0), uint64_t(TOnlinePlayBuffer::kStartBytes));  // started as soon as it could
    }
    rebuffered |= online.Buffer().State() == TOnlinePlayBuffer::TState::Rebuffering;
    completedWhilePlaying |= feeder->Complete() && online.Opened() && !ended;
  }
  ASSERT_TRUE(ended) << "the song did not end in " << steps << " ticks";
  EXPECT_TRUE(rebuffered) << "the download never fell behind: the test shows nothing";
  EXPECT_TRUE(completedWhilePlaying);
  EXPECT_FALSE(std::filesystem::exists(dir.File("song.wav.lr!")));
  // The job was told where the player was, never beyond the file, and never backwards.
  ASSERT_FALSE(feeder->Listened.empty());
  EXPECT_TRUE(std::is_sorted(feeder->Listened.begin(), feeder->Listened.end()));
  EXPECT_LE(feeder->Listened.back(), feeder->FileSize());

  const std::string whole = DecodeWhole(dir.File("song.wav"));
  const std::string heard = fake->Captured();
  ASSERT_EQ(heard.size(), whole.size());
  EXPECT_TRUE(heard == whole) << "the PCM differs from a plain decode of the final file";
}

// A song smaller than the start amount starts once it is complete (from its final name), not
// never; and a song that never comes is given up after 20 s.
TEST_F(OnlinePlaybackTest, AShortSongStartsWhenCompleteAndALostOneIsGivenUp) {
  const std::string song = MakeWav(1, 44100, 1, 0, 0, true);  // 88 244 bytes
  auto feeder = std::make_shared<TFeeder>(dir, "song.wav", song);
  TOnlinePlayback online(loop, *player, feeder);
  int skips = 0;
  online.OnSkipToNext = [&] { ++skips; };
  online.Start();
  for (int i = 0; i < 30; ++i) Step(*feeder, i < 10 ? 8 : 0);  // all but the last 8 KB, then nothing
  EXPECT_FALSE(online.Opened());
  feeder->Deliver(1000);
  for (int i = 0; i < 100 && !ended; ++i) Step(*feeder, 0);
  ASSERT_TRUE(ended);
  EXPECT_EQ(player->FileName(), dir.File("song.wav"));
  EXPECT_TRUE(fake->Captured() == DecodeWhole(dir.File("song.wav")));
  EXPECT_EQ(skips, 0);

  TempDir other;
  auto lost = std::make_shared<TFeeder>(other, "song.wav", song);
  TOnlinePlayback nothing(loop, *player, lost);
  nothing.OnSkipToNext = [&] { ++skips; };
  nothing.Start();
  for (int i = 0; i < TOnlinePlayBuffer::kGiveUpTicks + 1; ++i) loop.Advance(100ms);
  EXPECT_EQ(skips, 1);
  EXPECT_FALSE(nothing.Opened());
}

}  // namespace
