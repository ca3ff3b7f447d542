// The lyric windows drawn by Qt (offscreen): the three layouts of the lyric control at chosen
// positions of a small lyric file compared with reference images of ours and checked where the
// ink is; fading off; dragging with the player paused and playing (a fake player behind the
// frame); the menu's offset steps written into the file and read back by the parser; the find
// link; the mini window's resizing; the lyric window under our default skin.
#include "lyrics/LRCParse.h"
#include "lyrics/ui/LRScrollLRC.h"
#include "lyrics/ui/ufmLRC.h"
#include "lyrics/ui/ufrmMiniLRC.h"
#include "lyrics/ui/ufrmSearchAndLRC.h"
#include "skin/ui/uLuiPanel.h"
#include "skin/ui/uLuiSkinButton.h"
#include "skin/ui/uLuiTab.h"
#include "tests/support/QtTestMain.h"
#include "tests/support/ReferenceImage.h"
#include "tests/support/TestSupport.h"

#include <QApplication>
#include <QClipboard>
#include <QDragEnterEvent>
#include <QLabel>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QPushButton>
#include <QSignalSpy>
#include <QUrl>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <memory>

using namespace ml;
using namespace mltest;

namespace {

const char* const kReferences = "tests/lyrics/ui/reference";

// Lines of 2, 3, 2, 4 and 60 (the last) seconds; the fourth is far wider than a small control.
const char* const kLyric =
    "[00:01.00]First line\n"
    "[00:03.00]Second line of the song\n"
    "[00:06.00]Third\n"
    "[00:08.00]A very long single line that is much wider than the control\n"
    "[00:12.00]End\n";

constexpr TLyricColor kWhite = 0xFFFFFF, kBlue = 0xFF0000, kGrey = 11443351;

// The player behind the frame, as the main window would answer.
struct FakeHost : ILyricFrameHost {
  TLyricSeekState state;
  std::vector<int32_t> seeks;
  int finds = 0, cancels = 0, options = 0;
  std::vector<std::string> links, associations;
  TLyricSeekState LyricSeekState(int32_t) const override { return state; }
  void SeekTo(int32_t ms) override { seeks.push_back(ms); }
  void FindLyrics() override { ++finds; }
  void LinkLocalLyric(const std::string& file) override { links.push_back(file); }
  void CancelLyricLink() override { ++cancels; }
  void AssociateLyricFile(const std::string& path) override { associations.push_back(path); }
  void ShowLyricOptions() override { ++options; }
};

void SetUpControl(TLRScrollLRC& c, TLRScrollLRCKind kind, QSize size) {
  c.setFont(QFont("DejaVu Sans", 9));
  c.SetBKColor(kWhite);
  c.SetCurrentColor(kBlue);
  c.SetScrollColor(kGrey);
  c.SetKind(kind);
  c.resize(size);
  c.show();
}

int Distance(QRgb a, TLyricColor c) {
  const QColor want(c & 0xFF, c >> 8 & 0xFF, c >> 16 & 0xFF);
  return std::max({std::abs(qRed(a) - want.red()), std::abs(qGreen(a) - want.green()), std::abs(qBlue(a) - want.blue())});
}

// The pixel of a rectangle furthest from white: the text's full colour where a stroke covers a
// pixel whole. An empty rectangle answers white.
QRgb Ink(const QImage& image, QRect r) {
  QRgb best = qRgb(255, 255, 255);
  int bestDistance = 0;
  r &= image.rect();
  for (int y = r.top(); y <= r.bottom(); ++y)
    for (int x = r.left(); x <= r.right(); ++x)
      if (const int d = Distance(image.pixel(x, y), kWhite); d > bestDistance) {
        bestDistance = d;
        best = image.pixel(x, y);
      }
  return best;
}
bool HasInk(const QImage& image, QRect r) { return Distance(Ink(image, r), kWhite) > 40; }

QRect ItemRect(const TLRScrollLRC& c, const std::string& text) {
  for (const TLyricTextItem& item : c.Model().Frame().Texts)
    if (item.Text == text) return QRect(item.Rect.Left, item.Rect.Top, item.Rect.Right - item.Rect.Left, item.Rect.Bottom - item.Rect.Top);
  ADD_FAILURE() << "no text " << text;
  return {};
}

// The frame's menu item of that name.
QAction* Item(const TfmLRC& frame, const char* name) {
  QAction* a = frame.Menu()->findChild<QAction*>(name);
  EXPECT_NE(a, nullptr) << name;
  return a;
}

void Mouse(QWidget* w, QEvent::Type type, QPoint at, Qt::MouseButtons buttons) {
  QMouseEvent e(type, at, w->mapToGlobal(at), type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton, buttons, Qt::NoModifier);
  QApplication::sendEvent(w, &e);
}
void Drag(QWidget* w, QPoint from, QPoint to) {
  Mouse(w, QEvent::MouseButtonPress, from, Qt::LeftButton);
  Mouse(w, QEvent::MouseMove, (from + to) / 2, Qt::LeftButton);
  Mouse(w, QEvent::MouseMove, to, Qt::LeftButton);
  Mouse(w, QEvent::MouseButtonRelease, to, Qt::NoButton);
}

struct LyricUi : ::testing::Test {
  void SetUp() override { ASSERT_TRUE(parser.LoadFromBytes(kLyric)); }
  TLRCParse parser;
};

TEST_F(LyricUi, TheThreeLayoutsAtChosenPositions) {
  struct Case {
    const char* name;
    TLRScrollLRCKind kind;
    QSize size;
    int32_t at;
  };
  const Case cases[] = {
      {"vertical-line-start", TLRScrollLRCKind::slVertical, {200, 120}, 3000},
      {"vertical-one-second-on", TLRScrollLRCKind::slVertical, {200, 120}, 4000},
      {"horizontal", TLRScrollLRCKind::slHorizontal, {240, 24}, 4000},
      {"single-line-end", TLRScrollLRCKind::slSingleLIne, {160, 24}, 12000 - 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TLRScrollLRC control;
    control.SetLRCParse(&parser);
    SetUpControl(control, c.kind, c.size);
    control.UpdatePosition(c.at);
    ExpectLooksLike(control.Picture(), c.name, kReferences);
  }
}

TEST_F(LyricUi, VerticalLineFadesInOverItsFirstSecond) {
  TLRScrollLRC c;
  c.SetLRCParse(&parser);
  SetUpControl(c, TLRScrollLRCKind::slVertical, {200, 120});
  // At its start the line is centred and still in the other lines' colour; the line before it
  // is in the full current colour, fading out.
  c.UpdatePosition(3000);
  const QRect now = ItemRect(c, "Second line of the song");
  EXPECT_EQ(now.top(), 60);
  EXPECT_LE(Distance(Ink(c.Picture(), now), kGrey), 24);
  EXPECT_LE(Distance(Ink(c.Picture(), ItemRect(c, "First line")), kBlue), 24);
  // A second later they have changed places.
  c.UpdatePosition(4000);
  EXPECT_LE(Distance(Ink(c.Picture(), ItemRect(c, "Second line of the song")), TLRScrollLRCModel::FadeColor(kBlue, kGrey, 19)), 24);
  EXPECT_LE(Distance(Ink(c.Picture(), ItemRect(c, "First line")), kGrey), 24);
  // The outermost rows are the background's alone.
  for (int y : {0, c.height() - 1}) EXPECT_FALSE(HasInk(c.Picture(), QRect(0, y, c.width(), 1))) << y;
}

// The horizontal edges fade into the background; a blend value of 0 turns that off (and must not
// divide by it).
TEST_F(LyricUi, HorizontalEdgesFadeUnlessBlendIsZero) {
  struct Case {
    int blend;
    bool inkAtEdges;
  };
  for (const Case& k : {Case{50, false}, Case{0, true}}) {
    SCOPED_TRACE(k.blend);
    TLRScrollLRC c;
    c.SetLRCParse(&parser);
    SetUpControl(c, TLRScrollLRCKind::slHorizontal, {240, 24});
    c.SetBlendValue(k.blend);
    c.UpdatePosition(9000);  // the long line runs across the whole control
    const QImage& p = c.Picture();
    EXPECT_TRUE(HasInk(p, QRect(100, 0, 40, 24)));
    EXPECT_EQ(HasInk(p, QRect(0, 0, 2, 24)), k.inkAtEdges);
    EXPECT_EQ(HasInk(p, QRect(238, 0, 2, 24)), k.inkAtEdges);
  }
}

// With Background the horizontal layouts draw over what the parent paints under them, the edge
// fade included; the vertical layout keeps its colour.
TEST_F(LyricUi, OverTheParentsPicture) {
  QWidget parent;
  parent.setAutoFillBackground(true);
  QPalette pal = parent.palette();
  pal.setColor(QPalette::Window, QColor(200, 30, 40));
  parent.setPalette(pal);
  parent.resize(300, 150);
  TLRScrollLRC c(&parent);
  c.SetLRCParse(&parser);
  c.move(20, 20);
  SetUpControl(c, TLRScrollLRCKind::slHorizontal, {240, 24});
  parent.show();
  c.SetBackground(true);
  c.UpdatePosition(9000);
  EXPECT_EQ(c.Picture().pixel(0, 0), qRgb(200, 30, 40));
  EXPECT_TRUE(HasInk(c.Picture(), QRect(100, 0, 40, 24)));
  c.SetKind(TLRScrollLRCKind::slVertical);
  EXPECT_EQ(c.Picture().pixel(0, 0), qRgb(255, 255, 255));
}

TEST_F(LyricUi, SingleLineScrollsAWideLineToItsEnd) {
  TLRScrollLRC c;
  c.SetLRCParse(&parser);
  SetUpControl(c, TLRScrollLRCKind::slSingleLIne, {160, 24});
  const QFontMetrics metrics(c.font());
  const int wide = metrics.horizontalAdvance("A very long single line that is much wider than the control");
  ASSERT_GT(wide, 2 * c.width());
  c.UpdatePosition(8000);
  EXPECT_EQ(c.Model().Frame().Scroll, 0);
  EXPECT_TRUE(HasInk(c.Picture(), QRect(0, 0, 8, 24)));  // the "A" at the left edge
  c.UpdatePosition(12000 - 1);
  EXPECT_NEAR(c.Model().Frame().Scroll, c.width() - wide, 1);
  EXPECT_TRUE(HasInk(c.Picture(), QRect(c.width() - 40, 0, 40, 24)));  // "control" in view
}

// A drag moves the lyrics only while the player plays: paused, they snap back and nothing seeks;
// playing, the drag seeks through the host to where the lyrics were left.
TEST_F(LyricUi, DraggingSeeksOnlyWhilePlaying) {
  for (bool playing : {false, true}) {
    SCOPED_TRACE(playing);
    FakeHost host;
    host.state = {.Playing = playing, .DragSetsPosition = true, .Duration = 20000};
    TfmLRC frame(parser);
    frame.SetHost(&host);
    frame.resize(200, 120);
    frame.show();
    TLuiSkinScrollLRC* c = frame.ScrollLRC();
    c->setFont(QFont("DejaVu Sans", 9));
    c->SetMaxTime(20000);
    frame.UpdatePosition(4000);
    // While the button is down the marker is drawn: a tick at each end of the middle line.
    Mouse(c, QEvent::MouseButtonPress, {100, 80}, Qt::LeftButton);
    EXPECT_EQ(Distance(c->Picture().pixel(2, 60 + 3), kBlue), 0);
    EXPECT_EQ(Distance(c->Picture().pixel(198, 60 - 3), kBlue), 0);
    Mouse(c, QEvent::MouseButtonRelease, {100, 80}, Qt::NoButton);
    EXPECT_EQ(Distance(c->Picture().pixel(2, 60 + 3), kWhite), 0);
    Drag(c, {100, 80}, {100, 40});  // up: later in the song
    if (playing) {
      ASSERT_EQ(host.seeks.size(), 1u);
      EXPECT_GT(host.seeks[0], 4000);
      EXPECT_EQ(c->Model().Position(), host.seeks[0]);
    } else {
      EXPECT_TRUE(host.seeks.empty());
      EXPECT_EQ(c->Model().Position(), 4000);
    }
    EXPECT_FALSE(c->Model().Dragging());
    EXPECT_TRUE(c->Model().Frame().Marker.empty());
  }
}

TEST_F(LyricUi, OffsetStepsAreWrittenIntoTheFile) {
  TempDir dir;
  const std::string path = dir.File("song.lrc");
  WriteAll(path, kLyric);
  TLRCParse shown;
  ASSERT_TRUE(shown.LoadFromFile(path));
  TfmLRC frame(shown);
  std::vector<QString> said;
  frame.SetMessageSink([&](const QString&, const QString& text) { said.push_back(text); });
  for (auto [item, offset] : {std::pair{"miLRCForward1", 500}, {"miLRCForward4", 5500}, {"miLRCbackward3", 3500},
                               {"miLRCbackward2", 2500}}) {
    Item(frame, item)->trigger();
    TLRCParse reread;
    ASSERT_TRUE(reread.LoadFromFile(path));
    EXPECT_EQ(reread.Offset, offset) << item;
  }
  EXPECT_TRUE(said.empty());
  EXPECT_FALSE(shown.Modified);

  // A file that cannot be written: the user is told, and the new offset holds for this session.
  struct Failure {
    const char* name;
    std::function<bool()> make;  // false: not possible here
  };
  const Failure failures[] = {
      {"deleted", [&] { return std::filesystem::remove(path); }},
      {"read-only folder",
       [&] {
         WriteAll(path, kLyric);
         ::chmod(dir.Path().c_str(), 0555);
         return ::access(dir.Path().c_str(), W_OK) != 0;  // the superuser writes anyway
       }},
  };
  for (const Failure& f : failures) {
    SCOPED_TRACE(f.name);
    if (!f.make()) continue;
    said.clear();
    const int32_t before = shown.Offset;
    Item(frame, "miLRCForward2")->trigger();
    EXPECT_EQ(shown.Offset, before + 1000);
    EXPECT_TRUE(shown.Modified);
    ASSERT_EQ(said.size(), 1u);
    EXPECT_TRUE(said[0].contains("song.lrc")) << said[0].toStdString();
  }
  ::chmod(dir.Path().c_str(), 0755);
}

TEST_F(LyricUi, TheMenuAndTheFindLink) {
  FakeHost host;
  TLRCParse shown;
  TfmLRC frame(shown);
  frame.SetHost(&host);
  std::vector<std::pair<QString, QString>> said;
  frame.SetMessageSink([&](const QString& caption, const QString& text) { said.emplace_back(caption, text); });
  frame.resize(200, 120);
  frame.show();
  // The lyric menu's items, named and captioned as the player has them.
  const std::pair<const char*, const char*> items[] = {
      {"miFindLRC", "搜索歌词..."},       {"miLocalLinkLRC", "本地关联..."},    {"miCancelLRCLink", "取消关联"},
      {"miLRCForward1", "提前0.5秒"},     {"miLRCForward2", "提前1秒"},         {"miLRCForward3", "提前2秒"},
      {"miLRCForward4", "提前5秒"},       {"miLRCbackward1", "延后0.5秒"},      {"miLRCbackward2", "延后1秒"},
      {"miLRCbackward3", "延后2秒"},      {"miLRCbackward4", "延后5秒"},        {"miCopyLRCToClip", "复制到剪贴板..."},
      {"miLRCFileBrowse", "浏览歌词文件..."}, {"miLRCConfig", "选项"}};
  for (auto [name, caption] : items) {
    QAction* a = Item(frame, name);
    EXPECT_EQ(a ? a->text() : QString(), QString(caption)) << name;
  }
  Item(frame, "miFindLRC")->trigger();
  EXPECT_EQ(host.finds, 1);

  // Without lines the link shows, centred over the lyrics; hovering lights it up.
  QLabel* link = frame.FindLink();
  EXPECT_TRUE(link->isVisible());
  EXPECT_LE((link->geometry().center() - frame.rect().center()).manhattanLength(), 2);
  QEvent enter(QEvent::Enter), leave(QEvent::Leave);
  QApplication::sendEvent(link, &enter);
  EXPECT_TRUE(link->font().underline());
  EXPECT_EQ(link->cursor().shape(), Qt::PointingHandCursor);
  EXPECT_EQ(link->palette().color(QPalette::WindowText), QColor(0, 0, 255));  // the current line's colour
  QApplication::sendEvent(link, &leave);
  EXPECT_FALSE(link->font().underline());
  Mouse(link, QEvent::MouseButtonPress, {5, 5}, Qt::LeftButton);
  Mouse(link, QEvent::MouseButtonRelease, {5, 5}, Qt::NoButton);
  EXPECT_EQ(host.finds, 2);

  // Copying needs lines; browsing needs the file.
  Item(frame, "miCopyLRCToClip")->trigger();
  EXPECT_TRUE(said.empty());
  Item(frame, "miLRCFileBrowse")->trigger();
  ASSERT_EQ(said.size(), 1u);
  EXPECT_EQ(said.back(), std::pair(QString("浏览文件"), QString("您要浏览的文件“”不存在！")));

  TempDir dir;
  const std::string path = dir.File("shown.lrc");
  WriteAll(path, kLyric);
  ASSERT_TRUE(shown.LoadFromFile(path));
  frame.LyricsLoaded();
  frame.UpdatePosition(2000);
  EXPECT_FALSE(link->isVisible());
  Item(frame, "miCopyLRCToClip")->trigger();
  EXPECT_EQ(QApplication::clipboard()->text().toStdString(), shown.GetText());
  EXPECT_EQ(said.back(), std::pair(QString("提示"), QString("已经把歌词内容复制到您的剪贴板。")));
  std::filesystem::remove(path);
  Item(frame, "miLRCFileBrowse")->trigger();
  EXPECT_EQ(said.back().second, QString("您要浏览的文件“%1”不存在！").arg(QString::fromStdString(path)));

  Item(frame, "miLocalLinkLRC")->trigger();
  EXPECT_EQ(host.links, std::vector<std::string>{path});
  Item(frame, "miLRCConfig")->trigger();
  EXPECT_EQ(host.options, 1);
  Item(frame, "miCancelLRCLink")->trigger();
  EXPECT_EQ(host.cancels, 1);
  EXPECT_EQ(shown.Count(), 0);
  EXPECT_TRUE(link->isVisible());

  // A dropped lyric file becomes the song's; a name that is no file does nothing.
  WriteAll(path, kLyric);
  for (const std::string& dropped : {path, dir.File("missing.lrc")}) {
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(QString::fromStdString(dropped))});
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&frame, &enter);
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&frame, &drop);
  }
  EXPECT_EQ(host.associations, std::vector<std::string>{path});
}

