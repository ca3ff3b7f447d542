// The main window as the program makes it, on the built-in skin, driven through its controls:
// the real controller, player (fake output), library and playlist behind it. Pictures of the full
// and the mini layout are compared with reference images of ours (tests/app/ui/reference).
#include "app/uDM.h"
#include "app/ui/QtKeys.h"
#include "app/ui/dlgPopupMsg.h"
#include "app/ui/ufrmMain.h"
#include "library/ui/uLuiPlayListBox.h"
#include "lyrics/ui/ufmLRC.h"
#include "lyrics/ui/ufrmAssociateLRC.h"
#include "lyrics/ui/ufrmMiniLRC.h"
#include "lyrics/ui/ufrmSearchAndLRC.h"
#include "net/LyricRecords.h"
#include "online/ui/udlgSearchAndDownLRC.h"
#include "skin/ui/uLuiSkinButton.h"
#include "skin/ui/uLuiSkinLEDDigtal.h"
#include "skin/ui/uLuiSkinTrackBar.h"
#include "tests/app/ControllerHarness.h"
#include "tests/net/NetTestTools.h"
#include "tests/support/QtTestMain.h"
#include "tests/support/ReferenceImage.h"
#include "tests/support/TestSupport.h"

#include <QApplication>
#include <QCheckBox>
#include <QPushButton>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QTest>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <memory>

using namespace ml;
using namespace mltest;
using namespace std::chrono_literals;

namespace {

const char* kReferences = "tests/app/ui/reference";

class MainWindowTest : public ::testing::Test, public TControllerHarness {
protected:
  void SetUp() override {
    info.AppTitle = "迷你琴鸟";
    info.AppSlogan = "听音乐";
    settings->Volume = 70;
    AfterSettle = [] { QApplication::processEvents(); };
    skin.SetPackageFile(BinDir() + "/SkinRes/SkinRes.zip");
    window = std::make_unique<TfrmMain>(skin, *settings, info, lyrics);
    controller = std::make_unique<TMainController>(Parts(*window));
    window->SetController(controller.get());
    std::string error;
    ASSERT_TRUE(window->ApplySkin(&error)) << error;
    window->show();
    controller->Start();
  }
  void TearDown() override {
    controller.reset();
    window.reset();
  }
  // The service's lyric downloader for the window and the controller; what it sends is kept.
  void UseLyricService() {
    window->SetLyricService(&lyricService);
    controller->SetLyricService(&lyricService);
  }
  std::vector<mlnettest::Bytes> sent;
  TDownLRC lyricService{loop, [this](const uint8_t* r, int32_t n) {
                          sent.emplace_back(r, r + n);
                          return true;
                        }};
  bool Shown(TSkinButtonKind kind) const { return window->Button(kind)->isVisible(); }
  void Click(TSkinButtonKind kind) {
    TLuiSkinButton* b = window->Button(kind);
    ASSERT_TRUE(b->isVisible());
    QTest::mouseClick(b, Qt::LeftButton, {}, b->rect().center());
    Settle();
  }
  // The window as a screen shows it: outside its shape is the key colour.
  QImage Grab() {
    QImage image = window->grab().toImage().convertToFormat(QImage::Format_ARGB32);
    const QRegion shape = window->mask();
    for (int y = 0; y < image.height(); ++y)
      for (int x = 0; x < image.width(); ++x)
        if (!shape.isEmpty() && !shape.contains(QPoint(x, y))) image.setPixel(x, y, 0xFFFF00FF);
    return image;
  }

