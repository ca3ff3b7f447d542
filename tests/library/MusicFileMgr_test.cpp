#include "base/EventLoop.h"

#include <optional>
#include "base/FileUtil.h"
#include "library/MusicFileMgr.h"
#include "tests/support/TestSupport.h"

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <thread>
#include <gtest/gtest.h>

using namespace ml;
namespace fs = std::filesystem;

namespace {

struct LibraryFixture : ::testing::Test {
  mltest::TempDir dir;
  std::string d = dir.Path().string() + "/";

  std::string Song(const std::string& name, const std::string& content) {
    fs::create_directories(fs::path(d + name).parent_path());
    mltest::WriteAll(d + name, content);
    return d + name;
  }
  // A file the library takes as a song, with content of the test's choosing.
  std::string Audio(const std::string& name, const std::string& content) { return Song(name, mltest::TinyWav(content)); }
};

const char* Digest(const char* text) {
  static std::string s;
  s = LRMD5::MD5DigestToStr(LRMD5::MD5String(text));
  return s.c_str();
}

}  // namespace

TEST_F(LibraryFixture, HandMadeLibraryLoadsWithDroppedFilesRemapped) {
  Song("music/a.mp3", "aaa");
  Song("music/c.mp3", "ccc");
  // b.mp3 was deleted from a folder that exists; d.mp3 lives on a drive that is not mounted.
  const std::string xml = std::string(R"(<?xml version="1.0" encoding="UTF-8"?>
<LRMusicFiles>
  <ShareFiles>
    <File><Encrypt>False</Encrypt><FileName>)") + d + R"(music/a.mp3</FileName><FileSize>3</FileSize>
      <FileHash>)" + Digest("aaa") + R"(</FileHash><ShareStatus>0</ShareStatus><Caption>甲</Caption><Duration>1000</Duration></File>
    <File><Encrypt>False</Encrypt><FileName>)" + d + R"(music/b.mp3</FileName><FileSize>3</FileSize><Caption>乙</Caption></File>
    <File><Encrypt>False</Encrypt><FileName>)" + d + R"(music/c.mp3</FileName><FileSize>3</FileSize><ShareStatus>2</ShareStatus><Caption>丙</Caption></File>
    <File><Encrypt>True</Encrypt><FileHash>0123456789ABCDEF0123456789abcdef</FileHash><Caption>网络歌曲</Caption><OwnerCount>4</OwnerCount></File>
    <File><Encrypt>False</Encrypt><FileName>/media/usb-not-mounted/d.mp3</FileName><Caption>丁</Caption></File>
  </ShareFiles>
  <PlayList>
    <List Name="[默认]" Style="0"><Item ID="0"/><Item ID="1"/><Item ID="2"/><Item ID="x"/><Item ID="99"/></List>
    <List Name="节目" Style="1" ID="77"><Item ID="3"/><Item ID="4"/></List>
  </PlayList>
</LRMusicFiles>)";
  mltest::WriteAll(d + "MusicFiles.xml", xml);
  TMusicFileMgr mgr;
  mgr.Load(d + "MusicFiles.xml");
  ASSERT_EQ(mgr.PlayLists().size(), 2u);
  const TPlayList& first = *mgr.PlayLists()[0];
  ASSERT_EQ(first.Items.size(), 2u) << "b is gone, the bad IDs are skipped";
  EXPECT_EQ(first.Items[0]->Caption, "甲");
  EXPECT_EQ(first.Items[1]->Caption, "丙");
  const TPlayList& programme = *mgr.PlayLists()[1];
  EXPECT_EQ(programme.Style, 1);
  EXPECT_EQ(programme.ID, 77);
  ASSERT_EQ(programme.Items.size(), 2u);
  EXPECT_TRUE(programme.Items[0]->Encrypt);
  EXPECT_EQ(programme.Items[0]->OwnerCount, 4);
  EXPECT_EQ(programme.Items[1]->Caption, "丁") << "an unmounted drive keeps its songs";
  EXPECT_EQ(first.Items[0]->OwnerCount, 1) << "missing OwnerCount reads as 1";
  EXPECT_EQ(mgr.FindByDigest(LRMD5::MD5StrToDigest("0123456789abcdef0123456789ABCDEF")), programme.Items[0]);
  mgr.WaitHashingIdle();
  EXPECT_EQ(mgr.Snapshot(first.Items[1]).FileHash, LRMD5::MD5String("ccc")) << "status 2 is hashed again";
  EXPECT_EQ(mgr.Snapshot(first.Items[0]).ShareStatus, ssReady);
}

