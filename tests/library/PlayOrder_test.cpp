#include "base/EventLoop.h"
#include "library/PlayListController.h"
#include "tests/support/TestSupport.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <map>

using namespace ml;

namespace {

struct FakeHost : IPlayListHost {
  std::vector<TShareFileInfo*> played;
  int stops = 0;
  bool confirm = true;
  std::vector<TMD5Digest> cancelled;
  void PlayEntryRequested(TShareFileInfo* e) override { played.push_back(e); }
  void StopRequested() override { ++stops; }
  void CancelDownload(const TMD5Digest& d) override { cancelled.push_back(d); }
  bool ConfirmDeleteFiles(int) override { return confirm; }
};

// A library whose first list holds n service songs named "1".."n".
struct Library {
  TMusicFileMgr mgr;
  FakeHost host;
  std::vector<TShareFileInfo*> songs;

  std::unique_ptr<TPlayListController> Make(int n, TPlayListSettings settings = {}) {
    TPlayList* list = mgr.NewPlayList("[默认]");
    for (int i = 1; i <= n; ++i) {
      songs.push_back(mgr.AddFromSearchResult(std::to_string(i), LRMD5::MD5String(std::to_string(i))));
      list->Items.push_back(songs.back());
    }
    return std::make_unique<TPlayListController>(mgr, host, settings, 1234);
  }
  TShareFileInfo* S(int oneBased) { return songs[static_cast<size_t>(oneBased - 1)]; }
  std::string Captions(const std::vector<TShareFileInfo*>& v) {
    std::string out;
    for (auto* e : v) out += (out.empty() ? "" : ",") + e->Caption;
    return out;
  }
};

struct OrderFixture : ::testing::Test, Library {};

TPlayListSettings Loop(int mode) {
  TPlayListSettings s;
  s.PlayListLoopType = mode;
  return s;
}

TPlayListSettings Random() {
  TPlayListSettings s;
  s.PlayListOrderType = poRandom;
  return s;
}

TFindOptions Find(const char* title, const char* artist, const char* album) {
  TFindOptions o;
  o.Title = title;
  o.Artist = artist;
  o.Album = album;
  return o;
}

}  // namespace

TEST_F(OrderFixture, NextAndPreviousTable) {
  struct Case {
    int loop; int current; bool automatic; std::vector<int> lacking; int next; int previous;
  } cases[] = {
      // loop mode, current song (1-based, 0 none), song ended by itself?, songs without source,
      // expected next and previous (0 = none)
      {plLoopAll, 5, true, {}, 1, 4},       {plLoopAll, 1, false, {}, 2, 5},
      {plSinglePlay, 5, false, {}, 1, 4},   {plSinglePlay, 5, true, {}, 0, 4},
      {plSinglePlay, 1, true, {}, 2, 0},    {plSingleRepeat, 3, true, {}, 3, 3},
      {plSingleRepeat, 3, false, {}, 4, 2}, {plLoopAll, 0, true, {}, 1, 1},
      {plLoopAll, 2, true, {3, 4, 5}, 1, 1},  {plSinglePlay, 2, true, {3, 4, 5}, 0, 1},
      {plLoopAll, 4, true, {3, 2}, 5, 1},   {plLoopAll, 4, true, {1, 2, 3, 5}, 4, 4},
      {plSingleRepeat, 2, true, {2}, 2, 2}, {plSinglePlay, 2, true, {1}, 3, 0},
  };
  for (const auto& c : cases) {
    Library f;
    auto ctl = f.Make(5, Loop(c.loop));
    for (int l : c.lacking) f.S(l)->LackSource = true;
    ctl->PlayEntry(f.mgr.PlayLists()[0].get(), c.current ? f.S(c.current) : nullptr);
    if (!c.current) ctl->StopPlaying(), ctl->PlayEntry(f.mgr.PlayLists()[0].get(), nullptr);
    auto name = [](TShareFileInfo* e) { return e ? std::stoi(e->Caption) : 0; };
    const int startedAt = name(ctl->CurrentEntry());
    SCOPED_TRACE("loop " + std::to_string(c.loop) + " at " + std::to_string(startedAt));
    if (!c.current) continue;  // with no current song, playing starts at the first song
    EXPECT_EQ(name(ctl->NextEntry(c.automatic)), c.next);
    EXPECT_EQ(name(ctl->PreviousEntry(c.automatic)), c.previous);
  }
}

