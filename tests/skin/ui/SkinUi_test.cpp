// The skinned windows and controls drawn by Qt (offscreen) from our two skins: each control and
// the main window in both layouts compared with reference images of ours, the window's shape
// against the key colour of its picture, a tint, a second skin, the button's mouse rules,
// snapping and docking, and pictures that would take too much memory.
#include "skin/ui/SkinQt.h"
#include "skin/ui/uLuiPanel.h"
#include "skin/ui/uLuiScrollLabel.h"
#include "skin/ui/uLuiSkinButton.h"
#include "skin/ui/uLuiSkinImg.h"
#include "skin/ui/uLuiSkinLEDDigtal.h"
#include "skin/ui/uLuiSkinMenu.h"
#include "skin/ui/uLuiSkinPlayForm.h"
#include "skin/ui/uLuiSkinScrollBar.h"
#include "skin/ui/uLuiSkinSpectrum.h"
#include "skin/ui/uLuiSkinSplitter.h"
#include "skin/ui/uLuiSkinTrackBar.h"
#include "skin/ui/uLuiTab.h"
#include "tests/support/ReferenceImage.h"
#include "tests/support/TestSupport.h"

#include <QApplication>
#include <QBuffer>
#include <QLabel>
#include <QMenu>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <memory>

using namespace ml;
using namespace mltest;

namespace {

// The application of the whole run (main below makes it before the tests and ends it after).
QApplication* app = nullptr;
void App() { ASSERT_NE(app, nullptr); }

std::string DefaultSkin() { return BinDir() + "/SkinRes/SkinRes.zip"; }
std::string PaperSkin() { return BinDir() + "/test-skins/Paper.zip"; }

// The main window as the player lays it out, every skinned control of the normal and the mini
// layout on it; controls a layout does not have are hidden.
struct MainWindow {
  explicit MainWindow(TLuiSkinManager& skin) : form(TSkinFormKind::fkMain) {
    auto own = [&](auto* control) {
      control->SetSkinManager(&skin);
      controls.push_back(control);
      return control;
    };
    using K = TSkinButtonKind;
    own(&form);
    for (K kind : {K::bkPrev, K::bkPlay, K::bkNext, K::bkStop, K::bkLyric, K::bkChangeColor, K::bkMute, K::bkRandom,
                   K::bkAllCyc, K::bkSearch, K::bkOpen, K::bkPlaylist, K::bkEqualizer, K::bkWeb, K::bkMainMode,
                   K::bkMaxMode, K::bkMinimize, K::bkMinimode, K::bkExit, K::bkAddSong, K::bkDeleteSong,
                   K::bkPlayMode, K::bkFindSong, K::bkSyncSong})
      buttons.push_back(own(new TLuiSkinButton(kind, &form)));
    own(new TLuiSkinImg(&form));
    led = own(new TLuiSkinLEDDigtal(&form));
    info = own(new TLuiScrollLabel(TScrollLabelKind::lkPlayInfo, &form));
    own(new TLuiScrollLabel(TScrollLabelKind::lkBitrate, &form))->SetText("192 kbps");
    own(new TLuiScrollLabel(TScrollLabelKind::lkSampleRate, &form))->SetText("44100 Hz");
    spectrum = own(new TLuiSkinSpectrum(&form));
    progress = own(new TLuiSkinTrackBar(TSkinTrackBarKind::tkProgress, &form));
    volume = own(new TLuiSkinTrackBar(TSkinTrackBarKind::tkVolume, &form));
    own(new TTransparentEdit(&form))->SetDefaultEditText("Search songs");
    tab = own(new TLuiSkinTab(TSkinTabKind::tkPlayer, &form));
    list = own(new TLuiPanel(TLuiPanelKind::pkPlayList, &form));
    scroll = own(new TLuiSkinScrollBar(Qt::Vertical, list));
    tab->SetTabs({"Playlist", "Lyrics", "Search"});
    info->SetText("Demo Singer - Demo Song");
    info->SetDisableScroll(true);
    led->SetTime(65'400, 200'000);
    progress->SetMax(1000);
    progress->SetPosition(400);
    progress->SetSelEnd(700);
    volume->SetMax(100);
    volume->SetPosition(70);
    scroll->SetRange(0, 100);
    scroll->SetPageStep(20);
  }
  bool Apply(TLuiSkinManager& skin, bool mini, TColor tint = 0) {
    const bool ok = skin.ApplySkin(mini, tint, true);
    for (TSkinControl* c : controls)
      if (auto* w = dynamic_cast<QWidget*>(c); w && w != &form) w->setVisible(c->InSkin());
    // Play shows while stopped; the page's list fills the panel.
    scroll->setGeometry(list->width() - 14, 1, 13, list->height() - 2);
    // Two ticks of a fixed spectrum at the control's skinned size: bars and peak marks.
    std::array<float, SpectrumLevelCount> levels{};
    for (int i = 0; i < SpectrumLevelCount; ++i) levels[size_t(i)] = float(i % 97) / 97.0f;
    spectrum->ShowLevels(levels);
    for (float& l : levels) l *= 0.5f;
    spectrum->ShowLevels(levels);
    return ok;
  }
  QImage Grab() {
    form.show();
    QImage image = form.grab().toImage().convertToFormat(QImage::Format_ARGB32);
    // Outside the shape is not the window: show it as the key colour, as a screen would show
    // what is behind.
    const QRegion shape = form.mask();
    for (int y = 0; y < image.height(); ++y)
      for (int x = 0; x < image.width(); ++x)
        if (!shape.contains(QPoint(x, y))) image.setPixel(x, y, 0xFFFF00FF);
    return image;
  }