// Large libraries are checked against the disk in batches, partly on a second thread: the
// verdicts must land on the right entries and the lists keep their order.
TEST_F(LibraryFixture, LargeLibraryKeepsFileOrderWhileCheckingTheDisk) {
  constexpr int Songs = 2000;
  std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<LRMusicFiles><ShareFiles>\n";
  std::vector<std::string> expected;  // captions of the kept entries, in file order
  std::vector<bool> changed;
  for (int i = 0; i < Songs; ++i) {
    const std::string caption = "歌" + std::to_string(i);
    std::string path;
    bool keep = true;
    const bool service = i % 11 == 0;
    if (service) {
      path = "";
    } else if (i % 13 == 0) {
      path = "/media/not-mounted-" + std::to_string(i % 3) + "/" + caption + ".mp3";  // kept unchecked
    } else {
      path = Song("album" + std::to_string(i / 12) + "/" + caption + ".mp3", caption);
      if (i % 7 == 0) {
        fs::remove(path);  // deleted from a folder that is there
        keep = false;
      }
    }
    // Every fifth song on disk was changed since it was hashed.
    const bool stale = !service && i % 13 != 0 && i % 5 == 0;
    const int64_t stored = stale ? 1 : (keep && !path.empty() && i % 13 != 0 ? StatFile(path).lastWriteTime : 0);
    xml += std::string("<File><Encrypt>") + (service ? "True" : "False") + "</Encrypt><FileName>" + path +
           "</FileName><FileHash>" + Digest(caption.c_str()) + "</FileHash><LastWriteTime>" + std::to_string(stored) +
           "</LastWriteTime><ShareStatus>0</ShareStatus><Caption>" + caption + "</Caption></File>\n";
    if (keep) {
      expected.push_back(caption);
      changed.push_back(stale);
    }
  }
  xml += "</ShareFiles><PlayList><List Name=\"all\">";
  for (int i = Songs - 1; i >= 0; --i) xml += "<Item ID=\"" + std::to_string(i) + "\"/>";
  xml += "</List></PlayList></LRMusicFiles>\n";
  mltest::WriteAll(d + "MusicFiles.xml", xml);

  TMusicFileMgr mgr;
  mgr.Load(d + "MusicFiles.xml");
  ASSERT_EQ(mgr.PlayLists().size(), 1u);
  const auto& items = mgr.PlayLists()[0]->Items;
  ASSERT_EQ(items.size(), expected.size());
  for (size_t k = 0; k < items.size(); ++k) {
    const size_t i = items.size() - 1 - k;  // the list holds the songs backwards
    const TShareFileInfo e = mgr.Snapshot(items[k]);
    EXPECT_EQ(e.Caption, expected[i]);
    if (changed[i]) {
      // Its new time is taken at once; its digest is computed again in the background.
      EXPECT_EQ(e.LastWriteTime, StatFile(e.FileName).lastWriteTime) << e.Caption;
    } else {
      EXPECT_EQ(e.ShareStatus, ssReady) << e.Caption;
    }
  }
}

TEST_F(LibraryFixture, SaveThenLoadGivesTheSameLibrary) {
  const std::string a = Audio("x/一.mp3", "one"), b = Audio("x/two.wav", "two");
  std::string first, second;
  {
    TMusicFileMgr mgr;
    TPlayList* list = mgr.NewPlayList("我的 \"歌\" & <列表>");
    list->Items.push_back(mgr.AddFile(a).Entry);
    list->Items.push_back(mgr.AddFile(b).Entry);
    list->Items.push_back(mgr.AddFromSearchResult("搜\x01索\x00", LRMD5::MD5String("remote")));
    mgr.SetLRCFileName(list->Items[0], a);
    mgr.WaitHashingIdle();
    ASSERT_TRUE(mgr.Save(d + "MusicFiles.xml"));
    first = mltest::ReadAll(d + "MusicFiles.xml");
  }
  TMusicFileMgr mgr;
  mgr.Load(d + "MusicFiles.xml");
  ASSERT_EQ(mgr.PlayLists().size(), 1u);
  EXPECT_EQ(mgr.PlayLists()[0]->Name, "我的 \"歌\" & <列表>");
  ASSERT_EQ(mgr.PlayLists()[0]->Items.size(), 3u);
  EXPECT_EQ(mgr.PlayLists()[0]->Items[0]->Caption, "一");
  EXPECT_EQ(mgr.PlayLists()[0]->Items[0]->LRCFileName, a);
  EXPECT_EQ(mgr.PlayLists()[0]->Items[2]->Caption, "搜 索") << "control characters never reach the file";
  ASSERT_TRUE(mgr.Save(d + "MusicFiles.xml"));
  second = mltest::ReadAll(d + "MusicFiles.xml");
  EXPECT_EQ(first, second);
  EXPECT_EQ(mltest::ReadAll(d + "MusicFiles.xml.bak"), first) << "the previous file is kept";
}

