// The lyric search dialog offscreen over the real lyric downloader with a fake sender: prefilled
// from a caption, a search sent with the words typed, the hits listed and one chosen, the lyric
// downloaded to the folder under the file name shown, the messages of a failed search, the
// downloader's events given back to the main window's handlers when the dialog goes, and the
// countdown page that takes the first of the automatic search's hits after ten seconds.
#include "online/ui/udlgSearchAndDownLRC.h"

#include "base/EventLoop.h"
#include "net/LyricRecords.h"
#include "tests/net/NetTestTools.h"
#include "tests/support/TestSupport.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStackedWidget>
#include <QTest>
#include <QTreeWidget>

#include <gtest/gtest.h>

using namespace ml;
using mlnettest::Bytes;
using mlnettest::Written;

namespace {

class LyricDialog : public ::testing::Test {
protected:
  void SetUp() override {
    // What the main window leaves on the downloader: a record of the events it saw.
    down.OnSearchDone = [this](const TSearchResult& r) { windowSaw.push_back("found " + std::to_string(r.Results.size())); };
    down.OnDownloadDone = [this](int32_t id, const std::string& path, int32_t) {
      windowSaw.push_back("saved " + std::to_string(id) + " " + path);
    };
    dialog = new TdlgSearchAndDownLRC(down, [this] { return ++requests; }, folder);
    dialog->ShowMessage = [this](const QString& caption, const QString& text) {
      messages.push_back((caption + ": " + text).toStdString());
    };
  }
  void TearDown() override { delete dialog; }
  template <class R>
  std::vector<R> Sent(bool (*read)(const void*, size_t, R&)) {
    std::vector<R> out;
    for (const Bytes& b : sent)
      if (R r; read(b.data(), b.size(), r)) out.push_back(r);
    return out;
  }
  void Reply(int32_t request, const std::vector<TLyricHit>& hits) {
    const Bytes b = Written(WriteLyricSearchReply, TLyricSearchReply{request, hits});
    down.TakeSearchReply(b.data(), int32_t(b.size()));
  }
  std::string Tip() const { return dialog->Tips()->text().toStdString(); }

  // The main window's automatic search by caption and duration, answered with hits.
  void AutomaticSearchFinds(int32_t request, const std::vector<TLyricHit>& hits) {
    down.SearchBySong(request, "Luna Park - Paper Moon", 200000);
    Reply(request, hits);
  }
  std::vector<TLyricDownloadRequest> Downloads() { return Sent(ReadLyricDownloadRequest); }
  bool OnCountdownPage() const {
    return dialog->Pages()->currentWidget()->objectName() == "SearchLRC";
  }