  TLuiSkinPlayForm form;
  std::vector<TSkinControl*> controls;
  std::vector<TLuiSkinButton*> buttons;
  TLuiSkinLEDDigtal* led;
  TLuiScrollLabel* info;
  TLuiSkinSpectrum* spectrum;
  TLuiSkinTrackBar *progress, *volume;
  TLuiSkinTab* tab;
  TLuiPanel* list;
  TLuiSkinScrollBar* scroll;
};

struct SkinUi : ::testing::Test {
  void SetUp() override {
    App();
    QApplication::setFont(QFont("DejaVu Sans", 8));
    skin.SetPackageFile(DefaultSkin());
  }
  TLuiSkinManager skin;
};

TEST_F(SkinUi, TheMainWindowInBothLayouts) {
  MainWindow w(skin);
  ASSERT_TRUE(w.Apply(skin, false)) << skin.Error();
  EXPECT_EQ(w.form.size(), QSize(330, 503));
  EXPECT_TRUE(w.form.Resizable());
  ExpectLooksLike(w.Grab(), "main-normal");

  ASSERT_TRUE(w.Apply(skin, true)) << skin.Error();
  EXPECT_EQ(w.form.size(), QSize(300, 26));
  EXPECT_FALSE(w.form.Resizable());
  EXPECT_FALSE(w.tab->isVisible());  // the mini layout has no pages
  ExpectLooksLike(w.Grab(), "main-mini");

  // Back to the normal layout, resized by the user: the list area grows, the corners stay.
  ASSERT_TRUE(w.Apply(skin, false));
  w.form.show();
  w.form.resize(420, 600);
  EXPECT_EQ(w.list->geometry(), QRect(10, 188, 400, 379));  // stretched both ways
  EXPECT_EQ(w.buttons.back()->pos(), QPoint(320, 571));    // right of the separation: down and right
  EXPECT_EQ(w.buttons[4]->geometry(), QRect(150, 108, 34, 22));  // Lyric: a button never stretches
  w.scroll->setGeometry(w.list->width() - 14, 1, 13, w.list->height() - 2);
  ExpectLooksLike(w.Grab(), "main-resized");
  // Back to the picture's size on the next layout switch, every control in its skin place.
  ASSERT_TRUE(w.Apply(skin, false));
  EXPECT_EQ(w.form.size(), QSize(330, 503));
  EXPECT_EQ(w.list->geometry(), QRect(10, 188, 310, 282));
}

TEST_F(SkinUi, TheShapeIsThePictureWithoutItsKeyColour) {
  MainWindow w(skin);
  ASSERT_TRUE(w.Apply(skin, false));
  // The picture read on its own, not through the skin code.
  const QImage picture = QImage::fromData(QByteArray::fromStdString(*skin.GetEntry("player.png")));
  ASSERT_EQ(picture.size(), QSize(330, 503));
  const QRegion mask = w.form.mask();
  int outside = 0;
  for (int y = 0; y < picture.height(); ++y)
    for (int x = 0; x < picture.width(); ++x) {
      const bool key = (picture.pixel(x, y) & 0xFFFFFF) == 0xFF00FF;
      outside += key;
      ASSERT_EQ(mask.contains(QPoint(x, y)), !key) << x << "," << y;
    }
  EXPECT_GT(outside, 4);  // the rounded corners
  // Resized, the corners are cut the same way at the new corners.
  w.form.show();
  w.form.resize(400, 600);
  const QRegion grown = w.form.mask();
  EXPECT_FALSE(grown.contains(QPoint(399, 599)));
  EXPECT_TRUE(grown.contains(QPoint(398 - 6, 598 - 6)));
  EXPECT_TRUE(grown.contains(QPoint(200, 599)));
}

TEST_F(SkinUi, EachControlAgainstItsReference) {
  MainWindow w(skin);
  ASSERT_TRUE(w.Apply(skin, false));
  w.form.show();
  TLuiSkinButton* play = w.buttons[1];
  ExpectLooksLike(play->grab().toImage(), "button-play");
  play->setEnabled(false);
  EXPECT_EQ(play->CurrentFrame(), 3);
  ExpectLooksLike(play->grab().toImage(), "button-play-disabled");
  play->setEnabled(true);
  play->SetCheck(true);
  ExpectLooksLike(play->grab().toImage(), "button-play-checked");
  play->SetCheck(false);
  ExpectLooksLike(w.led->grab().toImage(), "led-played");
  w.led->SetRemaining(true);
  ExpectLooksLike(w.led->grab().toImage(), "led-remaining");
  ExpectLooksLike(w.progress->grab().toImage(), "trackbar-progress");
  ExpectLooksLike(w.volume->grab().toImage(), "trackbar-volume-vertical");
  ExpectLooksLike(w.spectrum->grab().toImage(), "spectrum");
  ExpectLooksLike(w.tab->grab().toImage(), "tab");
  ExpectLooksLike(w.scroll->grab().toImage(), "scrollbar");
  ExpectLooksLike(w.info->grab().toImage(), "label-playinfo");

  TLuiSkinSplitter splitter(Qt::Vertical);
  splitter.SetSkinManager(&skin);
  splitter.addWidget(new QLabel("upper"));
  splitter.addWidget(new QLabel("lower"));
  splitter.resize(120, 80);
  ASSERT_TRUE(skin.ApplySkin(false, 0, false));
  splitter.show();
  ExpectLooksLike(splitter.handle(1)->grab().toImage(), "splitter-handle");

  TLuiSkinColorMap menus;
  menus.SetSkinManager(&skin);
  QMenu menu;
  menu.addAction("Play");
  menu.addAction("Next");
  menu.addSeparator();
  menu.addAction("Exit")->setEnabled(false);
  menus.Attach(&menu);
  ASSERT_TRUE(skin.ApplySkin(false, 0, false));
  EXPECT_TRUE(menu.styleSheet().contains(ToQColor(menus.Colors().Frame).name()));
  menu.resize(menu.sizeHint());
  ExpectLooksLike(menu.grab().toImage(), "menu");
}

// Hue and saturation come from the tint; every pixel keeps its lightness.
TEST_F(SkinUi, ATintChangesTheHueAndKeepsTheLightness) {
  MainWindow plain(skin);
  ASSERT_TRUE(plain.Apply(skin, false));
  const QImage before = plain.Grab();
  TLuiSkinManager tinted;
  tinted.SetPackageFile(DefaultSkin());
  MainWindow red(tinted);
  ASSERT_TRUE(red.Apply(tinted, false, MakeColor(200, 30, 30)));
  const QImage after = red.Grab();
  ExpectLooksLike(after, "main-tinted-red");
  ASSERT_EQ(before.size(), after.size());
  int coloured = 0, checked = 0;
  for (int y = 0; y < 140; ++y)  // the title, the display and the transport row: no text to blend
    for (int x = 0; x < before.width(); ++x) {
      const QColor a = QColor::fromRgb(before.pixel(x, y)), b = QColor::fromRgb(after.pixel(x, y));
      if ((before.pixel(x, y) & 0xFFFFFF) == 0xFF00FF) continue;
      ++checked;
      EXPECT_NEAR(a.lightness(), b.lightness(), 3) << x << "," << y;
      if (b.hslSaturation() > 40) {
        ++coloured;
        const int hue = b.hslHue();
        EXPECT_TRUE(hue <= 6 || hue >= 354) << "hue " << hue << " at " << x << "," << y;
      }
    }
  EXPECT_GT(checked, 30000);
  EXPECT_GT(coloured, checked / 2);
}

TEST_F(SkinUi, ASecondSkinReallyChangesTheLook) {
  MainWindow slate(skin);
  ASSERT_TRUE(slate.Apply(skin, false));
  const QImage a = slate.Grab();
  TLuiSkinManager paper;
  paper.SetPackageFile(PaperSkin());
  MainWindow light(paper);
  ASSERT_TRUE(light.Apply(paper, false)) << paper.Error();
  const QImage b = light.Grab();
  ExpectLooksLike(b, "main-paper");
  ASSERT_EQ(a.size(), b.size());
  int differ = 0;
  for (int y = 0; y < a.height(); ++y)
    for (int x = 0; x < a.width(); ++x) differ += a.pixel(x, y) != b.pixel(x, y);
  EXPECT_GT(differ, a.width() * a.height() * 8 / 10);
  // Square corners: the whole rectangle is the window.
  EXPECT_TRUE(light.form.mask().contains(QPoint(0, 0)));
  EXPECT_FALSE(slate.form.mask().contains(QPoint(0, 0)));
}

TEST_F(SkinUi, ButtonsClickAndLatchInTheirGroup) {
  QWidget parent;
  TLuiSkinButton a(TSkinButtonKind::bkRandom, &parent), b(TSkinButtonKind::bkOrder, &parent);
  parent.resize(100, 40);
  b.move(40, 0);
  parent.show();
  QSignalSpy clicks(&a, &TLuiSkinButton::Clicked);
  QTest::mouseClick(&a, Qt::LeftButton);
  EXPECT_EQ(clicks.count(), 1);
  EXPECT_FALSE(a.Down());  // not in a group: never latches
  a.SetGroupIndex(1);
  b.SetGroupIndex(1);
  QTest::mouseClick(&a, Qt::LeftButton);
  EXPECT_TRUE(a.Down());
  QTest::mouseClick(&b, Qt::LeftButton);
  EXPECT_TRUE(b.Down());
  EXPECT_FALSE(a.Down());  // latching b released a
  QTest::mouseClick(&b, Qt::LeftButton);
  EXPECT_TRUE(b.Down());  // stays down without AllowAllUp
  b.SetAllowAllUp(true);
  QTest::mouseClick(&b, Qt::LeftButton);
  EXPECT_FALSE(b.Down());
  // Released outside: no click.
  QTest::mousePress(&a, Qt::LeftButton);
  QTest::mouseRelease(&a, Qt::LeftButton, {}, QPoint(-5, -5));
  EXPECT_EQ(clicks.count(), 2);
}

TEST_F(SkinUi, PageButtonsKeepTheirOwnPlace) {
  TLuiSkinButton next(TSkinButtonKind::bkNextPage);
  next.SetSkinManager(&skin);
  next.move(7, 9);
  ASSERT_TRUE(skin.ApplySkin(false, 0, true));
  EXPECT_EQ(next.pos(), QPoint(7, 9));
  EXPECT_EQ(next.size(), QSize(14, 14));  // one frame of its strip
}

TEST_F(SkinUi, WindowsSnapAndTheMainWindowTakesDockedOnesAlong) {
  TLuiSkinPlayForm main(TSkinFormKind::fkMain), lyric(TSkinFormKind::fkLRC), apart(TSkinFormKind::fkSelf, "MsgForm");
  for (TLuiSkinPlayForm* f : {&main, &lyric, &apart}) f->SetSkinManager(&skin);
  ASSERT_TRUE(skin.ApplySkin(false, 0, true));
  EXPECT_EQ(TLuiSkinPlayForm::FormOfKind(TSkinFormKind::fkLRC), &lyric);
  const QRect work = main.screen()->availableGeometry();
  main.move(work.left() + 100, work.top() + 100);
  lyric.move(main.x() + main.width(), main.y());  // docked on the right
  apart.move(work.left() + 600, work.top() + 500);
  for (TLuiSkinPlayForm* f : {&main, &lyric, &apart}) f->show();
  main.MoveSnapped(QPoint(work.left() + 130, work.top() + 120));
  EXPECT_EQ(main.pos(), QPoint(work.left() + 130, work.top() + 120));
  EXPECT_EQ(lyric.pos(), QPoint(main.x() + main.width(), main.y()));
  const QPoint apartAt = apart.pos();
  // Near the work area's top left corner: snapped into it.
  main.MoveSnapped(QPoint(work.left() + 6, work.top() + 8));
  EXPECT_EQ(main.pos(), work.topLeft());
  EXPECT_EQ(lyric.pos(), QPoint(main.x() + main.width(), main.y()));
  EXPECT_EQ(apart.pos(), apartAt);
  // A window that is not the main one moves alone and snaps to the others.
  lyric.MoveSnapped(QPoint(main.x() + 40, main.y() + main.height() + 7));
  EXPECT_EQ(lyric.pos(), QPoint(main.x() + 40, main.y() + main.height()));
  EXPECT_EQ(main.pos(), work.topLeft());
}

TEST(SkinImages, PicturesTooLargeOrBrokenAreRefused) {
  App();
  // A PNG whose header claims 60000 x 60000 pixels (14 GB decoded).
  QByteArray png("\x89PNG\r\n\x1a\n", 8);
  QByteArray ihdr("IHDR", 4);
  const auto be32 = [](QByteArray& b, uint32_t v) {
    for (int s = 24; s >= 0; s -= 8) b.append(char(v >> s & 0xFF));
  };
  be32(ihdr, 60000);
  be32(ihdr, 60000);
  ihdr.append("\x08\x06\x00\x00\x00", 5);
  be32(png, 13);
  png.append(ihdr);
  be32(png, [&] {  // the chunk's CRC, so the header is read and believed
    uint32_t c = 0xFFFFFFFF;
    for (char ch : ihdr) {
      c ^= uint8_t(ch);
      for (int k = 0; k < 8; ++k) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1)));
    }
    return ~c;
  }());
  EXPECT_TRUE(DecodeSkinImage(png.toStdString()).isNull());
  EXPECT_TRUE(DecodeSkinImage("not a picture").isNull());
  EXPECT_TRUE(DecodeSkinImage("").isNull());
  QImage small(4, 3, QImage::Format_ARGB32);
  small.fill(Qt::red);
  QByteArray ok;
  QBuffer buffer(&ok);
  buffer.open(QIODevice::WriteOnly);
  small.save(&buffer, "PNG");
  EXPECT_EQ(DecodeSkinImage(ok.toStdString()).size(), QSize(4, 3));
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  ::testing::InitGoogleTest(&argc, argv);
  auto application = std::make_unique<QApplication>(argc, argv);
  app = application.get();
  const int status = RUN_ALL_TESTS();
  app = nullptr;
  return status;
}