TEST_F(LyricUi, TheMiniWindowIsResizedByItsRightEdge) {
  QWidget home;
  TfmLRC frame(parser, &home);
  frame.setGeometry(5, 5, 50, 50);
  TfrmMiniLRC mini;
  QSignalSpy widths(&mini, &TfrmMiniLRC::MiniLRCWidthChanged);
  mini.resize(TfrmMiniLRC::DefaultWidth, 40);
  mini.show();
  mini.TakeFrame(&frame);
  EXPECT_EQ(frame.parentWidget(), mini.Panel());
  EXPECT_EQ(frame.geometry(), QRect(1, 1, TfrmMiniLRC::DefaultWidth - 3, 38));

  TLuiPanel* panel = mini.Panel();
  // The resize cursor near the right edge only.
  Mouse(panel, QEvent::MouseMove, {mini.width() - 1, 20}, Qt::NoButton);
  EXPECT_EQ(panel->cursor().shape(), Qt::SizeHorCursor);
  Mouse(panel, QEvent::MouseMove, {mini.width() - 10, 20}, Qt::NoButton);
  EXPECT_EQ(panel->cursor().shape(), Qt::ArrowCursor);

  Drag(panel, {mini.width() - 1, 20}, {420, 20});
  EXPECT_EQ(mini.width(), 420);
  EXPECT_EQ(frame.width(), 420 - 3);
  Drag(panel, {mini.width() - 1, 20}, {30, 20});
  EXPECT_EQ(mini.width(), TfrmMiniLRC::MinWidth);
  ASSERT_EQ(widths.size(), 2);
  EXPECT_EQ(widths.at(0).at(0).toInt(), 420);
  EXPECT_EQ(widths.at(1).at(0).toInt(), TfrmMiniLRC::MinWidth);

  EXPECT_EQ(mini.GiveBackFrame(), &frame);
  EXPECT_EQ(frame.parentWidget(), &home);
  EXPECT_EQ(frame.geometry(), QRect(5, 5, 50, 50));
  home.show();
  EXPECT_TRUE(frame.isVisible());
}

