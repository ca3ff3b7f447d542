// The lyric search dialog offscreen over the real lyric downloader with a fake sender: prefilled
// from a caption, a search sent with the words typed, the hits listed and one chosen, the lyric
// downloaded to the folder under the file name shown, the messages of a failed search, and the
// downloader's events given back to the main window's handlers when the dialog goes.
#include "online/ui/udlgSearchAndDownLRC.h"

#include "base/EventLoop.h"
#include "net/LyricRecords.h"
#include "tests/net/NetTestTools.h"
#include "tests/support/TestSupport.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
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
    dialog = new TdlgSearchAndDownLRC(down, [this] { return ++requests; }, "/music/Lyric/");
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

}  // namespace