TEST_F(OrderFixture, RandomOrderCoversEveryoneOnceAndOneSongListRepeats) {
  auto ctl = Make(8, Random());
  ctl->PlayEntry(mgr.PlayLists()[0].get(), nullptr);
  std::set<TShareFileInfo*> seen{ctl->CurrentEntry()};
  for (int i = 0; i < 7; ++i) {
    ctl->PlayEntry(ctl->PlayingList(), ctl->NextEntry(true));
    seen.insert(ctl->CurrentEntry());
  }
  EXPECT_EQ(seen.size(), 8u);
  Library one;
  auto single = one.Make(1, Random());
  single->PlayEntry(one.mgr.PlayLists()[0].get(), nullptr);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(single->NextEntry(true), one.S(1));
}

TEST_F(OrderFixture, ShuffleIsUnbiased) {
  // Every one of the 6 orders of 3 songs is about equally likely (the swap-with-any-place
  // shuffle makes some orders half again as likely as others).
  auto ctl = Make(3, Random());
  std::map<std::string, int> counts;
  for (int i = 0; i < 6000; ++i) {
    ctl->StopPlaying();
    ctl->PlayEntry(mgr.PlayLists()[0].get(), nullptr);
    std::string order = ctl->CurrentEntry()->Caption;
    for (int k = 0; k < 2; ++k) {
      ctl->PlayEntry(ctl->PlayingList(), ctl->NextEntry(true));
      order += ctl->CurrentEntry()->Caption;
    }
    ++counts[order];
  }
  ASSERT_EQ(counts.size(), 6u);
  for (auto& [order, n] : counts) EXPECT_NEAR(n, 1000, 150) << order;
}

TEST_F(OrderFixture, PlayNowReturnsToTheInterruptedSong) {
  mltest::TempDir dir;
  auto ctl = Make(10);
  ctl->PlayEntry(mgr.PlayLists()[0].get(), S(4));
  for (int i = 0; i < 3; ++i) {
    std::string path = dir.File("new" + std::to_string(i) + ".mp3");
    mltest::WriteAll(path, mltest::TinyWav("new song " + std::to_string(i)));
    ASSERT_EQ(ctl->AddFile(path, true).Kind, TAddResult::New);
  }
  EXPECT_EQ(ctl->CurrentEntry()->Caption, "new2");
  TShareFileInfo* next = ctl->NextEntry(true);
  EXPECT_EQ(next, S(4)) << "after the last added song, the interrupted one plays again";
  ctl->PlayEntry(ctl->PlayingList(), next);
  EXPECT_EQ(ctl->ResumeEntry(), nullptr);
  EXPECT_EQ(ctl->NextEntry(true), S(5));
}

TEST_F(OrderFixture, MovingAndRemovingSongs) {
  auto ctl = Make(6);
  ctl->Select({1, 4});
  ctl->MoveTop();
  EXPECT_EQ(Captions(mgr.PlayLists()[0]->Items), "2,5,1,3,4,6");
  EXPECT_EQ(ctl->Selection(), (std::set<size_t>{0, 1}));
  ctl->Select({0});
  ctl->MoveDown();
  EXPECT_EQ(Captions(ctl->Songs()), "5,2,1,3,4,6");
  ctl->Select({0, 2});
  ctl->MoveBottom();
  EXPECT_EQ(Captions(ctl->Songs()), "2,3,4,6,5,1");

  Library g;
  auto c8 = g.Make(8);
  c8->PlayEntry(g.mgr.PlayLists()[0].get(), g.S(4));
  c8->Select({2, 3, 4});
  ASSERT_TRUE(c8->RemoveSelected(false));
  EXPECT_EQ(g.Captions(g.mgr.PlayLists()[0]->Items), "1,2,6,7,8");
  EXPECT_EQ(c8->Selection(), (std::set<size_t>{2})) << "the song that was 6th is selected";
  EXPECT_EQ(c8->CurrentEntry(), nullptr) << "the playing song was removed";
  EXPECT_GE(g.host.stops, 2);
}

TEST_F(OrderFixture, DeletingFromDiskOnlyWhenConfirmedAndReallyDeleted) {
  mltest::TempDir dir;
  auto ctl = Make(0);
  std::vector<std::string> paths;
  for (int i = 0; i < 3; ++i) {
    paths.push_back(dir.File(std::to_string(i) + ".mp3"));
    mltest::WriteAll(paths.back(), mltest::TinyWav("song " + std::to_string(i)));
  }
  ASSERT_EQ(ctl->AddFiles(paths).size(), 3u);
  ASSERT_EQ(ctl->Songs().size(), 3u);
  ctl->Select({1});
  host.confirm = false;
  EXPECT_FALSE(ctl->RemoveSelected(true));
  EXPECT_TRUE(std::filesystem::exists(paths[1]));
  host.confirm = true;
  ctl->Select({1});
  ASSERT_TRUE(ctl->RemoveSelected(true));
  EXPECT_FALSE(std::filesystem::exists(paths[1]));
  EXPECT_EQ(mgr.LiveEntryCount(), 2u);
  TPlayListSettings locked;
  locked.DisableDelFile = true;
  Library g;
  auto c = g.Make(2, locked);
  c->Select({0});
  EXPECT_FALSE(c->RemoveSelected(true)) << "disabled by the setting";
}