// The lyric window as the player shows it under our default skin, the lyrics vertical; in the
// mini layout the lyric control turns horizontal.
TEST_F(LyricUi, TheSkinnedLyricWindow) {
  TLuiSkinManager skin;
  skin.SetPackageFile(BinDir() + "/SkinRes/SkinRes.zip");
  TfrmSearchAndLRC window(parser);
  window.UseSkin(&skin);
  QLabel search("search results"), login("login");
  window.SetPage(TfrmSearchAndLRC::pgSearch, &search);
  window.SetPage(TfrmSearchAndLRC::pgLogin, &login);
  ASSERT_TRUE(skin.ApplySkin(false, 0, true)) << skin.Error();
  TLuiSkinScrollLRC* lyrics = window.FrameLRC()->ScrollLRC();
  lyrics->setFont(QFont("DejaVu Sans", 9));
  window.show();
  window.FrameLRC()->UpdatePosition(4000);
  EXPECT_EQ(lyrics->Kind(), TLRScrollLRCKind::slVertical);
  EXPECT_EQ(window.Tab()->Tabs(), QStringList({"歌词", "搜索", "登录"}));
  EXPECT_FALSE(window.FrameLRC()->FindLink()->isVisible());

  QImage image = window.grab().toImage().convertToFormat(QImage::Format_ARGB32);
  const QRegion shape = window.mask();
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x)
      if (!shape.isEmpty() && !shape.contains(QPoint(x, y))) image.setPixel(x, y, 0xFFFF00FF);
  ExpectLooksLike(image, "lyric-window", kReferences);

  // The skin's colours: the background of the lyric page is the "lrc" BkgndColor.
  const TSkinColorsLook look = skin.GetColors("lyricForm", "lrc", {{"BkgndColor", 0}, {"CurrentColor", 0}});
  EXPECT_EQ(lyrics->Model().BKColor, look.Get("BkgndColor"));
  EXPECT_EQ(lyrics->Model().CurrentColor(), look.Get("CurrentColor"));

  // Tabs switch pages; the login tab goes while logged in.
  window.Tab()->SetTabIndex(TfrmSearchAndLRC::pgLogin);
  EXPECT_TRUE(login.isVisible());
  EXPECT_FALSE(window.FrameLRC()->isVisible());
  window.SetLoginTab(false);
  EXPECT_EQ(window.Tab()->Tabs(), QStringList({"歌词", "搜索"}));
  EXPECT_EQ(window.CurrentPage(), TfrmSearchAndLRC::pgLyric);
  EXPECT_TRUE(window.FrameLRC()->isVisible());
  EXPECT_FALSE(login.isVisible());

  // Stay on top and back.
  QSignalSpy onTop(&window, &TfrmSearchAndLRC::StayOnTopChanged);
  window.StayOnTopButton()->click();
  EXPECT_TRUE(window.StayOnTop());
  EXPECT_TRUE(window.isVisible());
  EXPECT_FALSE(window.StayOnTopButton()->isVisible());
  window.NotOnTopButton()->click();
  EXPECT_FALSE(window.StayOnTop());
  ASSERT_EQ(onTop.size(), 2);

  ASSERT_TRUE(skin.ApplySkin(true, 0, true)) << skin.Error();
  EXPECT_EQ(lyrics->Kind(), TLRScrollLRCKind::slHorizontal);
  lyrics->SetNormalKind(TLRScrollLRCKind::slSingleLIne);
  EXPECT_EQ(lyrics->Kind(), TLRScrollLRCKind::slHorizontal);
  ASSERT_TRUE(skin.ApplySkin(false, 0, true)) << skin.Error();
  EXPECT_EQ(lyrics->Kind(), TLRScrollLRCKind::slSingleLIne);

  // Closing hides the window and tells the main window.
  QSignalSpy closed(&window, &TfrmSearchAndLRC::Closed);
  Mouse(window.CloseButton(), QEvent::MouseButtonPress, {3, 3}, Qt::LeftButton);
  Mouse(window.CloseButton(), QEvent::MouseButtonRelease, {3, 3}, Qt::NoButton);
  EXPECT_EQ(closed.size(), 1);
  EXPECT_FALSE(window.isVisible());
}

}  // namespace

int main(int argc, char** argv) { return RunQtWidgetTests(argc, argv); }
