// The playlist box drawn offscreen from the built-in skin against a reference image of ours, and
// its behaviour: the skinned scroll bar it drives, rows kept in view, the caption's rectangle,
// the selection notice, and dropped paths kept whole however long (addresses that are not files
// left out).
#include "library/ui/uLuiPlayListBox.h"
#include "skin/ui/SkinQt.h"
#include "skin/ui/uLuiSkinScrollBar.h"
#include "tests/support/ReferenceImage.h"
#include "tests/support/TestSupport.h"

#include <QApplication>
#include <QSignalSpy>
#include <QUrl>

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

using namespace ml;
using namespace mltest;

namespace {


std::vector<TPlayListBoxRow> Songs(int n) {
  std::vector<TPlayListBoxRow> rows;
  for (int i = 0; i < n; ++i)
    rows.push_back({i % 5 == 3 ? "歌手 " + std::to_string(i) + " - 一首名字很长很长很长很长的歌" : "Singer " + std::to_string(i) + " - Song",
                    (i * 37 % 300 + 60) * 1000, i == 4, true});
  return rows;
}

struct Box {
  explicit Box(int n) : rows(Songs(n)) {
    parent.resize(330, 300);
    box = new TLuiPlayListBox(TLuiPlayListBoxKind::lkPlayList, &parent);
    box->setGeometry(10, 10, 300, 200);
    bar = new TLuiSkinScrollBar(Qt::Vertical, &parent);
    bar->resize(13, 10);
    box->Model().SetSource([this] { return rows.size(); }, [this](size_t i) { return rows[i]; });
    skin.SetPackageFile(BinDir() + "/SkinRes/SkinRes.zip");
    box->SetSkinManager(&skin);
    bar->SetSkinManager(&skin);
    EXPECT_TRUE(skin.ApplySkin(false, 0, false)) << skin.Error();
    parent.show();
    box->SetScrollBar(bar);
  }
  std::vector<TPlayListBoxRow> rows;
  TLuiSkinManager skin;
  QWidget parent;
  TLuiPlayListBox* box;
  TLuiSkinScrollBar* bar;
};

TEST(PlayListBox, DrawsRowsFromTheSkin) {
  Box b(9);
  b.box->SetPlayingIndex(2);
  b.box->selectionModel()->select(b.box->Model().index(5), QItemSelectionModel::Select);
  b.box->selectionModel()->select(b.box->Model().index(6), QItemSelectionModel::Select);
  EXPECT_FALSE(b.bar->isVisible());  // nine rows fit
  ExpectLooksLike(b.box->grab().toImage(), "playlist-box");
}

TEST(PlayListBox, DrivesItsScrollBarAndKeepsRowsInView) {
  Box b(100);
  ASSERT_TRUE(b.bar->isVisible());
  const int visible = b.box->VisibleRowCount();
  EXPECT_EQ(b.box->width(), 300 - b.bar->width());  // narrowed for the bar beside it
  EXPECT_EQ(b.bar->x(), b.box->x() + b.box->width());
  EXPECT_EQ(b.bar->Max(), 100 - visible);
  b.box->EnsureVisible(50);
  EXPECT_EQ(b.box->TopRow(), 50 - visible + 1);
  EXPECT_EQ(b.bar->Position(), b.box->TopRow());
  b.bar->SetPosition(10);  // the bar moves the rows
  EXPECT_EQ(b.box->TopRow(), 10);
  b.box->EnsureVisible(3);
  EXPECT_EQ(b.box->TopRow(), 3);
  // The caption's rectangle: after the number cell, before the duration.
  const QRect text = b.box->GetTextRect(3);
  EXPECT_EQ(text.left(), b.box->visualRect(b.box->Model().index(3)).left() + b.box->NumberWidth() + 9);
  EXPECT_LT(text.right(), b.box->viewport()->width() - 20);
  EXPECT_TRUE(b.box->GetTextRect(100).isEmpty());
  // Fewer rows than fit: the bar goes and the box takes its width back.
  b.rows.resize(3);
  b.box->Model().Reload();
  EXPECT_FALSE(b.bar->isVisible());
  EXPECT_EQ(b.box->width(), 300);
}

// The drop point of a drag: a line in the caption colour across the top of the row, or along the
// bottom of the last row for a drop past the end.
TEST(PlayListBox, DropMark) {
  Box b(5);
  const QRgb text = ToQColor(b.box->Colors().Text).rgb();
  auto lineAt = [&](int y) { return b.box->viewport()->grab().toImage().pixel(b.box->viewport()->width() / 2, y); };
  const QRect row2 = b.box->visualRect(b.box->Model().index(2));
  const QRect last = b.box->visualRect(b.box->Model().index(4));
  EXPECT_NE(lineAt(row2.top()), text);
  b.box->SetDropMark(2);
  EXPECT_EQ(lineAt(row2.top()), text);
  b.box->SetDropMark(5);
  EXPECT_NE(lineAt(row2.top()), text);
  EXPECT_EQ(lineAt(last.bottom()), text);
  b.box->SetDropMark(-1);
  EXPECT_NE(lineAt(last.bottom()), text);
}

TEST(PlayListBox, SelectionNoticesAndWholeDroppedPaths) {
  Box b(20);
  QSignalSpy selects(b.box, &TLuiPlayListBox::SelectChanged);
  b.box->setCurrentIndex(b.box->Model().index(4));
  ASSERT_GE(selects.count(), 1);
  EXPECT_EQ(selects.last().at(1).toInt(), 4);

  QSignalSpy drops(b.box, &TLuiPlayListBox::FilesDropped);
  const QString longPath = "/music/" + QString(300, QChar('a')) + "/song.mp3";
  b.box->DropUrls({QUrl::fromLocalFile(longPath), QUrl("https://example.org/x.mp3"), QUrl::fromLocalFile("/music/b.ogg")});
  ASSERT_EQ(drops.count(), 1);
  const QStringList paths = drops.first().at(0).toStringList();
  ASSERT_EQ(paths.size(), 2);
  EXPECT_EQ(paths[0], longPath);  // more than 255 characters, kept whole
  EXPECT_EQ(paths[1], "/music/b.ogg");
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  ::testing::InitGoogleTest(&argc, argv);
  QApplication app(argc, argv);
  QApplication::setFont(QFont("DejaVu Sans", 8));
  return RUN_ALL_TESTS();
}