TEST_F(LibraryFixture, DamagedFilesFailCleanlyAndRecoveryUsesTheBackup) {
  const std::string path = d + "MusicFiles.xml";
  {
    TMusicFileMgr mgr;
    mgr.NewPlayList("good")->Items.push_back(mgr.AddFromSearchResult("s", LRMD5::MD5String("s")));
    ASSERT_TRUE(mgr.Save(path));
    ASSERT_TRUE(mgr.Save(path));  // now MusicFiles.xml.bak is the same good library
  }
  const std::string good = mltest::ReadAll(path);
  struct Case { const char* name; std::string text; } cases[] = {
      {"truncated", good.substr(0, good.size() / 2)},
      {"foreign element", "<LRMusicFiles><ShareFiles><Song/></ShareFiles></LRMusicFiles>"},
      {"item without ID", "<LRMusicFiles><PlayList><List><Item/></List></PlayList></LRMusicFiles>"},
      {"other root", "<Library/>"}};
  for (const auto& c : cases) {
    mltest::WriteAll(path, c.text);
    TMusicFileMgr mgr;
    EXPECT_THROW(mgr.Load(path), EFileFormat) << c.name;
    EXPECT_EQ(mgr.EntryCount(), 0u);
    std::string error;
    EXPECT_TRUE(mgr.LoadWithRecovery(path, &error)) << c.name;
    ASSERT_EQ(mgr.PlayLists().size(), 1u) << c.name;
    EXPECT_EQ(mgr.PlayLists()[0]->Name, "good");
    EXPECT_EQ(mltest::ReadAll(path + ".bad"), c.text) << "the damaged file is kept aside";
    fs::remove(path + ".bad");
  }
}

TEST_F(LibraryFixture, AddingTheSameFileTwiceAndPathsAreExact) {
  const std::string a = Audio("Song.mp3", "data");
  TMusicFileMgr mgr;
  const TAddResult first = mgr.AddFile(a);
  ASSERT_EQ(first.Kind, TAddResult::New) << first.Refusal;
  const TAddResult again = mgr.AddFile(a);
  EXPECT_EQ(again.Kind, TAddResult::AlreadyPresent);
  EXPECT_EQ(again.Entry, first.Entry);
  EXPECT_EQ(first.Entry->Caption, "Song");
  EXPECT_EQ(mgr.AddFile(d + "song.mp3").Refusal, "no such file") << "another name on a case-sensitive disk";
}

// Files no reader recognises never become 00:00 songs; each refusal says why.
TEST_F(LibraryFixture, FilesThatAreNoSongsAreRefusedWithAReason) {
  const std::string mp3 = mltest::ReadAll(mltest::SourceDir() + "/tests/data/media/tiny_v22.mp3");
  struct Case {
    std::string path, reason;
  } cases[] = {
      {d + "missing.mp3", "no such file"},
      {Song("empty.mp3", ""), "an empty file"},
      {Song("notes.mp3", "just some text, not a song\n"), "not an audio file this player knows"},
      {Song("song.flac", std::string("fLaC\0\0\0\x22", 8) + std::string(34, '\x10')), "not an audio file this player knows"},
      // One frame header of a 417-byte frame, cut at 300 bytes: no whole frame to play.
      {Song("cut.mp3", "\xFF\xFB\x90\x64" + std::string(296, '\x55')), "not an audio file this player knows"},
      {d, "a folder"},
  };
  TMusicFileMgr mgr;
  for (const Case& c : cases) {
    const TAddResult r = mgr.AddFile(c.path);
    EXPECT_EQ(r.Kind, TAddResult::Refused) << c.path;
    EXPECT_EQ(r.Entry, nullptr) << c.path;
    EXPECT_EQ(r.Refusal, c.reason) << c.path;
  }
  EXPECT_EQ(mgr.EntryCount(), 0u);
  EXPECT_EQ(mgr.AddFile(Song("real.mp3", mp3)).Kind, TAddResult::New);
}