TEST_F(OrderFixture, ListsCreateRenameMoveDeleteAndDrop) {
  auto ctl = Make(4);
  TPlayList* second = ctl->NewList();
  EXPECT_EQ(second->Name, "列表2");
  EXPECT_EQ(ctl->ShownList(), second);
  ctl->ShowList(0);
  ctl->Select({0, 2});
  ctl->DropSelectedOnList(1, true);
  EXPECT_EQ(Captions(second->Items), "3,1") << "taken from the bottom up";
  EXPECT_EQ(Captions(mgr.PlayLists()[0]->Items), "1,2,3,4") << "Ctrl held: a copy";
  ctl->ShowList(0);
  ctl->Select({1});
  ctl->DropSelectedOnList(1, false);
  EXPECT_EQ(Captions(mgr.PlayLists()[0]->Items), "1,3,4");
  EXPECT_EQ(Captions(second->Items), "3,1,2");
  ctl->MoveListTo(1, 0);
  EXPECT_EQ(mgr.PlayLists()[0].get(), second);
  EXPECT_TRUE(ctl->DeleteList(0));
  EXPECT_FALSE(ctl->DeleteList(0)) << "the last list stays";
  EXPECT_EQ(mgr.PlayLists().size(), 1u);
}

TEST_F(OrderFixture, FindingSongs) {
  auto ctl = Make(0);
  const char* data[][3] = {{"Yesterday", "Beatles", "Help"}, {"Let it be", "beatles", "Let It Be"},
                           {"Hey Jude", "Beatles", ""}, {"月亮代表我的心", "邓丽君", ""}};
  for (auto& row : data) {
    TShareFileInfo* e = mgr.AddFromSearchResult(row[0], LRMD5::MD5String(row[0]));
    e->Artist = row[1];
    e->Album = row[2];
    ctl->AddEntry(e, false);
  }
  TFindOptions byArtist = Find("", "beatles", "");
  EXPECT_EQ(ctl->FindNext(byArtist), 0);
  EXPECT_EQ(ctl->FindNext(byArtist), 1);
  EXPECT_EQ(ctl->FindNext(byArtist), 2);
  EXPECT_EQ(ctl->FindNext(byArtist), -1) << "no wrap-around";
  EXPECT_EQ(ctl->FindNext(byArtist), 0) << "then it starts over";
  byArtist.MatchCase = true;
  byArtist.Artist = "Beatles";
  byArtist.WholeText = true;
  byArtist.Backwards = true;
  EXPECT_EQ(ctl->FindNext(byArtist), 0);
  EXPECT_EQ(ctl->FindNext(Find("", "", "let")), 1);
  EXPECT_EQ(ctl->MarkAll(Find("e", "beatles", "")), 3);
  ctl->QuickFind("月亮");
  EXPECT_EQ(ctl->Selection(), (std::set<size_t>{3}));
}

TEST_F(OrderFixture, DuplicateMergeFollowsThePlayingSong) {
  EventLoop loop;
  TMusicFileMgr lib(&loop);
  FakeHost h;
  mltest::TempDir dir;
  mltest::WriteAll(dir.File("a.mp3"), mltest::TinyWav("same"));
  mltest::WriteAll(dir.File("b.mp3"), mltest::TinyWav("same"));
  TPlayListController ctl(lib, h, {}, 1);
  TShareFileInfo* a = ctl.AddFile(dir.File("a.mp3"), false).Entry;
  lib.WaitHashingIdle();
  TShareFileInfo* b = ctl.AddFile(dir.File("b.mp3"), true).Entry;
  EXPECT_EQ(ctl.CurrentEntry(), b);
  lib.WaitHashingIdle();
  EXPECT_EQ(ctl.CurrentEntry(), a) << "the kept entry becomes current";
  EXPECT_EQ(ctl.Songs(), std::vector<TShareFileInfo*>{a});
  EXPECT_EQ(lib.PlayLists()[0]->Items, std::vector<TShareFileInfo*>{a});
}
