// The main window's controller on the manual loop: the real player and decoder on a fake output,
// the real library and playlist, a view that records what it is told.
#include "app/MainController.h"

#include "base/LRMD5.h"
#include "net/LyricRecords.h"
#include "online/uDownLRC.h"
#include "tests/net/NetTestTools.h"
#include "tests/app/ArrivingDownload.h"
#include "tests/app/ControllerHarness.h"

#include <gtest/gtest.h>


using namespace ml;
using namespace mltest;
using mlnettest::Bytes;
using mlnettest::Written;
using namespace std::chrono_literals;

namespace {

class TRemoteCounter final : public IPlayerRemoteListener {
public:
  void RemoteStatusChanged() override { ++Changes; }
  void RemoteSeeked(int64_t ms) override { Seeks.push_back(ms); }
  int Changes = 0;
  std::vector<int64_t> Seeks;
};

class MainControllerTest : public ::testing::Test, public TControllerHarness {
protected:
  void SetUp() override {
    info.AppTitle = "MiniLirra";
    info.AppSlogan = "slogan";
    settings->Volume = 80;
    library->NewPlayList("default");
  }
  void Make(bool autoLyrics = false, std::shared_ptr<TArrivingDownload> download = nullptr,
            std::function<void(TMainControllerParts&)> adjust = nullptr) {
    settings->AutoShowLRC = autoLyrics;
    TMainControllerParts parts = Parts(view);
    if (download) parts.DownloadForPlay = [download](TShareFileInfo&) { return download; };
    if (adjust) adjust(parts);
    controller = std::make_unique<TMainController>(parts);
    controller->Start();
  }
  std::string PlayingName() const {
    return controller->PlayingEntry() ? controller->PlayingEntry()->Caption : "";
  }