TEST_F(LibraryFixture, DuplicateContentMergesIntoTheOlderEntry) {
  EventLoop loop;
  TMusicFileMgr mgr(&loop);
  std::vector<std::pair<TShareFileInfo*, TShareFileInfo*>> merged;
  mgr.SetOnDuplicateFound([&](TShareFileInfo* removed, TShareFileInfo* kept) {
    EXPECT_TRUE(loop.IsMainThread());
    merged.emplace_back(removed, kept);
    mgr.ReplaceInPlayLists(removed, kept);
  });
  TShareFileInfo* older = mgr.AddFile(Audio("a/first.mp3", "same bytes")).Entry;
  mgr.WaitHashingIdle();
  TShareFileInfo* newer = mgr.AddFile(Audio("b/second copy.mp3", "same bytes")).Entry;
  TPlayList* one = mgr.NewPlayList("one");
  one->Items = {newer};
  TPlayList* both = mgr.NewPlayList("both");
  both->Items = {older, newer};
  mgr.WaitHashingIdle();
  ASSERT_EQ(merged.size(), 1u);
  EXPECT_EQ(merged[0], std::make_pair(newer, older));
  EXPECT_EQ(mgr.Snapshot(newer).ShareStatus, ssRemoved);
  EXPECT_EQ(one->Items, std::vector<TShareFileInfo*>{older});
  EXPECT_EQ(both->Items, std::vector<TShareFileInfo*>{older}) << "a list holding both keeps one";
  EXPECT_EQ(mgr.FindByDigest(LRMD5::MD5String(mltest::TinyWav("same bytes"))), older);
  EXPECT_EQ(mgr.LiveEntryCount(), 1u);
}