  TLuiSkinManager skin;
  std::unique_ptr<TfrmMain> window;
};

// Playing through the buttons: Play starts the list and gives way to Pause; Pause, Next, Stop,
// and the loop and order buttons cycle with the one shown telling the mode.
TEST_F(MainWindowTest, TheButtonsDriveThePlayer) {
  controller->OpenFiles({Song("甲.wav", 2), Song("乙.wav", 2)});
  controller->Stop();
  Settle();
  EXPECT_TRUE(Shown(TSkinButtonKind::bkPlay));
  EXPECT_FALSE(Shown(TSkinButtonKind::bkPause));
  // The songs just added stay selected, and Play starts the selected one.
  EXPECT_EQ(window->PlayListBox().selectionModel()->selectedRows().size(), 1);
  Click(TSkinButtonKind::bkPlay);
  EXPECT_TRUE(controller->Playing());
  EXPECT_TRUE(Shown(TSkinButtonKind::bkPause));
  EXPECT_EQ(window->windowTitle().toStdString(), " 乙 - 迷你琴鸟 ");
  EXPECT_EQ(window->PlayListBox().PlayingIndex(), 1);
  Click(TSkinButtonKind::bkPause);
  EXPECT_TRUE(controller->Paused());
  Click(TSkinButtonKind::bkNext);
  EXPECT_EQ(controller->PlayingEntry()->Caption, "甲");
  EXPECT_EQ(window->PlayListBox().PlayingIndex(), 0);
  Click(TSkinButtonKind::bkStop);
  EXPECT_FALSE(controller->Playing());
  EXPECT_TRUE(Shown(TSkinButtonKind::bkPlay));

  EXPECT_TRUE(Shown(TSkinButtonKind::bkAllCyc));
  Click(TSkinButtonKind::bkAllCyc);
  EXPECT_TRUE(Shown(TSkinButtonKind::bkNoneCyc));
  Click(TSkinButtonKind::bkNoneCyc);
  EXPECT_TRUE(Shown(TSkinButtonKind::bkSingleCyc));
  EXPECT_EQ(settings->PlayListLoopType, 2);
  Click(TSkinButtonKind::bkOrder);
  EXPECT_TRUE(Shown(TSkinButtonKind::bkRandom));
  EXPECT_FALSE(Shown(TSkinButtonKind::bkOrder));
  Click(TSkinButtonKind::bkMute);
  EXPECT_TRUE(player->Mute());
  EXPECT_TRUE(Shown(TSkinButtonKind::bkUnMute));
}

// The key map's local keys: F5 plays and pauses, Ctrl+Right goes to the next song, Alt+Up and
// Alt+Down step the volume; a double click on the window switches to the mini layout and back.
TEST_F(MainWindowTest, LocalHotkeysAndTheModeSwitch) {
  controller->OpenFiles({Song("one.wav", 2), Song("two.wav", 2)});
  Settle();
  EXPECT_TRUE(controller->Playing());
  QTest::keyClick(window.get(), Qt::Key_F5);
  Settle();
  EXPECT_TRUE(controller->Paused());
  QTest::keyClick(window.get(), Qt::Key_Right, Qt::ControlModifier);
  Settle();
  EXPECT_EQ(controller->PlayingEntry()->Caption, "two");
  QTest::keyClick(window.get(), Qt::Key_Down, Qt::AltModifier);
  EXPECT_EQ(player->Volume(), 65);

  const QSize full = window->size();
  QTest::mouseDClick(window.get(), Qt::LeftButton, {}, QPoint(window->width() / 2, 3));
  EXPECT_TRUE(window->MiniMode());
  EXPECT_TRUE(settings->MiniMode);
  EXPECT_LT(window->height(), full.height());
  EXPECT_FALSE(window->PlayListBox().isVisibleTo(window.get()));
  QTest::mouseDClick(window.get(), Qt::LeftButton, {}, QPoint(window->width() / 2, 3));
  EXPECT_FALSE(window->MiniMode());
  EXPECT_EQ(window->size(), full);
}

// The lyric button shows the lyric window at the window's right; in the mini layout the lyric
// frame moves into the mini lyric window, which follows the window, and back again.
TEST_F(MainWindowTest, TheLyricFrameFollowsTheLayout) {
  TfmLRC* frame = window->LyricWindow().FrameLRC();
  if (settings->LRCFormVisible) window->RunAction(9);  // hidden to start with
  EXPECT_FALSE(window->LyricWindow().isVisible());
  Click(TSkinButtonKind::bkLyric);
  EXPECT_TRUE(settings->LRCFormVisible);
  EXPECT_TRUE(window->LyricWindow().isVisible());
  EXPECT_EQ(window->LyricWindow().geometry().left(), window->geometry().right() + 1);
  EXPECT_TRUE(frame->isVisibleTo(&window->LyricWindow()));

  window->SetMiniMode(true);
  TfrmMiniLRC& mini = window->MiniLyricWindow();
  EXPECT_FALSE(window->LyricWindow().isVisible());
  EXPECT_TRUE(mini.isVisible());
  EXPECT_EQ(mini.Frame(), frame);
  EXPECT_EQ(mini.height(), window->height());
  window->move(window->pos() + QPoint(40, 30));
  QApplication::processEvents();
  EXPECT_EQ(mini.geometry().topLeft(), window->geometry().topRight() + QPoint(1, 0));

  window->SetMiniMode(false);
  EXPECT_FALSE(mini.isVisible());
  EXPECT_EQ(mini.Frame(), nullptr);
  EXPECT_TRUE(window->LyricWindow().isVisible());
  EXPECT_TRUE(frame->isVisibleTo(&window->LyricWindow()));
}

// The position bar seeks when let go, the volume bar sets the volume, the time display counts
// down after a click.
TEST_F(MainWindowTest, BarsAndTheTimeDisplay) {
  controller->OpenFiles({Song("one.wav", 4)});
  Settle();
  PlayFor(200ms);
  emit window->ProgressBar().Released(5000);
  Settle();
  EXPECT_GE(player->GetPositionMs(), 2000);
  QTest::mouseClick(&window->TimeDisplay(), Qt::LeftButton);
  EXPECT_TRUE(controller->ShowsRemaining());
  PlayFor(200ms);
  EXPECT_TRUE(window->TimeDisplay().Text().startsWith("-")) << window->TimeDisplay().Text().toStdString();
}

// Two notices in a row: the second replaces the first's text where it stands, with no new slide.
TEST_F(MainWindowTest, ASecondNoticeReplacesTheFirstWithoutANewSlide) {
  TdlgPopupMsg& notice = window->Notice();
  window->ShowNotice({"提示", "第一条", "", true, -1});
  EXPECT_TRUE(notice.isVisible());
  EXPECT_TRUE(notice.Sliding());
  // The slide takes two seconds; a loaded machine may run its last step a little later.
  EXPECT_TRUE(QTest::qWaitFor([&] { return !notice.Sliding(); }, TdlgPopupMsg::kSlideMs + 3000));
  EXPECT_EQ(notice.geometry(), notice.TargetRect());
  window->ShowNotice({"提示", "第二条", "", false, 300});
  EXPECT_FALSE(notice.Sliding());
  EXPECT_EQ(notice.Text().toStdString(), "第二条");
  // Auto-hide after 300 ms starts the slide out.
  EXPECT_TRUE(QTest::qWaitFor([&] { return notice.Sliding() || !notice.isVisible(); }, 3000));
}

// An item of a menu or of its submenus, by caption.
QAction* MenuItem(QMenu& menu, const QString& caption) {
  for (QAction* a : menu.actions()) {
    if (a->text() == caption) return a;
    if (a->menu())
      if (QAction* inner = MenuItem(*a->menu(), caption)) return inner;
  }
  return nullptr;
}

// The main menu ticks what is on: mute, pause, the modes, the tint entry; a tint from the
// colour menu is applied and stored.
TEST_F(MainWindowTest, TheMainMenuTicksTheStateAndTheColourMenuTints) {
  controller->OpenFiles({Song("one.wav", 2)});
  Settle();
  controller->Pause();
  controller->ToggleMute();
  Settle();
  QMenu& menu = window->MainMenu();
  emit menu.aboutToShow();
  auto ticked = [&](const QString& caption) {
    QAction* a = MenuItem(menu, caption);
    if (!a) ADD_FAILURE() << caption.toStdString();
    return a && a->isChecked();
  };
  EXPECT_TRUE(ticked("暂停(&P)"));
  EXPECT_TRUE(ticked("静音"));
  EXPECT_FALSE(ticked("微型模式(&M)"));
  EXPECT_TRUE(ticked("默认"));  // no tint set
  const QString red = QString::fromUtf8(TintEntries()[0].Caption);
  MenuItem(menu, red)->trigger();
  EXPECT_EQ(settings->AdjustColor, TintEntries()[0].Color);
  emit menu.aboutToShow();
  EXPECT_TRUE(ticked(red));
  EXPECT_FALSE(ticked("默认"));
  EXPECT_FALSE(ticked("自定义..."));
}

// The service's items: hidden without a session; with one, the web pages go to the session,
// login is offered as the login frame says, and logout names the account while logged in. The
// playlist's upload and download are greyed while nothing could be synchronised.
TEST_F(MainWindowTest, TheMainMenuOffersTheServiceAsTheSessionStands) {
  QMenu& menu = window->MainMenu();
  emit menu.aboutToShow();
  EXPECT_FALSE(MenuItem(menu, "音乐在线(&L)")->isVisible());
  EXPECT_FALSE(MenuItem(menu, "登录")->isVisible());
  EXPECT_FALSE(MenuItem(menu, "上传播放列表(&U)")->isEnabled());
  EXPECT_FALSE(MenuItem(menu, "下载播放列表(&D)")->isEnabled());

  std::vector<std::string> calls;
  bool canLogIn = true;
  std::string user;
  TfrmMain::TOnlineMenu hooks;
  hooks.OpenPage = [&](TServicesPage p) { calls.push_back("page " + std::to_string(int(p))); };
  hooks.LogIn = [&] { calls.push_back("login"); };
  hooks.LogOut = [&] { calls.push_back("logout"); };
  hooks.CanLogIn = [&] { return canLogIn; };
  hooks.LoggedInAs = [&] { return user; };
  window->SetOnlineMenu(hooks);
  emit menu.aboutToShow();
  EXPECT_TRUE(MenuItem(menu, "音乐在线(&L)")->isVisible());
  EXPECT_TRUE(MenuItem(menu, "登录")->isEnabled());
  EXPECT_FALSE(MenuItem(menu, "注销(&U)")->isEnabled());
  MenuItem(menu, "我的鸟窝")->trigger();
  MenuItem(menu, "琴鸟音乐排行榜")->trigger();
  MenuItem(menu, "登录")->trigger();

  canLogIn = false;
  user = "alice";
  emit menu.aboutToShow();
  EXPECT_FALSE(MenuItem(menu, "登录")->isEnabled());
  QAction* logout = MenuItem(menu, "注销(&U) [alice]");
  ASSERT_TRUE(logout);
  EXPECT_TRUE(logout->isEnabled());
  logout->trigger();
  EXPECT_EQ(calls, (std::vector<std::string>{"page " + std::to_string(int(TServicesPage::MyNest)),
                                             "page " + std::to_string(int(TServicesPage::Charts)), "login", "logout"}));
}

// The window as a user sees it, playing, in both layouts.
// The lyric menu's search waits for the service; then it opens the dialog prefilled from the
// playing song's caption, the dialog's several hits wait for the user, and the chosen lyric
// becomes the song's and shows.
TEST_F(MainWindowTest, TheLyricMenuFindsALyricForThePlayingSong) {
  QAction* find = window->LyricWindow().FrameLRC()->Menu()->findChild<QAction*>("miFindLRC");
  ASSERT_TRUE(find);
  EXPECT_FALSE(find->isEnabled());
  TDownLRC& down = lyricService;
  UseLyricService();
  EXPECT_TRUE(find->isEnabled());
  controller->OpenFiles({Song("Luna Park - Paper Moon.wav", 3)});
  Settle();

  find->trigger();
  TdlgSearchAndDownLRC* dialog = window->LyricSearchDialog();
  ASSERT_TRUE(dialog);
  EXPECT_EQ(dialog->SingerBox()->text().toStdString(), "Luna Park");
  EXPECT_EQ(dialog->SongBox()->text().toStdString(), "Paper Moon");
  dialog->Search();
  TLyricArtistSearchRequest asked;
  ASSERT_TRUE(ReadLyricArtistSearchRequest(sent.back().data(), sent.back().size(), asked));
  const mlnettest::Bytes reply = mlnettest::Written(
      WriteLyricSearchReply, TLyricSearchReply{asked.RequestID, {{3, "Luna Park", "Paper Moon"}, {4, "Cover", "Paper Moon"}}});
  sent.clear();
  down.TakeSearchReply(reply.data(), int32_t(reply.size()));
  EXPECT_TRUE(sent.empty()) << "with the dialog open, several hits wait for the user";
  dialog->Results()->setCurrentItem(dialog->Results()->topLevelItem(1));
  dialog->DownloadChosen();
  TLyricDownloadRequest download;
  ASSERT_TRUE(ReadLyricDownloadRequest(sent.back().data(), sent.back().size(), download));
  EXPECT_EQ(download.LyricID, 4);
  const mlnettest::Bytes part =
      mlnettest::Written(WriteLyricPart, TLyricPart{download.RequestID, 4, 1, 0, "[00:00.00]cover line\n[00:01.00]two\n"});
  down.TakeLyricPart(part.data(), int32_t(part.size()));
  EXPECT_EQ(lyrics.Count(), 2);
  EXPECT_EQ(controller->PlayingEntry()->LRCFileName, settings->LRCSavePath + "Cover - Paper Moon.lrc");
  EXPECT_TRUE(window->LyricWindow().FrameLRC()->FindLink()->isHidden());

  window->SetLyricService(nullptr);
  controller->SetLyricService(nullptr);
  EXPECT_FALSE(find->isEnabled());
}

// With the dialog open, the automatic search's several hits for a song that starts wait on the
// dialog's countdown; at its end the first becomes the song's lyric and the dialog goes.
TEST_F(MainWindowTest, TheCountdownTakesTheAutomaticSearchsFirstHit) {
  TDownLRC& down = lyricService;
  UseLyricService();
  settings->AutoShowLRC = true;
  window->LyricWindow().FrameLRC()->Menu()->findChild<QAction*>("miFindLRC")->trigger();
  ASSERT_TRUE(window->LyricSearchDialog());

  controller->OpenFiles({Song("Luna Park - Paper Moon.wav", 30)});
  Settle();
  TLyricSearchRequest asked;
  ASSERT_TRUE(ReadLyricSearchRequest(sent.back().data(), sent.back().size(), asked));
  const mlnettest::Bytes reply = mlnettest::Written(
      WriteLyricSearchReply, TLyricSearchReply{asked.RequestID, {{3, "Luna Park", "Paper Moon"}, {4, "Cover", "Paper Moon"}}});
  down.TakeSearchReply(reply.data(), int32_t(reply.size()));
  ASSERT_TRUE(window->LyricSearchDialog()->CountingDown());
  sent.clear();
  loop.Advance(10s);
  TLyricDownloadRequest download;
  ASSERT_FALSE(sent.empty());
  ASSERT_TRUE(ReadLyricDownloadRequest(sent.back().data(), sent.back().size(), download));
  EXPECT_EQ(download, (TLyricDownloadRequest{asked.RequestID, 3}));
  const mlnettest::Bytes part =
      mlnettest::Written(WriteLyricPart, TLyricPart{download.RequestID, 3, 1, 0, "[00:00.00]first\n[00:01.00]two\n"});
  down.TakeLyricPart(part.data(), int32_t(part.size()));
  EXPECT_EQ(lyrics.Count(), 2);
  EXPECT_EQ(controller->PlayingEntry()->LRCFileName, settings->LRCSavePath + "Luna Park - Paper Moon.lrc");
  QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_FALSE(window->LyricSearchDialog()) << "closed and gone";

  window->SetLyricService(nullptr);
  controller->SetLyricService(nullptr);
}

// "本地关联..." opens the association dialog on the lyric shown; a file found in the lyric folder
// becomes the song's lyric, and "撤销关联" takes it away again.
TEST_F(MainWindowTest, TheLyricMenuAssociatesALocalLyric) {
  const std::string folder = settings->LRCSavePath;
  std::filesystem::create_directories(folder);
  WriteAll(folder + "Luna Park - Paper Moon.lrc", "[00:00.00]first\n[00:01.00]two\n[00:02.00]three\n");
  controller->OpenFiles({Song("Another Song.wav", 30)});
  Settle();
  QMenu* menu = window->LyricWindow().FrameLRC()->Menu();
  menu->findChild<QAction*>("miLocalLinkLRC")->trigger();
  TfrmAssociateLRC* dialog = window->AssociateDialog();
  ASSERT_TRUE(dialog);
  EXPECT_EQ(dialog->TitleBox()->text().toStdString(), "");
  dialog->TitleBox()->setText("paper moon");
  QTest::keyClick(dialog->TitleBox(), Qt::Key_Return);
  while (dialog->Scanning()) QApplication::processEvents();
  ASSERT_EQ(dialog->Files()->topLevelItemCount(), 1);
  QTest::mouseClick(dialog->findChild<QPushButton*>("btnAssociate"), Qt::LeftButton);
  EXPECT_EQ(lyrics.Count(), 3);
  EXPECT_EQ(controller->PlayingEntry()->LRCFileName, folder + "Luna Park - Paper Moon.lrc");
  QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_FALSE(window->AssociateDialog()) << "closed and gone";

  // Opened again, on the lyric shown: "撤销关联" drops it and the dialog stays.
  menu->findChild<QAction*>("miLocalLinkLRC")->trigger();
  dialog = window->AssociateDialog();
  ASSERT_TRUE(dialog);
  EXPECT_EQ(dialog->TitleBox()->text().toStdString(), "Luna Park - Paper Moon.lrc");
  EXPECT_EQ(TfrmAssociateLRC::RowPath(dialog->Files()->currentItem()), folder + "Luna Park - Paper Moon.lrc");
  QTest::mouseClick(dialog->findChild<QPushButton*>("btnCancelLink"), Qt::LeftButton);
  EXPECT_EQ(lyrics.Count(), 0);
  EXPECT_EQ(controller->PlayingEntry()->LRCFileName, "");
  EXPECT_TRUE(dialog->isVisible());
  QTest::mouseClick(dialog->findChild<QPushButton*>("btnCancel"), Qt::LeftButton);
  EXPECT_EQ(controller->PlayingEntry()->LRCFileName, "");
}

TEST_F(MainWindowTest, PicturesOfBothLayouts) {
  controller->OpenFiles({Song("Demo Song.wav", 3), Song("第二首歌.wav", 3)});
  Settle();
  PlayFor(1500ms);
  controller->Pause();
  Settle();
  ExpectLooksLike(Grab(), "main-full", kReferences);
  window->SetMiniMode(true);
  Settle();
  ExpectLooksLike(Grab(), "main-mini", kReferences);
}

}  // namespace

int main(int argc, char** argv) { return mltest::RunQtWidgetTests(argc, argv); }