  TRecordingView view;
};

// Play starts the list; the window shows Pause, the title and the song with its length; at its
// end the next song follows, and after the last the list starts again (loop all).
TEST_F(MainControllerTest, PlaysTheListInOrderAndLoopsAll) {
  std::vector<std::string> reported;
  Make(false, nullptr, [&](TMainControllerParts& parts) {
    parts.ReportPlayed = [&](const std::string& caption) { reported.push_back(caption); };
  });
  controller->OpenFiles({Song("one.wav", 1), Song("two.wav", 1)});
  Settle();
  EXPECT_EQ(PlayingName(), "one");
  EXPECT_TRUE(view.Playing);
  EXPECT_EQ(view.Title, " one - MiniLirra ");
  EXPECT_EQ(view.Info, "one [0:01]");
  EXPECT_EQ(view.SampleRate, "8");
  PlayFor(1300ms);
  EXPECT_EQ(PlayingName(), "two");
  PlayFor(1300ms);
  EXPECT_EQ(PlayingName(), "one");
  EXPECT_GT(view.Progress, 0);
  EXPECT_EQ(reported, (std::vector<std::string>{"one", "two", "one"}));  // what was played, as it started
}

// Loop modes cycle 0, 1, 2 with the button; "play one song" stops at the end of the song and
// "repeat one" plays it again.
TEST_F(MainControllerTest, LoopModesDecideWhatFollowsTheEnd) {
  Make();
  controller->OpenFiles({Song("one.wav", 1), Song("two.wav", 1)});
  controller->ClickLoopButton();
  EXPECT_EQ(view.Loop, 1);
  EXPECT_EQ(settings->PlayListLoopType, 1);
  Settle();
  PlayFor(1300ms);
  EXPECT_FALSE(view.Playing);
  EXPECT_EQ(view.Info, "slogan");

  controller->ClickLoopButton();
  EXPECT_EQ(view.Loop, 2);
  controller->Play();
  Settle();
  const std::string first = PlayingName();
  PlayFor(1300ms);
  EXPECT_EQ(PlayingName(), first);
  EXPECT_TRUE(view.Playing);
  controller->ClickLoopButton();
  EXPECT_EQ(view.Loop, 0);
}

// Pause keeps the place and Play resumes it; Stop forgets the song and shows the slogan; the
// time display counts down after a click, except while stopped.
TEST_F(MainControllerTest, PauseResumeStopAndTheTimeDisplay) {
  Make();
  controller->OpenFiles({Song("one.wav", 3)});
  Settle();
  PlayFor(500ms);
  controller->Pause();
  Settle();
  EXPECT_FALSE(view.Playing);
  EXPECT_TRUE(controller->Paused());
  controller->ToggleTimeMode();
  controller->Play();
  Settle();
  EXPECT_TRUE(controller->Playing());
  PlayFor(500ms);
  EXPECT_TRUE(view.Remaining);
  EXPECT_GT(view.TimeMs, 1000);
  EXPECT_LT(view.TimeMs, 3000);
  controller->Stop();
  Settle();
  EXPECT_FALSE(view.Playing);
  EXPECT_EQ(view.Info, "slogan");
  EXPECT_EQ(view.Bitrate, "");
  EXPECT_TRUE(view.SpectrumCleared);
  controller->ToggleTimeMode();
  EXPECT_FALSE(controller->ShowsRemaining());
}

// A song whose file is gone is skipped in "loop all", and stays stopped with the setting that
// says so; either way the reason is shown.
class MissingFileTest : public MainControllerTest, public ::testing::WithParamInterface<bool> {};

TEST_P(MissingFileTest, IsSkippedUnlessStoppingOnErrors) {
  const bool stopOnError = GetParam();
  settings->AutoStopWhenError = stopOnError;
  Make();
  const std::string gone = Song("gone.wav", 1);
  controller->OpenFiles({gone, Song("next.wav", 1)});
  Settle();
  controller->Stop();
  Settle();
  std::remove(gone.c_str());
  controller->PlayRow(0);
  Settle();
  loop.ProcessPending();
  Settle();
  if (stopOnError) {
    EXPECT_EQ(PlayingName(), "gone");
    EXPECT_NE(view.Info.find("no such file"), std::string::npos) << view.Info;
  } else {
    EXPECT_EQ(PlayingName(), "next");
    EXPECT_TRUE(view.Playing);
  }
}

INSTANTIATE_TEST_SUITE_P(StopOnError, MissingFileTest, ::testing::Bool());

// Volume and mute go to the player and the settings; volume steps stay within 0..100.
TEST_F(MainControllerTest, VolumeAndMute) {
  Make();
  EXPECT_EQ(view.Volume, 80);
  for (int i = 0; i < 6; ++i) controller->VolumeUp();
  EXPECT_EQ(view.Volume, 100);
  EXPECT_EQ(player->Volume(), 100);
  controller->SetVolume(-7);
  EXPECT_EQ(settings->Volume, 0);
  controller->ToggleMute();
  EXPECT_TRUE(view.Muted);
  EXPECT_TRUE(player->Mute());
  EXPECT_TRUE(settings->Mute);
}

// With lyrics shown automatically, a song's associated lyric file is loaded when it starts and
// the display follows the position on the 100 ms tick.
TEST_F(MainControllerTest, ASongsLyricsAreLoadedAndFollowed) {
  Make(true);
  const std::string song = Song("one.wav", 2);
  std::ofstream(dir.File("ONE.lrc")) << "[00:00.00]first\n[00:01.00]second\n";
  controller->OpenFiles({song});
  Settle();
  // The lyric of the song's name beside it is found (without case) and kept with the song.
  EXPECT_EQ(lyrics.Count(), 2);
  EXPECT_EQ(controller->PlayingEntry()->LRCFileName, dir.File("ONE.lrc"));
  PlayFor(600ms);
  EXPECT_GT(view.LyricPosition, 200);
  controller->Stop();
  EXPECT_EQ(lyrics.Count(), 0);
}

// A song of the service plays while it downloads: it waits for its first bytes (the label says
// how far), starts, keeps the position bar's download mark, refuses a seek beyond what has come,
// and plays to its end.
TEST_F(MainControllerTest, AServiceSongPlaysWhileItDownloads) {
  const std::string song = MakeWav(4, 44100, 2, 0, 0, true);
  auto download = std::make_shared<TArrivingDownload>(dir, "online.wav", song);
  Make(false, download);
  controller->ClickLoopButton();  // play one song: its end stops the player
  TShareFileInfo* entry = library->AddFromSearchResult("Singer - Online Song", LRMD5::MD5String(song));
  controller->PlayList().AddEntry(entry, true);
  Settle();
  EXPECT_NE(controller->OnlinePlay(), nullptr);
  bool ended = false, refused = false;
  for (int tick = 0; tick < 400 && !ended; ++tick) {
    download->Deliver(12);
    PlayFor(100ms);
    if (tick == 2) {
      EXPECT_EQ(view.Info.rfind("正在缓冲", 0), 0u) << view.Info;
    }
    if (tick == 30 && controller->Playing()) {
      const int64_t before = player->GetPositionMs();
      controller->SeekReleased(TMainController::kProgressMax - 10);  // far past what has come
      Settle();
      refused = player->GetPositionMs() < before + 1000;
    }
    ended = download->Complete() && !controller->Playing() && view.Info == "slogan";
  }
  EXPECT_TRUE(refused);
  EXPECT_TRUE(download->Complete());
  EXPECT_EQ(fake->Captured().size(), DecodeWhole(dir.File("online.wav")).size());
}

// What remotes see and ask: the song's facts, play/pause, seeking within the song only, and a
// note to listeners for every change.
TEST_F(MainControllerTest, RemotesReadTheStatusAndDriveThePlayer) {
  Make();
  TRemoteCounter counter;
  controller->AddRemoteListener(&counter);
  EXPECT_EQ(controller->RemoteStatus().Playback, TRemotePlayback::Stopped);
  controller->RemoteOpen({Song("one.wav", 3)});
  Settle();
  TRemoteStatus s = controller->RemoteStatus();
  EXPECT_EQ(s.Playback, TRemotePlayback::Playing);
  EXPECT_EQ(s.Title, "one");
  EXPECT_EQ(s.FileName, dir.File("one.wav"));
  EXPECT_EQ(s.LengthMs, 3000);
  EXPECT_TRUE(s.CanSeek);
  EXPECT_FALSE(s.SongId.empty());
  EXPECT_GT(counter.Changes, 0);
  controller->RemoteSeekTo(2000);
  Settle();
  EXPECT_EQ(counter.Seeks.back(), 2000);
  EXPECT_GE(controller->RemotePositionMs(), 2000);
  controller->RemoteSeekTo(5000);  // past the end: ignored
  EXPECT_EQ(counter.Seeks.back(), 2000);
  controller->RemotePlayPause();
  Settle();
  EXPECT_EQ(controller->RemoteStatus().Playback, TRemotePlayback::Paused);
  EXPECT_FALSE(controller->RemoteStatus().CanSeek);  // the player seeks only while it plays
  controller->RemoteSetLoopMode(2);
  controller->RemoteSetOrderMode(1);
  EXPECT_EQ(controller->RemoteStatus().LoopMode, 2);
  EXPECT_EQ(controller->RemoteStatus().OrderMode, 1);
  controller->RemoteStop();
  Settle();
  EXPECT_EQ(controller->RemoteStatus().Playback, TRemotePlayback::Stopped);
  EXPECT_TRUE(controller->RemoteStatus().Title.empty());
  controller->RemoveRemoteListener(&counter);
}

}  // namespace