  mltest::TempDir lyricDir;
  std::string folder = lyricDir.File("Lyric") + "/";
  ManualLoop loop;
  std::vector<Bytes> sent;
  TDownLRC down{loop, [this](const uint8_t* r, int32_t n) {
                  sent.emplace_back(r, r + n);
                  return true;
                }};
  int32_t requests = 40;
  std::vector<std::string> windowSaw, messages;
  TdlgSearchAndDownLRC* dialog = nullptr;
};

TEST_F(LyricDialog, SearchesListsAndDownloadsTheChosenHit) {
  dialog->Prefill("Luna Park - Paper Moon");
  EXPECT_EQ(dialog->SingerBox()->text().toStdString(), "Luna Park");
  EXPECT_EQ(dialog->SongBox()->text().toStdString(), "Paper Moon");
  EXPECT_FALSE(dialog->Tips()->isHidden()) << "singer and song given: the tip shows";
  dialog->Prefill("Paper Moon");
  EXPECT_EQ(dialog->SingerBox()->text().toStdString(), "");
  EXPECT_TRUE(dialog->Tips()->isHidden());

  dialog->SingerBox()->setText(" Luna Park ");
  QTest::mouseClick(dialog->SearchButton(), Qt::LeftButton);
  const auto asked = Sent(ReadLyricArtistSearchRequest);
  ASSERT_EQ(asked.size(), 1u);
  EXPECT_EQ(asked[0], (TLyricArtistSearchRequest{41, "Luna Park", "Paper Moon"}));
  EXPECT_FALSE(dialog->SearchButton()->isEnabled());
  EXPECT_EQ(Tip(), "正在服务器上搜索歌词...");

  Reply(41, {{5, "Luna Park", "Paper Moon"}, {6, "Other: Band", "Paper Moon?"}});
  EXPECT_EQ(windowSaw, std::vector<std::string>{"found 2"}) << "the window's handler runs too";
  ASSERT_EQ(dialog->Results()->topLevelItemCount(), 2);
  EXPECT_EQ(dialog->Results()->topLevelItem(1)->text(0).toStdString(), "Other: Band");
  EXPECT_EQ(Tip(), "选择歌词文件进行下载");
  EXPECT_TRUE(dialog->DownloadButton()->isEnabled());
  EXPECT_FALSE(OnCountdownPage()) << "the dialog's own search waits for the user";

  // The same words again while their hits are listed send nothing.
  sent.clear();
  dialog->Search();
  EXPECT_TRUE(sent.empty());

  dialog->Results()->setCurrentItem(dialog->Results()->topLevelItem(1));
  EXPECT_EQ(dialog->SingerBox()->text().toStdString(), "Other: Band");
  EXPECT_EQ(dialog->SongBox()->text().toStdString(), "Paper Moon?");
  EXPECT_EQ(dialog->FileNameBox()->text().toStdString(), "Other  Band - Paper Moon .lrc");
  dialog->FileNameBox()->setText("My: Moon.lrc");
  QTest::mouseClick(dialog->DownloadButton(), Qt::LeftButton);
  const auto downloads = Sent(ReadLyricDownloadRequest);
  ASSERT_EQ(downloads.size(), 1u);
  EXPECT_EQ(downloads[0], (TLyricDownloadRequest{41, 6}));
  EXPECT_EQ(dialog->result(), QDialog::Accepted);

  // Gone, the dialog hands the events back: the lyric's arrival is the window's alone.
  delete dialog;
  dialog = nullptr;
  mltest::TempDir dir;
  down.Download(41, 6, dir.File("My  Moon.lrc"));
  const Bytes part = Written(WriteLyricPart, TLyricPart{41, 6, 1, 0, "[00:00.00]a line of the lyric"});
  down.TakeLyricPart(part.data(), int32_t(part.size()));
  EXPECT_EQ(windowSaw.back(), "saved 41 " + dir.File("My  Moon.lrc"));
}

TEST_F(LyricDialog, SaysWhatWentWrong) {
  dialog->Prefill("");
  dialog->Search();
  EXPECT_EQ(messages, std::vector<std::string>{"提示: 请输入歌名"});
  EXPECT_TRUE(sent.empty());

  dialog->SongBox()->setText("Nothing");
  dialog->Search();
  Reply(41, {});
  EXPECT_EQ(Tip(), "未能在服务器上找到歌词");
  EXPECT_FALSE(dialog->DownloadButton()->isEnabled());

  dialog->SongBox()->setText("Silence");
  dialog->Search();
  for (int i = 0; i < 12; ++i) loop.Advance(Millis(1000));
  EXPECT_EQ(Tip(), "连接服务器失败");
  EXPECT_TRUE(dialog->SearchButton()->isEnabled());
  EXPECT_FALSE(dialog->DownloadButton()->isEnabled());
}

const std::vector<TLyricHit> kThreeHits = {
    {7, "Luna Park", "Paper Moon"}, {8, "Luna Park", "Paper Moon (live)"}, {9, "", "Paper Moon"}};

TEST_F(LyricDialog, CountdownDownloadsTheAutomaticSearchsFirstHitAfterTenSeconds) {
  dialog->show();
  AutomaticSearchFinds(60, kThreeHits);
  EXPECT_EQ(windowSaw, std::vector<std::string>{"found 3"});
  ASSERT_TRUE(OnCountdownPage());
  EXPECT_TRUE(dialog->CountingDown());
  EXPECT_EQ(dialog->Countdown()->text().toStdString(), "10");
  EXPECT_TRUE(dialog->DownloadButton()->isDefault());
  EXPECT_EQ(dialog->Results()->currentItem(), dialog->Results()->topLevelItem(0)) << "the first hit chosen";

  for (int left = 9; left >= 1; --left) {
    loop.Advance(Millis(1000));
    EXPECT_EQ(dialog->Countdown()->text().toStdString(), std::to_string(left));
  }
  EXPECT_TRUE(Downloads().empty());
  EXPECT_TRUE(dialog->isVisible());

  loop.Advance(Millis(1000));
  ASSERT_EQ(Downloads().size(), 1u);
  EXPECT_EQ(Downloads()[0], (TLyricDownloadRequest{60, 7})) << "the automatic search's own request";
  EXPECT_EQ(dialog->result(), QDialog::Accepted);
  EXPECT_FALSE(dialog->isVisible());
  EXPECT_FALSE(dialog->CountingDown());

  // The lyric lands where the automatic search would have put it, and the window's handler (the
  // one that associates it) hears of it.
  const Bytes part = Written(WriteLyricPart, TLyricPart{60, 7, 1, 0, "[00:00.00]a line of the lyric"});
  down.TakeLyricPart(part.data(), int32_t(part.size()));
  const std::string path = folder + TDownLRC::LyricFileName({7, "Paper Moon", "Luna Park"});
  EXPECT_EQ(path, folder + "Luna Park - Paper Moon.lrc");
  EXPECT_EQ(mltest::ReadAll(path), "[00:00.00]a line of the lyric");
  EXPECT_EQ(windowSaw.back(), "saved 60 " + path);
  loop.Advance(Millis(20000));
  EXPECT_EQ(Downloads().size(), 1u) << "the countdown ran once";
}

TEST_F(LyricDialog, CountdownGivesWayToAClickInTheListAndToClosing) {
  dialog->show();
  AutomaticSearchFinds(60, kThreeHits);
  loop.Advance(Millis(3000));
  const QRect row = dialog->Results()->visualItemRect(dialog->Results()->topLevelItem(1));
  QTest::mouseClick(dialog->Results()->viewport(), Qt::LeftButton, {}, row.center());
  EXPECT_FALSE(dialog->CountingDown());
  EXPECT_TRUE(dialog->Countdown()->isHidden());
  EXPECT_EQ(dialog->FileNameBox()->text().toStdString(), "Luna Park - Paper Moon (live).lrc");
  loop.Advance(Millis(20000));
  EXPECT_TRUE(Downloads().empty()) << "the user chooses now";
  QTest::mouseClick(dialog->DownloadButton(), Qt::LeftButton);
  ASSERT_EQ(Downloads().size(), 1u);
  EXPECT_EQ(Downloads()[0], (TLyricDownloadRequest{60, 8}));

  // Closing stops it too (the download above is still being retried meanwhile).
  dialog->show();
  AutomaticSearchFinds(61, kThreeHits);
  ASSERT_TRUE(dialog->CountingDown());
  dialog->reject();
  loop.Advance(Millis(20000));
  for (const TLyricDownloadRequest& d : Downloads()) EXPECT_NE(d.RequestID, 61);
}

TEST_F(LyricDialog, OnlySeveralHitsOfTheAutomaticSearchCountDown) {
  struct Case {
    bool ownSearch;
    size_t hits;
    bool countdown;
  } cases[] = {{false, 3, true}, {false, 2, true}, {false, 1, false}, {false, 0, false}, {true, 3, false}};
  for (const Case& c : cases) {
    const std::vector<TLyricHit> hits(kThreeHits.begin(), kThreeHits.begin() + long(c.hits));
    if (c.ownSearch) {
      dialog->SongBox()->setText("Paper Moon " + QString::number(requests));
      dialog->Search();
      Reply(requests, hits);
    } else {
      AutomaticSearchFinds(++requests, hits);
    }
    EXPECT_EQ(dialog->CountingDown(), c.countdown) << c.ownSearch << " " << c.hits;
    EXPECT_EQ(OnCountdownPage(), c.countdown) << c.ownSearch << " " << c.hits;
    EXPECT_EQ(dialog->DownloadButton()->isDefault(), c.countdown);
  }
}

}  // namespace
