// The lyric downloader on a manual loop: what it sends and when it gives up, parts taken in any
// order and once, answers to an older request dropped, and the lyric written only when whole, so
// that an existing lyric survives a download that never completes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/EventLoop.h"
#include "base/GbkText.h"
#include "net/LyricRecords.h"
#include "online/uDownLRC.h"
#include "tests/net/NetTestTools.h"
#include "tests/support/TestSupport.h"

using namespace ml;
using mlnettest::Bytes;
using mlnettest::Written;

namespace {

class DownLRC : public ::testing::Test {
protected:
  ManualLoop loop;
  std::vector<Bytes> sent;
  TDownLRC down{loop, [this](const uint8_t* r, int32_t n) {
                  sent.emplace_back(r, r + n);
                  return true;
                }};
  mltest::TempDir dir;
  std::vector<std::string> events;

  void SetUp() override {
    down.OnSearchDone = [this](const TSearchResult& r) { events.push_back("found " + std::to_string(r.Results.size())); };
    down.OnSearchTimedOut = [this](int32_t, const std::string&) { events.push_back("search timed out"); };
    down.OnDownloadDone = [this](int32_t, const std::string& path, int32_t) { events.push_back("saved " + path); };
    down.OnDownloadTimedOut = [this](int32_t, int32_t) { events.push_back("download timed out"); };
  }
  void Part(int32_t request, int32_t lyric, uint8_t count, uint8_t index, const std::string& data) {
    const Bytes b = Written(WriteLyricPart, TLyricPart{request, lyric, count, index, data});
    down.TakeLyricPart(b.data(), int32_t(b.size()));
  }
};

TEST_F(DownLRC, PartsInAnyOrderMakeTheLyricOnce) {
  const std::string path = dir.File("Lyric/a - b.lrc");
  const std::string lyric = std::string(1024, 'x') + std::string(1024, 'y') + "[00:01.00]end";
  down.Download(5, 77, path);
  for (uint8_t i : {2, 0, 0, 1}) {
    EXPECT_TRUE(events.empty()) << "not before the last part";
    Part(5, 77, 3, i, lyric.substr(i * 1024u, 1024));
  }
  EXPECT_EQ(events, std::vector<std::string>{"saved " + path});
  EXPECT_EQ(mltest::ReadAll(path), lyric);
  Part(5, 77, 3, 1, "late");
  EXPECT_EQ(events.size(), 1u) << "a late part changes nothing";
}

TEST_F(DownLRC, AnExistingLyricSurvivesADownloadThatNeverCompletes) {
  const std::string path = dir.File("old.lrc");
  mltest::WriteAll(path, "[00:01.00]the lyric we had");
  down.Download(5, 77, path);
  Part(5, 77, 2, 0, std::string(1024, 'x'));
  Part(6, 77, 2, 1, "of another request");
  Part(5, 78, 2, 1, "of another lyric");
  EXPECT_EQ(mltest::ReadAll(path), "[00:01.00]the lyric we had");
  loop.Advance(Millis(20000));
  EXPECT_EQ(events, std::vector<std::string>{"download timed out"});
  EXPECT_EQ(sent.size(), 4u) << "the request and three more";
  EXPECT_EQ(mltest::ReadAll(path), "[00:01.00]the lyric we had");
}

TEST_F(DownLRC, SearchesRetryAndDropAnswersToOlderRequests) {
  down.SearchBySong(1, std::string(129, 'a'), 1000);
  EXPECT_TRUE(sent.empty()) << "a caption over 128 bytes starts nothing";
  down.SearchBySong(1, "星光", 200000);
  down.SearchBySingerAndSong(2, "", "星光");
  ASSERT_EQ(sent.size(), 2u);
  TLyricSearchRequest bySong;
  ASSERT_TRUE(ReadLyricSearchRequest(sent[0].data(), sent[0].size(), bySong));
  EXPECT_EQ(bySong.SongName, Utf8ToGbk("星光"));
  EXPECT_EQ(bySong.DurationMs, 200000);
  EXPECT_EQ(sent[1], (Bytes{0x81, 0, 2, 0, 0, 0, 0, 4, 0xD0, 0xC7, 0xB9, 0xE2})) << "a singer-less search sends length 0";
  const Bytes old = Written(WriteLyricSearchReply, TLyricSearchReply{1, {{3, "A", "B"}}});
  down.TakeSearchReply(old.data(), int32_t(old.size()));
  EXPECT_TRUE(events.empty()) << "the first search's answer is no longer wanted";
  loop.Advance(Millis(2000));
  EXPECT_EQ(sent.size(), 2u) << "not at 2 s";
  loop.Advance(Millis(1000));
  EXPECT_EQ(sent.size(), 3u) << "sent again at the timer's first tick after more than 2 s";
  const Bytes current = Written(WriteLyricSearchReply, TLyricSearchReply{2, {{3, "A", "B"}, {4, "", "C"}}});
  down.TakeSearchReply(current.data(), int32_t(current.size()));
  EXPECT_EQ(events, std::vector<std::string>{"found 2"});
  loop.Advance(Millis(20000));
  EXPECT_EQ(sent.size(), 3u) << "nothing more once answered";
  EXPECT_EQ(TDownLRC::LyricFileName({3, "Paper: Moon?", "Luna/Park"}), "Luna Park - Paper  Moon .lrc");
  EXPECT_EQ(TDownLRC::LyricFileName({3, "Title", ""}), "Title.lrc");
}

TEST_F(DownLRC, ALocalLyricIsFoundBeforeTheServiceIsAsked) {
  mltest::WriteAll(dir.File("luna park - paper moon.LRC"), "x");
  mltest::WriteAll(dir.File("Other.lrc"), "x");
  EXPECT_EQ(TDownLRC::FindLocalLyric(dir.Path().string(), "Luna Park - Paper Moon"),
            dir.File("luna park - paper moon.LRC"));
  EXPECT_EQ(TDownLRC::FindLocalLyric(dir.Path().string(), "Other"), dir.File("Other.lrc"));
  EXPECT_EQ(TDownLRC::FindLocalLyric(dir.Path().string(), "Nobody - Nothing"), "");
  EXPECT_EQ(TDownLRC::FindLocalLyric(dir.File("missing"), "Other"), "");
}

}  // namespace