// The service's lyric search on the manual loop, through the real lyric downloader with a fake
// sender: what it sends, and the answers fed back as the lyric server writes them.
class LyricSearchTest : public MainControllerTest {
protected:
  void SetUp() override {
    MainControllerTest::SetUp();
    Make(true);
    controller->SetLyricService(&down);
  }
  void TearDown() override { controller->SetLyricService(nullptr); }
  void Reply(int32_t request, const std::vector<TLyricHit>& hits) {
    const Bytes b = Written(WriteLyricSearchReply, TLyricSearchReply{request, hits});
    down.TakeSearchReply(b.data(), int32_t(b.size()));
  }
  void Lyric(int32_t request, int32_t lyric, const std::string& text) {
    const Bytes b = Written(WriteLyricPart, TLyricPart{request, lyric, 1, 0, text});
    down.TakeLyricPart(b.data(), int32_t(b.size()));
  }
  // The lyric downloads asked for since the last call.
  std::vector<TLyricDownloadRequest> Downloads() {
    std::vector<TLyricDownloadRequest> out;
    for (const Bytes& b : sent)
      if (TLyricDownloadRequest r; ReadLyricDownloadRequest(b.data(), b.size(), r)) out.push_back(r);
    sent.clear();
    return out;
  }

  std::vector<Bytes> sent;
  TDownLRC down{loop, [this](const uint8_t* r, int32_t n) {
                  sent.emplace_back(r, r + n);
                  return true;
                }};
};