// The hashing thread hands a merge to the main thread and waits; a main thread that destroys
// the manager instead of running its loop must not wait for it forever.
TEST_F(LibraryFixture, DestroyingTheManagerReleasesAPendingDuplicateHandler) {
  EventLoop loop;
  int handled = 0;
  std::atomic<bool> destroyed{false};
  std::thread watchdog([&] {
    for (int i = 0; i < 1000 && !destroyed; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (!destroyed) {
      std::fprintf(stderr, "the manager's destructor hangs\n");
      std::_Exit(1);
    }
  });
  {
    auto mgr = std::make_unique<TMusicFileMgr>(&loop);
    mgr->SetOnDuplicateFound([&](TShareFileInfo*, TShareFileInfo*) { ++handled; });
    mgr->AddFile(Audio("a/one.mp3", "same"));
    TShareFileInfo* copy = mgr->AddFile(Audio("b/two.mp3", "same")).Entry;
    // Without the loop running, the thread merges the copy and then waits in its hand-off.
    while (mgr->Snapshot(copy).ShareStatus != ssRemoved) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    mgr.reset();
  }
  destroyed = true;
  watchdog.join();
  loop.ProcessPending();
  EXPECT_EQ(handled, 0) << "the abandoned handler never runs after the manager is gone";
}

// A merge waits for the main thread; an owner that clears its handler meanwhile (a playlist
// controller going away) is not called after it has gone.
TEST_F(LibraryFixture, AHandlerClearedBeforeTheMergeIsAnnouncedIsNotCalled) {
  EventLoop loop;
  TMusicFileMgr mgr(&loop);
  int handled = 0;
  mgr.SetOnDuplicateFound([&](TShareFileInfo*, TShareFileInfo*) { ++handled; });
  mgr.AddFile(Audio("a/one.mp3", "same"));
  TShareFileInfo* copy = mgr.AddFile(Audio("b/two.mp3", "same")).Entry;
  while (mgr.Snapshot(copy).ShareStatus != ssRemoved) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  mgr.SetOnDuplicateFound(nullptr);
  mgr.WaitHashingIdle();
  EXPECT_EQ(handled, 0);
}

// Choosing a download path may read a whole file: it happens on the library's thread, and the
// answer comes back through the main loop.
TEST_F(LibraryFixture, DownloadPathIsChosenOffTheMainThread) {
  EventLoop loop;
  TMusicFileMgr mgr(&loop);
  mgr.SetDownloadFolder(d + "Music");
  fs::create_directories(d + "Music");
  const TMD5Digest digest = LRMD5::MD5String("the song");
  TShareFileInfo* e = mgr.AddFromSearchResult("歌", digest);
  mltest::WriteAll(d + "Music/" + LRMD5::MD5DigestToStr(digest) + ".mp3", "the song");  // already here
  std::optional<bool> missing;
  mgr.PrepareDownload(e, [&](bool m) {
    EXPECT_TRUE(loop.IsMainThread());
    missing = m;
  });
  EXPECT_FALSE(missing) << "not answered inline";
  ASSERT_TRUE(loop.WaitPumping([&] { return missing.has_value(); }, Millis(10000)));
  EXPECT_FALSE(*missing) << "the file at the path is this song";
  EXPECT_EQ(mgr.Snapshot(e).FileName, d + "Music/" + LRMD5::MD5DigestToStr(digest) + ".mp3");
}

TEST_F(LibraryFixture, PlaylistPayloadRoundTripAndTruncation) {
  TMusicFileMgr mgr;
  TPlayList list;
  list.Items.push_back(mgr.AddFromPlayListInfo({"歌一", LRMD5::MD5String("1"), 180000}));
  list.Items.push_back(mgr.AddFromPlayListInfo({"", LRMD5::MD5String("2"), 5}));
  TShareFileInfo unknown;  // no digest: not uploaded
  list.Items.push_back(&unknown);
  const std::string payload = TMusicFileMgr().BuildPayload(list);
  ASSERT_EQ(payload.size(), (2 + 4 + 16 + 4) + (2 + 0 + 16 + 4));
  EXPECT_EQ(payload.substr(26, 2), std::string("\0\0", 2)) << "an empty caption is a zero length";
  auto items = TMusicFileMgr::ParsePayload(payload);
  ASSERT_EQ(items.size(), 2u);
  EXPECT_EQ(items[0].Caption, "歌一");
  EXPECT_EQ(items[0].Duration, 180000);
  EXPECT_EQ(items[1].Digest, LRMD5::MD5String("2"));
  for (size_t cut = 0; cut < payload.size(); ++cut)
    EXPECT_EQ(TMusicFileMgr::ParsePayload(payload.substr(0, cut)).size(), cut < 26 ? 0u : 1u) << cut;
  EXPECT_TRUE(TMusicFileMgr::ParsePayload("\xFF\xFF" + std::string(30, 'x')).empty()) << "an absurd length";
}

TEST_F(LibraryFixture, DownloadNamingAvoidsOtherSongs) {
  TMusicFileMgr mgr;
  mgr.SetDownloadFolder(d + "Music");
  fs::create_directories(d + "Music/Temp");
  const TMD5Digest digest = LRMD5::MD5String("the song");
  TShareFileInfo* e = mgr.AddFromSearchResult("歌", digest);
  const std::string base = d + "Music/" + LRMD5::MD5DigestToStr(digest);
  mltest::WriteAll(base + ".mp3", "some other song");
  bool missing = false;
  mgr.PrepareDownload(e, [&](bool m) { missing = m; });
  ASSERT_TRUE(missing);
  EXPECT_EQ(mgr.Snapshot(e).FileName, base + " (1).mp3");
  EXPECT_EQ(mgr.Snapshot(e).ShareStatus, ssNeedDownload);
  EXPECT_FALSE(mgr.DownloadCompleted(e)) << "nothing downloaded yet";
  // The transfer finished into the temporary folder: the library takes a copy in Music/.
  TShareFileInfo* f = mgr.AddFromSearchResult("另一首", LRMD5::MD5String("x"));
  mltest::WriteAll(d + "Music/Temp/part.mp3", "x");
  mgr.SetLackSource(f, true);
  f->FileName = d + "Music/Temp/part.mp3";  // where the transfer manager put it
  ASSERT_TRUE(mgr.DownloadCompleted(f));
  TShareFileInfo s = mgr.Snapshot(f);
  EXPECT_EQ(s.FileName, d + "Music/" + LRMD5::MD5DigestToStr(LRMD5::MD5String("x")) + ".mp3");
  EXPECT_EQ(mltest::ReadAll(s.FileName), "x");
  EXPECT_FALSE(s.LackSource);
  EXPECT_EQ(s.ShareStatus, ssReady);
}

TEST_F(LibraryFixture, FolderScanMatchesWholeExtensionsAndSurvivesLinkLoops) {
  Song("m/a.mp3", "1");
  Song("m/b.MP3", "1");
  Song("m/c.mp", "1");
  Song("m/d.mp3x", "1");
  Song("m/sub/e.wma", "1");
  fs::create_directory_symlink(d + "m", d + "m/sub/loop");
  auto found = ScanFolder(d + "m", ".MP3|.WMA", true);
  std::sort(found.begin(), found.end());
  EXPECT_EQ(found, (std::vector<std::string>{d + "m/a.mp3", d + "m/b.MP3", d + "m/sub/e.wma"}));
  EXPECT_EQ(ScanFolder(d + "m", ".MP3", false).size(), 2u);
}

TEST_F(LibraryFixture, ReaderAcceptsWellFormedVariantsAndRefusesTheRest) {
  const std::string file = "<File><Encrypt>True</Encrypt><FileHash>0123456789abcdef0123456789abcdef</FileHash>";
  struct Case {
    const char* name;
    std::string text;
    bool loads;
    std::string caption;  // of the first entry
    size_t items;         // in the first list
  } cases[] = {
      {"entities, references, CDATA and a comment",
       "<?xml version=\"1.0\"?><!-- c --><LRMusicFiles><ShareFiles>" + file +
           "<Caption>a &amp; b &#x6B4C;&#27468; <![CDATA[<c>]]> &unknown;</Caption></File></ShareFiles></LRMusicFiles>",
       true, "a & b 歌歌 <c> &unknown;", 0},
      {"lists before files, single quotes, self-closing items",
       "<LRMusicFiles><PlayList><List Name='x'><Item ID='0'/><Item ID=\"0\"></Item></List></PlayList><ShareFiles>" +
           file + "<Caption>q</Caption></File></ShareFiles></LRMusicFiles>",
       true, "q", 2},
      {"unknown sections and nested elements are skipped",
       "<LRMusicFiles><Extra><a/></Extra><ShareFiles>" + file +
           "<Caption>z<b>y</b></Caption><Unknown>1</Unknown></File></ShareFiles></LRMusicFiles>",
       true, "z", 0},
      {"empty leaves, and blanks inside tags",
       "<LRMusicFiles><ShareFiles>" + file +
           "<Title/><Album></Album><Caption >q</Caption\t></File></ShareFiles></LRMusicFiles>",
       true, "q", 0},
      {"a leaf closed by another name", "<LRMusicFiles><ShareFiles>" + file + "<Caption>q</Captio></File></ShareFiles></LRMusicFiles>",
       false, "", 0},
      {"a DOCTYPE without subset", "<!DOCTYPE LRMusicFiles><LRMusicFiles/>", true, "", 0},
      {"a DTD subset", "<!DOCTYPE r [<!ENTITY a 'b'>]><LRMusicFiles/>", false, "", 0},
      {"mismatched end tag", "<LRMusicFiles><ShareFiles></PlayList></LRMusicFiles>", false, "", 0},
      {"unterminated value", "<LRMusicFiles><PlayList><List Name=\"x><Item ID=\"0\"/></List></PlayList></LRMusicFiles>", false, "", 0},
      {"text outside the root", "junk<LRMusicFiles/>", false, "", 0},
      {"two roots", "<LRMusicFiles/><LRMusicFiles/>", false, "", 0},
      {"empty file", "", false, "", 0},
  };
  for (const auto& c : cases) {
    mltest::WriteAll(d + "lib.xml", c.text);
    TMusicFileMgr mgr;
    if (!c.loads) {
      EXPECT_THROW(mgr.Load(d + "lib.xml"), EFileFormat) << c.name;
      EXPECT_EQ(mgr.EntryCount(), 0u) << c.name;
      continue;
    }
    ASSERT_NO_THROW(mgr.Load(d + "lib.xml")) << c.name;
    if (!c.caption.empty()) {
      ASSERT_GE(mgr.EntryCount(), 1u) << c.name;
      EXPECT_EQ(mgr.FindByDigest(LRMD5::MD5StrToDigest("0123456789abcdef0123456789abcdef"))->Caption, c.caption)
          << c.name;
    }
    if (c.items) {
      EXPECT_EQ(mgr.PlayLists()[0]->Items.size(), c.items) << c.name;
    }
  }
}