// A song without a lyric asks the service by its caption and duration while the lyric page
// offers the search; the first hit is downloaded into the lyric folder, becomes the song's lyric
// and shows. A lyric that arrives after its song has made way for another is not the new song's.
TEST_F(LyricSearchTest, ASongWithoutALyricGetsTheServicesFirstHit) {
  const std::string first = Song("Singer A - First.wav", 3), second = Song("Singer B - Second.wav", 3);
  controller->OpenFiles({first, second});
  Settle();
  ASSERT_EQ(sent.size(), 1u);
  TLyricSearchRequest asked;
  ASSERT_TRUE(ReadLyricSearchRequest(sent[0].data(), sent[0].size(), asked));
  EXPECT_EQ(asked.SongName, "Singer A - First");
  EXPECT_EQ(asked.DurationMs, controller->PlayingEntry()->Duration);
  EXPECT_EQ(view.LyricLength, 0) << "the display is cleared: its link offers the search";
  sent.clear();

  // The first song's hits: its lyric is being fetched when the user moves on.
  Reply(asked.RequestID, {{7, "Singer A", "First"}, {8, "Other", "First"}});
  std::vector<TLyricDownloadRequest> downloads = Downloads();
  ASSERT_EQ(downloads.size(), 1u);
  EXPECT_EQ(downloads[0].LyricID, 7);
  controller->Next();
  Settle();
  TLyricSearchRequest next;
  ASSERT_EQ(sent.size(), 1u);
  ASSERT_TRUE(ReadLyricSearchRequest(sent[0].data(), sent[0].size(), next));
  EXPECT_EQ(next.SongName, "Singer B - Second");
  EXPECT_NE(next.RequestID, asked.RequestID);
  sent.clear();
  Lyric(asked.RequestID, 7, "[00:00.00]first\n[00:01.00]song\n");
  EXPECT_EQ(lyrics.Count(), 0) << "the first song's lyric is not the second's";
  EXPECT_EQ(controller->PlayingEntry()->LRCFileName, "");

  Reply(next.RequestID, {{9, "Singer B", "Second"}});
  downloads = Downloads();
  ASSERT_EQ(downloads.size(), 1u);
  EXPECT_EQ(downloads[0].LyricID, 9);
  Lyric(next.RequestID, 9, "[00:00.00]one\n[00:01.00]two\n");
  const std::string saved = settings->LRCSavePath + "Singer B - Second.lrc";
  EXPECT_EQ(mltest::ReadAll(saved), "[00:00.00]one\n[00:01.00]two\n");
  EXPECT_EQ(controller->PlayingEntry()->LRCFileName, saved);
  EXPECT_EQ(lyrics.Count(), 2);
  EXPECT_GT(view.LyricLength, 0);
}

// The dialog's searches count as the controller's requests: with the dialog open a search with
// several hits waits for the user's choice, a single hit is fetched at once, and with it closed
// the first of several is.
TEST_F(LyricSearchTest, TheFirstHitWaitsForTheUserOnlyWhileTheDialogIsOpenWithSeveralHits) {
  controller->OpenFiles({Song("Song.wav", 3)});
  Settle();
  struct Case {
    bool dialogOpen;
    size_t hits;
    bool fetched;
  };
  for (const Case c : {Case{false, 3, true}, Case{true, 3, false}, Case{true, 1, true}}) {
    SCOPED_TRACE(testing::Message() << "dialog open " << c.dialogOpen << ", " << c.hits << " hits");
    controller->SetLyricDialogOpen(c.dialogOpen);
    const int32_t request = controller->NewLyricRequest();
    down.SearchBySingerAndSong(request, "Singer", "Song");
    std::vector<TLyricHit> hits;
    for (size_t i = 0; i < c.hits; ++i) hits.push_back({int32_t(20 + i), "Singer", "Song " + std::to_string(i)});
    Downloads();
    Reply(request, hits);
    const std::vector<TLyricDownloadRequest> downloads = Downloads();
    EXPECT_EQ(downloads.size(), c.fetched ? 1u : 0u);
    if (c.fetched && !downloads.empty()) {
      EXPECT_EQ(downloads[0].LyricID, 20);
    }
  }
}

// Once the playing song passes 80 %, the next song, a song of the service without a file here,
// starts downloading ahead (once); nothing follows a song played alone, so nothing is fetched.
TEST_F(MainControllerTest, TheNextServiceSongIsFetchedAheadAt80Percent) {
  std::vector<std::string> fetched;
  int64_t fetchedAt = -1;
  Make(false, nullptr, [&](TMainControllerParts& p) {
    p.DownloadForPlay = [&](TShareFileInfo& e) {
      fetched.push_back(e.Caption);
      fetchedAt = player->GetPositionMs();
      return std::shared_ptr<IPlayableDownload>();
    };
  });
  // The engine runs on its own thread: play on until the position gets there, not for a time.
  auto playUntil = [&](int64_t ms, const std::function<bool()>& stop = [] { return false; }) {
    for (int i = 0; i < 200 && player->GetPositionMs() < ms && !stop(); ++i) PlayFor(50ms);
  };
  controller->OpenFiles({Song("local.wav", 4)});
  controller->PlayList().AddEntry(library->AddFromSearchResult("Singer - Next", LRMD5::MD5String("next")), false);
  Settle();
  playUntil(3000);
  EXPECT_TRUE(fetched.empty()) << "not before 80 %";
  playUntil(3700, [&] { return !fetched.empty(); });
  EXPECT_EQ(fetched, std::vector<std::string>{"Singer - Next"});
  EXPECT_GE(fetchedAt, 3200);
  playUntil(3500);
  EXPECT_EQ(fetched.size(), 1u) << "once a song";

  controller->ClickLoopButton();  // loop all -> play one song
  controller->PlayRow(0);
  Settle();
  playUntil(3700);
  EXPECT_EQ(fetched.size(), 1u);
}
