#include "app/ui/ufrmMain.h"

#include "app/AppInfo.h"
#include "app/MainWindowRules.h"
#include "app/uDM.h"
#include "app/uSettingMgr.h"
#include "app/ui/QtKeys.h"
#include "app/ui/SuggestionPopup.h"
#include "app/ui/dlgPopupMsg.h"
#include "library/MusicFileMgr.h"
#include "library/ui/dlgSelectDir.h"
#include "library/ui/uLuiPlayListBox.h"
#include "library/ui/ufmPlayList.h"
#include "lyrics/LRCParse.h"
#include "lyrics/ui/ufmLRC.h"
#include "lyrics/ui/ufrmAssociateLRC.h"
#include "lyrics/ui/ufrmMiniLRC.h"
#include "lyrics/ui/ufrmSearchAndLRC.h"
#include "playback/DecoderRegistry.h"
#include "skin/ui/SkinQt.h"
#include "skin/ui/uLuiPanel.h"
#include "skin/ui/uLuiScrollLabel.h"
#include "skin/ui/uLuiSkinButton.h"
#include "skin/ui/uLuiSkinImg.h"
#include "skin/ui/uLuiSkinLEDDigtal.h"
#include "skin/ui/uLuiSkinMenu.h"
#include "skin/ui/uLuiSkinScrollBar.h"
#include "skin/ui/uLuiSkinSpectrum.h"
#include "skin/ui/uLuiSkinTrackBar.h"
#include "skin/ui/uLuiTab.h"

#include <QApplication>
#include <QCloseEvent>
#include <QColorDialog>
#include <QDateTime>
#include <QDir>
#include <QDesktopServices>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QMimeData>
#include <QScreen>
#include <QUrl>

#include <algorithm>
#include <cstring>

namespace ml {

namespace {

using K = TSkinButtonKind;

TRect WorkArea(const QWidget& w) {
  const QScreen* screen = w.screen() ? w.screen() : QGuiApplication::primaryScreen();
  return ToTRect(screen ? screen->availableGeometry() : QRect(0, 0, 1024, 768));
}

// The open dialog's filter: every extension a decoder or an input plug-in takes.
QString AudioFileFilter() {
  QStringList globs;
  for (const std::string& e : PlayableExtensions()) globs << "*." + QString::fromStdString(e).toLower();
  return QStringLiteral("音频文件 (%1);;所有文件 (*)").arg(globs.join(' '));
}

}  // namespace

TfrmMain::TfrmMain(TLuiSkinManager& skin, TSettingMgr& settings, const TAppInfo& info, TLRCParse& lyrics)
    : TLuiSkinPlayForm(TSkinFormKind::fkMain), skin_(skin), settings_(settings), info_(info), lyrics_(lyrics) {
  setAcceptDrops(true);
  setFocusPolicy(Qt::StrongFocus);
  SetSkinManager(&skin_);
  BuildControls();
  BuildMenus();
  BuildTray();
  notice_ = new TdlgPopupMsg(this);
  mini_ = settings_.MiniMode;
  BuildLyricWindow();
}

void TfrmMain::BuildLyricWindow() {
  lyricWindow_ = new TfrmSearchAndLRC(lyrics_, this);
  lyricWindow_->UseSkin(&skin_);
  lyricWindow_->SetStayOnTop(settings_.LRCStayOnTop);
  TfmLRC* frame = lyricWindow_->FrameLRC();
  frame->SetHost(this);
  frame->ScrollLRC()->SetKind(KindFromShowStyle(settings_.LRCShowStyle));
  frame->ScrollLRC()->SetBlendValue(BlendValueFromIndex(settings_.LRCBlendValue));
  // The options dialog is not part of this window yet; the lyric search waits for the service
  // (SetLyricService).
  for (const char* name : {"miFindLRC", "miLRCConfig"})
    if (QAction* a = frame->Menu()->findChild<QAction*>(name)) a->setEnabled(false);
  connect(lyricWindow_, &TfrmSearchAndLRC::Closed, this, [this] {
    settings_.LRCFormVisible = false;
    RefreshVisibility();
  });
  connect(lyricWindow_, &TfrmSearchAndLRC::StayOnTopChanged, this, [this](bool on) { settings_.LRCStayOnTop = on; });
  miniLyric_ = new TfrmMiniLRC(this);
  miniLyric_->Panel()->SetSkinManager(&skin_);
  connect(miniLyric_, &TfrmMiniLRC::MiniLRCWidthChanged, this, [this](int width) { settings_.MiniLRCWidth = width; });
}

void TfrmMain::ShowLyricWindow(bool visible) {
  settings_.LRCFormVisible = visible;
  RefreshVisibility();
  if (mini_) {
    // The mini layout shows its lyrics in the mini lyric window at the main window's right.
    PlaceMiniLyric();
    miniLyric_->setVisible(visible);
    return;
  }
  if (!visible) {
    if (lyricWindow_->isVisible()) settings_.LRCFormRect = ToTRect(lyricWindow_->geometry());
    lyricWindow_->hide();
    return;
  }
  // Where the user put it before, else beside the main window where it stands now.
  lyricWindow_->setGeometry(ToQRect(FullPlacement(WorkArea(*this), ToTRect(geometry()), settings_.LRCFormRect).Lyric));
  lyricWindow_->show();
  lyricWindow_->raise();
}

// ---- the lyric frame's host ---------------------------------------------------------------------

TLyricSeekState TfrmMain::LyricSeekState(int32_t ms) const {
  return controller_ ? controller_->LyricSeekState(ms) : TLyricSeekState{};
}

void TfrmMain::SeekTo(int32_t ms) {
  if (controller_) controller_->SeekToMs(ms);
}

TfrmAssociateLRC* TfrmMain::AssociateDialog() const { return associateDialog_.data(); }

void TfrmMain::LinkLocalLyric(const std::string& currentFile) {
  if (!controller_) return;
  if (associateDialog_) {
    associateDialog_->raise();
    associateDialog_->activateWindow();
    return;
  }
  auto* dialog = new TfrmAssociateLRC(controller_->LyricFolder(), currentFile, lyricWindow_);
  dialog->setAttribute(Qt::WA_DeleteOnClose);
  dialog->OnCancelLink = [this] { CancelLyricLink(); };
  connect(dialog, &QDialog::accepted, this, [this, dialog] {
    if (!dialog->ChosenFile().empty()) AssociateLyricFile(dialog->ChosenFile());
  });
  associateDialog_ = dialog;
  dialog->open();
}

void TfrmMain::CancelLyricLink() { AssociateLyricFile({}); }

void TfrmMain::AssociateLyricFile(const std::string& path) {
  if (controller_) controller_->AssociateLyricFile(path);
}

TfrmMain::~TfrmMain() {
  if (tray_) tray_->hide();
}

TLuiSkinButton* TfrmMain::AddButton(TSkinButtonKind kind, const char* hint, std::function<void()> onClick) {
  auto* b = new TLuiSkinButton(kind, this);
  b->SetSkinManager(&skin_);
  if (hint && *hint) b->setToolTip(QString::fromUtf8(hint));
  connect(b, &TLuiSkinButton::Clicked, this, [fn = std::move(onClick)] {
    if (fn) fn();
  });
  buttons_[kind] = b;
  controls_.push_back(b);
  return b;
}

TLuiSkinButton* TfrmMain::Button(TSkinButtonKind kind) const {
  auto it = buttons_.find(kind);
  return it == buttons_.end() ? nullptr : it->second;
}

void TfrmMain::BuildControls() {
  auto own = [&](auto* control) {
    control->SetSkinManager(&skin_);
    controls_.push_back(control);
    return control;
  };
  auto ctl = [this](auto fn) {
    return [this, fn] {
      if (controller_) fn(*controller_);
    };
  };
  AddButton(K::bkPlay, "播放", ctl([](TMainController& c) { c.Play(); }));
  AddButton(K::bkPause, "暂停", ctl([](TMainController& c) { c.Pause(); }));
  AddButton(K::bkStop, "停止", ctl([](TMainController& c) { c.Stop(); }));
  AddButton(K::bkPrev, "上一首", ctl([](TMainController& c) { c.Previous(); }));
  AddButton(K::bkNext, "下一首", ctl([](TMainController& c) { c.Next(); }));
  AddButton(K::bkMute, "静音", ctl([](TMainController& c) { c.ToggleMute(); }));
  AddButton(K::bkUnMute, "取消静音", ctl([](TMainController& c) { c.ToggleMute(); }));
  AddButton(K::bkAllCyc, "全部循环", ctl([](TMainController& c) { c.ClickLoopButton(); }));
  AddButton(K::bkNoneCyc, "单曲播放", ctl([](TMainController& c) { c.ClickLoopButton(); }));
  AddButton(K::bkSingleCyc, "单曲循环", ctl([](TMainController& c) { c.ClickLoopButton(); }));
  AddButton(K::bkOrder, "顺序播放", ctl([](TMainController& c) { c.ClickOrderButton(); }));
  AddButton(K::bkRandom, "随机播放", ctl([](TMainController& c) { c.ClickOrderButton(); }));
  AddButton(K::bkOpen, "打开", [this] { OpenFilesDialog(); });
  AddButton(K::bkLyric, "歌词窗口", [this] { RunAction(9); });
  AddButton(K::bkSearch, "搜索歌曲", [this] { Search(); });
  AddButton(K::bkChangeColor, "更改色调", [this] {
    TLuiSkinButton* b = Button(K::bkChangeColor);
    TickMenu();
    colorMenu_.popup(b->mapToGlobal(QPoint(0, b->height())));
  });
  AddButton(K::bkMinimize, "最小化", [this] {
    if (!mini_) return showMinimized();
    // The mini layout leaves no taskbar entry: both windows hide and the tray brings them back.
    hide();
    miniLyric_->hide();
  });
  AddButton(K::bkMinimode, "迷你模式", [this] { SetMiniMode(true); });
  AddButton(K::bkMainMode, "普通模式", [this] { SetMiniMode(false); });
  AddButton(K::bkExit, "退出", [this] { close(); });
  AddButton(K::bkAddSong, "添加歌曲", [this] { PopupBottomMenu(Button(K::bkAddSong), &addMenu_); });
  AddButton(K::bkDeleteSong, "删除歌曲", [this] { PopupBottomMenu(Button(K::bkDeleteSong), &deleteMenu_); });
  AddButton(K::bkPlayMode, "播放模式", [this] { PopupBottomMenu(Button(K::bkPlayMode), &modeMenu_); });
  AddButton(K::bkFindSong, "查找歌曲", [this] { PopupBottomMenu(Button(K::bkFindSong), &playFrame_->FindMenu()); });
  AddButton(K::bkSyncSong, "同步", [this] { PopupBottomMenu(Button(K::bkSyncSong), &playFrame_->SyncMenu()); });

  icon_ = own(new TLuiSkinImg(this));
  icon_->installEventFilter(this);
  led_ = own(new TLuiSkinLEDDigtal(this));
  connect(led_, &TLuiSkinLEDDigtal::Clicked, this, [this] {
    if (!controller_) return;
    controller_->ToggleTimeMode();
    led_->SetRemaining(controller_->ShowsRemaining());
  });
  infoLabel_ = own(new TLuiScrollLabel(TScrollLabelKind::lkPlayInfo, this));
  bitrate_ = own(new TLuiScrollLabel(TScrollLabelKind::lkBitrate, this));
  sampleRate_ = own(new TLuiScrollLabel(TScrollLabelKind::lkSampleRate, this));
  spectrum_ = own(new TLuiSkinSpectrum(this));
  progress_ = own(new TLuiSkinTrackBar(TSkinTrackBarKind::tkProgress, this));
  progress_->setToolTip(QStringLiteral("调整歌曲进度"));
  progress_->SetMax(TMainController::kProgressMax);
  connect(progress_, &TLuiSkinTrackBar::PositionChanged, this, [this](int) { seeking_ = true; });
  connect(progress_, &TLuiSkinTrackBar::Released, this, [this](int position) {
    seeking_ = false;
    if (controller_) controller_->SeekReleased(position);
  });
  volume_ = own(new TLuiSkinTrackBar(TSkinTrackBarKind::tkVolume, this));
  volume_->setToolTip(QStringLiteral("调节音量"));
  volume_->SetMax(100);
  connect(volume_, &TLuiSkinTrackBar::PositionChanged, this, [this](int v) {
    if (controller_) controller_->SetVolume(v);
  });
  search_ = own(new TTransparentEdit(this));
  search_->SetDefaultEditText(QString::fromUtf8(kSearchHint));
  connect(search_, &QLineEdit::returnPressed, this, [this] { Search(); });
  BuildSuggestions();
  tabs_ = own(new TLuiSkinTab(TSkinTabKind::tkPlayer, this));
  pages_ = own(new TLuiPanel(TLuiPanelKind::pkPlayList, this));
  pages_->installEventFilter(this);
  playFrame_ = new TfmPlayList(&skin_, pages_);
  playList_ = &playFrame_->SongBox();
  connect(playFrame_, &TfmPlayList::PlayRequested, this, [this](int row) {
    if (controller_) controller_->PlayRow(size_t(row));
  });
  connect(playFrame_, &TfmPlayList::AddSongsRequested, this, [this] { RunAction(11); });
  connect(playList_, &TLuiPlayListBox::FilesDropped, this, [this](const QStringList& paths) { DropPaths(paths); });
  AddPage(QStringLiteral("播放列表"), playFrame_);
  connect(tabs_, &TLuiSkinTab::TabChanged, this, [this](int index) {
    for (size_t i = 0; i < pageWidgets_.size(); ++i) pageWidgets_[i]->setVisible(int(i) == index);
    LayoutPages();
  });
}

void TfrmMain::AddPage(const QString& caption, QWidget* page) {
  page->setParent(pages_);
  pageWidgets_.push_back(page);
  pageCaptions_ << caption;
  tabs_->SetTabs(pageCaptions_);
  page->setVisible(pageWidgets_.size() == 1);
  LayoutPages();
}

void TfrmMain::LayoutPages() {
  const QRect inner = pages_->rect().adjusted(1, 1, -1, -1);
  for (QWidget* page : pageWidgets_) page->setGeometry(inner);
}

bool TfrmMain::eventFilter(QObject* watched, QEvent* event) {
  if (watched == pages_ && event->type() == QEvent::Resize) LayoutPages();
  if (watched == icon_ && event->type() == QEvent::MouseButtonPress) {
    mainMenu_.popup(QCursor::pos());
    return true;
  }
  return TLuiSkinPlayForm::eventFilter(watched, event);
}

void TfrmMain::BuildMenus() {
  menuColors_ = std::make_unique<TLuiSkinColorMap>();
  menuColors_->SetSkinManager(&skin_);
  auto add = [this](QMenu& menu, const char* key, const char* caption, std::function<void()> fn,
                    bool checkable = false) {
    QAction* a = menu.addAction(QString::fromUtf8(caption));
    a->setCheckable(checkable);
    connect(a, &QAction::triggered, this, [fn = std::move(fn)] { fn(); });
    if (key) actions_[key] = a;
    return a;
  };
  auto run = [this](int action) { return [this, action] { RunAction(action); }; };
  // The main menu (window right click and tray), in the order users of the player know.
  mainMenu_.setDefaultAction(add(mainMenu_, "open", "打开(&O)", run(10)));
  onlineMenu_.setTitle(QStringLiteral("音乐在线(&L)"));
  actions_["online"] = mainMenu_.addMenu(&onlineMenu_);
  auto page = [this](TServicesPage p) {
    return [this, p] {
      if (onlineHooks_.OpenPage) onlineHooks_.OpenPage(p);
    };
  };
  add(onlineMenu_, nullptr, "意见反馈", page(TServicesPage::Feedback));
  onlineMenu_.addSeparator();
  add(onlineMenu_, nullptr, "我的鸟窝", page(TServicesPage::MyNest));
  add(onlineMenu_, nullptr, "歌手列表", page(TServicesPage::SingerList));
  add(onlineMenu_, nullptr, "琴鸟音乐排行榜", page(TServicesPage::Charts));
  mainMenu_.addSeparator();
  QMenu* volume = mainMenu_.addMenu(QStringLiteral("音量控制(&V)"));
  add(*volume, "volumeUp", "增大音量", run(6));
  add(*volume, "volumeDown", "减少音量", run(7));
  volume->addSeparator();
  add(*volume, "mute", "静音", run(8), true);
  QMenu* order = mainMenu_.addMenu(QStringLiteral("播放模式(&N)"));
  add(*order, "order0", "顺序播放", [this] { controller_->RemoteSetOrderMode(0); }, true);
  add(*order, "order1", "随机播放", [this] { controller_->RemoteSetOrderMode(1); }, true);
  order->addSeparator();
  add(*order, "loop0", "全部循环", [this] { controller_->RemoteSetLoopMode(0); }, true);
  add(*order, "loop2", "单曲循环", [this] { controller_->RemoteSetLoopMode(2); }, true);
  add(*order, "loop1", "单曲播放", [this] { controller_->RemoteSetLoopMode(1); }, true);
  mainMenu_.addSeparator();
  // The options dialog and the equalizer window are not part of the desktop yet.
  add(mainMenu_, "config", "选项(&S)", [] {})->setEnabled(false);
  add(mainMenu_, "eq", "EQ窗口", [] {})->setEnabled(false);
  add(mainMenu_, "lyric", "歌词秀(&R)", run(9), true);
  add(mainMenu_, "mini", "微型模式(&M)", run(5), true);
  mainMenu_.addSeparator();
  add(mainMenu_, "upload", "上传播放列表(&U)", run(18));
  add(mainMenu_, "download", "下载播放列表(&D)", run(19));
  mainMenu_.addSeparator();
  QMenu* skins = mainMenu_.addMenu(QStringLiteral("皮肤(&K)"));
  add(*skins, "skinDefault", "默认(&D)", [] {}, true)->setChecked(true);
  colorMenu_.setTitle(QStringLiteral("改变颜色"));
  mainMenu_.addMenu(&colorMenu_);
  add(colorMenu_, "tintCustom", "自定义...", [this] {
    const TColor start = settings_.AdjustColor ? TColor(settings_.AdjustColor) : TColor(0x0000FF);
    const QColor chosen = QColorDialog::getColor(ToQColor(start), this);
    if (chosen.isValid()) SetTint(TColor(chosen.red() | chosen.green() << 8 | chosen.blue() << 16));
  }, true);
  add(colorMenu_, "tintDefault", "默认", [this] { SetTint(0); }, true);
  colorMenu_.addSeparator();
  for (const TTintEntry& e : TintEntries()) {
    const TColor color = e.Color;
    tintActions_.push_back(add(colorMenu_, nullptr, e.Caption, [this, color] { SetTint(color); }, true));
  }
  mainMenu_.addSeparator();
  add(mainMenu_, "login", "登录", [this] {
    if (onlineHooks_.LogIn) onlineHooks_.LogIn();
  });
  add(mainMenu_, "logout", "注销(&U)", [this] {
    if (onlineHooks_.LogOut) onlineHooks_.LogOut();
  });
  mainMenu_.addSeparator();
  add(mainMenu_, "pause", "暂停(&P)", run(1), true);
  add(mainMenu_, "prev", "上一首(&H)", run(2));
  add(mainMenu_, "next", "下一首(&W)", run(3));
  mainMenu_.addSeparator();
  add(mainMenu_, "realign", "重新排列播放器窗口(&F) ", run(20));
  mainMenu_.addSeparator();
  add(mainMenu_, "exit", "退出(&X)", [this] { close(); });
  connect(&mainMenu_, &QMenu::aboutToShow, this, [this] { TickMenu(); });

  add(addMenu_, nullptr, "添加文件", run(11));
  add(addMenu_, nullptr, "添加文件夹", run(12));
  add(deleteMenu_, nullptr, "删除选中的歌曲", [this] {
    if (controller_ && controller_->PlayList().RemoveSelected(false)) ShowPlaylist();
  });
  add(deleteMenu_, nullptr, "清空列表", [this] {
    if (!controller_) return;
    controller_->PlayList().ClearList();
    ShowPlaylist();
  });
  modeMenu_.addActions(order->actions());
  // The song menu ends with the modes, ticked as they stand.
  playFrame_->SongMenu().addSeparator();
  playFrame_->SongMenu().addActions(order->actions());
  connect(&playFrame_->SongMenu(), &QMenu::aboutToShow, this, [this] { TickMenu(); });
  for (QMenu* m : {&mainMenu_, &onlineMenu_, volume, skins, &colorMenu_, &addMenu_, &deleteMenu_, &modeMenu_, order,
                   &playFrame_->FindMenu(), &playFrame_->SyncMenu(), &playFrame_->SongMenu(), &playFrame_->ListMenu()})
    menuColors_->Attach(m);
}

void TfrmMain::TickMenu() {
  const bool has = controller_ != nullptr;
  actions_["pause"]->setChecked(has && controller_->Paused());
  actions_["mute"]->setChecked(muted_);
  actions_["mini"]->setChecked(mini_);
  actions_["lyric"]->setChecked(settings_.LRCFormVisible);
  for (int i = 0; i < 2; ++i) actions_["order" + std::to_string(i)]->setChecked(orderMode_ == i);
  for (int i = 0; i < 3; ++i) actions_["loop" + std::to_string(i)]->setChecked(loopMode_ == i);
  // The colour menu: "默认" without a tint, the entry of the tint, else "自定义...".
  const int ticked = TickedTint(TColor(settings_.AdjustColor));
  actions_["tintDefault"]->setChecked(ticked == kDefaultTint);
  actions_["tintCustom"]->setChecked(ticked == kCustomTint);
  actions_["skinDefault"]->setChecked(true);  // the only skin there is
  for (size_t i = 0; i < tintActions_.size(); ++i) tintActions_[i]->setChecked(int(i) == ticked);
  // The playlist's synchronisation as its own menu offers it; the service's items as the session
  // stands (all hidden without one, the web pages also in the partner edition).
  actions_["upload"]->setEnabled(playFrame_->CanUpload());
  actions_["download"]->setEnabled(playFrame_->CanDownload());
  const bool online = bool(onlineHooks_.OpenPage);
  actions_["online"]->setVisible(online && info_.EditionCode != 1);
  actions_["login"]->setVisible(online);
  actions_["logout"]->setVisible(online);
  actions_["login"]->setEnabled(online && onlineHooks_.CanLogIn && onlineHooks_.CanLogIn());
  const std::string user = online && onlineHooks_.LoggedInAs ? onlineHooks_.LoggedInAs() : std::string();
  actions_["logout"]->setEnabled(!user.empty());
  actions_["logout"]->setText(user.empty() ? QStringLiteral("注销(&U)")
                                           : QStringLiteral("注销(&U) [") + QString::fromStdString(user) + "]");
}

void TfrmMain::SetOnlineMenu(TOnlineMenu hooks) { onlineHooks_ = std::move(hooks); }

void TfrmMain::BuildTray() {
  if (!QSystemTrayIcon::isSystemTrayAvailable()) return;
  tray_ = new QSystemTrayIcon(windowIcon(), this);
  tray_->setContextMenu(&mainMenu_);
  tray_->setToolTip(QString::fromStdString(info_.AppSlogan));
  connect(tray_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
    if (reason == QSystemTrayIcon::Trigger) BringMainWindowUp();
  });
  tray_->show();
}

void TfrmMain::SetController(TMainController* controller) {
  controller_ = controller;
  if (!controller_) return;
  playFrame_->PlayingEntry = [this] { return controller_ ? controller_->PlayingEntry() : nullptr; };
  playFrame_->SetController(&controller_->PlayList());
  playFrame_->SetPane(settings_.PlayListMgrWidth, settings_.PlayListMgrVisible);
  controller_->OnRaise = [this] { BringMainWindowUp(); };
  controller_->OnQuit = [this] { close(); };
  controller_->OnConfirmDeleteFiles = [this](int count) {
    return AskYesNo("提示", QString("是否确定从硬盘上删除选的%1个文件?").arg(count).toStdString());
  };
}

bool TfrmMain::ApplySkin(std::string* error) {
  const bool ok = skin_.ApplySkin(mini_, TColor(settings_.AdjustColor), true);
  if (!ok && error) *error = skin_.Error();
  RefreshVisibility();
  LayoutPages();
  return ok;
}

void TfrmMain::RefreshVisibility() {
  for (TSkinControl* c : controls_) {
    auto* w = dynamic_cast<QWidget*>(c);
    if (!w || w == this) continue;
    w->setVisible(c->InSkin());
  }
  auto pair = [this](K shown, K hidden) {
    if (TLuiSkinButton* b = Button(hidden)) b->setVisible(false);
    if (TLuiSkinButton* b = Button(shown)) b->setVisible(b->InSkin());
  };
  pair(playing_ ? K::bkPause : K::bkPlay, playing_ ? K::bkPlay : K::bkPause);
  pair(muted_ ? K::bkUnMute : K::bkMute, muted_ ? K::bkMute : K::bkUnMute);
  pair(orderMode_ == 1 ? K::bkRandom : K::bkOrder, orderMode_ == 1 ? K::bkOrder : K::bkRandom);
  const K loops[3] = {K::bkAllCyc, K::bkNoneCyc, K::bkSingleCyc};
  for (int i = 0; i < 3; ++i)
    if (TLuiSkinButton* b = Button(loops[i])) b->setVisible(i == loopMode_ && b->InSkin());
  // Each layout has one of the two mode buttons.
  if (TLuiSkinButton* b = Button(K::bkMinimode)) b->setVisible(!mini_ && b->InSkin());
  if (TLuiSkinButton* b = Button(K::bkMainMode)) b->setVisible(mini_ && b->InSkin());
  if (TLuiSkinButton* b = Button(K::bkLyric)) b->SetCheck(settings_.LRCFormVisible);
}

void TfrmMain::SetMiniMode(bool mini) {
  if (mini == mini_ && isVisible()) return;
  SaveWindowPlaces();
  mini_ = mini;
  settings_.MiniMode = mini;
  ApplySkin();
  PlaceWindow();
  if (!isVisible()) show();
  raise();
}

void TfrmMain::PlaceWindow() {
  const TRect work = WorkArea(*this);
  const TPlacement p = mini_ ? MiniPlacement(work, width(), height(), MiniLyricWidth(), settings_.MiniFormRect)
                             : FullPlacement(work, settings_.MainFormRect, settings_.LRCFormRect);
  if (mini_) move(p.Main.Left, p.Main.Top);
  else setGeometry(ToQRect(p.Main));
  // The lyric frame lives in the lyric window in the full layout and in the mini lyric window in
  // the mini one.
  if (mini_) {
    if (lyricWindow_->isVisible()) settings_.LRCFormRect = ToTRect(lyricWindow_->geometry());
    lyricWindow_->hide();
    if (!miniLyric_->Frame()) miniLyric_->TakeFrame(lyricWindow_->FrameLRC());
  } else {
    if (miniLyric_->Frame()) {
      settings_.MiniLRCWidth = miniLyric_->width();
      miniLyric_->GiveBackFrame();
    }
    miniLyric_->hide();
  }
  ShowLyricWindow(settings_.LRCFormVisible);
}

int TfrmMain::MiniLyricWidth() const {
  return settings_.MiniLRCWidth >= TfrmMiniLRC::MinWidth ? settings_.MiniLRCWidth : TfrmMiniLRC::DefaultWidth;
}

void TfrmMain::PlaceMiniLyric() {
  miniLyric_->setGeometry(geometry().right() + 1, geometry().top(), MiniLyricWidth(), height());
}

void TfrmMain::moveEvent(QMoveEvent* event) {
  TLuiSkinPlayForm::moveEvent(event);
  // The mini lyric window is dragged along with the window.
  if (mini_ && miniLyric_ && miniLyric_->isVisible()) PlaceMiniLyric();
}

void TfrmMain::Realign() {
  const TPlacement p =
      RealignPlacement(WorkArea(*this), mini_, mini_ ? width() : kMainWidth, mini_ ? height() : kMainHeight,
                       settings_.MiniLRCWidth);
  setGeometry(ToQRect(p.Main));
  SaveWindowPlaces();
}

void TfrmMain::SaveWindowPlaces() {
  if (!isVisible()) return;
  if (mini_) {
    settings_.MiniFormRect = ToTRect(geometry());
    if (miniLyric_->isVisible()) settings_.MiniLRCWidth = miniLyric_->width();
  } else {
    settings_.MainFormRect = ToTRect(geometry());
    if (lyricWindow_->isVisible()) settings_.LRCFormRect = ToTRect(lyricWindow_->geometry());
  }
}

void TfrmMain::SetTint(TColor tint) {
  settings_.AdjustColor = tint;
  ApplySkin();
}

// ---- actions ----------------------------------------------------------------------------------

void TfrmMain::RunAction(int action) {
  if (controller_ && controller_->RunAction(action)) return;
  switch (action) {
    case 5: SetMiniMode(!mini_); break;
    case 9: ShowLyricWindow(!settings_.LRCFormVisible); break;
    case 10:
    case 11: OpenFilesDialog(); break;
    case 12: AddFolderDialog(); break;
    case 18:
      if (playFrame_->CanUpload()) playFrame_->Upload();
      break;
    case 19:
      if (playFrame_->CanDownload()) playFrame_->Download();
      break;
    case 20: Realign(); break;
    default: break;
  }
}

void TfrmMain::OpenFilesDialog() {
  const QStringList files = QFileDialog::getOpenFileNames(this, QStringLiteral("打开"), QString(), AudioFileFilter());
  DropPaths(files);
}

void TfrmMain::AddFolderDialog() {
  TdlgSelectDir picker(PlayableExtensions(), QDir::homePath(), this);
  if (picker.exec() != QDialog::Accepted || !controller_) return;
  controller_->OpenFiles(ScanFolder(picker.Folder(), picker.Extensions(), picker.Recursive()));
  tabs_->SetTabIndex(0);
}

void TfrmMain::DropPaths(const QStringList& paths) {
  if (!controller_ || paths.isEmpty()) return;
  std::vector<std::string> files;
  for (const QString& p : paths) {
    const std::string path = p.toStdString();
    if (QFileInfo(p).isDir()) {
      for (std::string& f : ScanFolder(path, PlayableExtensionsPattern(), true)) files.push_back(std::move(f));
    } else {
      files.push_back(path);
    }
  }
  controller_->OpenFiles(files);
  tabs_->SetTabIndex(0);
}

void TfrmMain::Search() {
  if (mini_) SetMiniMode(false);
  suggestions_->HideList();
  const std::string keyword = TSearchGate::Keyword(search_->text().toStdString(), kSearchHint);
  const int64_t now = QDateTime::currentMSecsSinceEpoch();
  if (searchGate_.ShouldSearch(keyword, now) && OnSearch) OnSearch(keyword);
}

void TfrmMain::PopupBottomMenu(TLuiSkinButton* button, QMenu* menu) {
  TickMenu();
  menu->popup(button->mapToGlobal(QPoint(0, button->height())));
}

// ---- IMainView ---------------------------------------------------------------------------------

void TfrmMain::ShowPlaying(bool playing) {
  playing_ = playing;
  RefreshVisibility();
}

void TfrmMain::ShowTitle(const std::string& title) { setWindowTitle(QString::fromStdString(title)); }

void TfrmMain::ShowInfo(const std::string& text) { infoLabel_->SetText(QString::fromStdString(text)); }

void TfrmMain::ShowRates(const std::string& bitrate, const std::string& sampleRate) {
  bitrate_->SetText(QString::fromStdString(bitrate));
  sampleRate_->SetText(QString::fromStdString(sampleRate));
}

void TfrmMain::ShowTime(int64_t positionMs, int64_t durationMs, bool remaining) {
  led_->SetRemaining(remaining);
  led_->SetTime(int(positionMs), int(durationMs));
}

void TfrmMain::ShowProgress(int position, int downloadMark) {
  // The user's drag wins over the player's report until the bar is let go.
  if (!seeking_) progress_->SetPosition(position);
  progress_->SetSelEnd(downloadMark);
}

void TfrmMain::ShowMute(bool muted) {
  muted_ = muted;
  RefreshVisibility();
}

void TfrmMain::ShowVolume(int volume) { volume_->SetPosition(volume); }

void TfrmMain::ShowModes(int loopMode, int orderMode) {
  loopMode_ = loopMode;
  orderMode_ = orderMode;
  RefreshVisibility();
}

void TfrmMain::ShowPlaylist() {
  if (controller_) playFrame_->ShowState();
}

void TfrmMain::ShowLyrics(int32_t durationMs) {
  TfmLRC* frame = lyricWindow_->FrameLRC();
  frame->ScrollLRC()->SetMaxTime(durationMs);
  if (lyrics_.Count() == 0) frame->ClearLyrics();
  else frame->LyricsLoaded();
  frame->UpdatePosition(0);
}

void TfrmMain::ShowLyricPosition(int32_t ms) { lyricWindow_->FrameLRC()->UpdatePosition(ms); }

void TfrmMain::ShowSpectrum(const float* levels) {
  std::array<float, SpectrumLevelCount> copy{};
  if (levels) std::memcpy(copy.data(), levels, sizeof(float) * copy.size());
  spectrum_->ShowLevels(copy);
}

void TfrmMain::ShowNotice(const TNotice& notice) { notice_->ShowNotice(notice); }

// ---- IServicesShell ----------------------------------------------------------------------------

void TfrmMain::BringMainWindowUp() {
  if (isMinimized()) showNormal();
  show();
  if (mini_ && settings_.LRCFormVisible) {
    PlaceMiniLyric();
    miniLyric_->show();
  }
  raise();
  activateWindow();
}

bool TfrmMain::AskYesNo(const std::string& caption, const std::string& text) {
  return QMessageBox::question(this, QString::fromStdString(caption), QString::fromStdString(text)) ==
         QMessageBox::Yes;
}

void TfrmMain::ShowWarning(const std::string& caption, const std::string& text) {
  QMessageBox::warning(this, QString::fromStdString(caption), QString::fromStdString(text));
}

void TfrmMain::StartSearch(const std::string& text) {
  BringMainWindowUp();
  search_->setText(QString::fromStdString(text));
  Search();
}

void TfrmMain::SetTrayHint(const std::string& text) {
  if (tray_) tray_->setToolTip(QString::fromStdString(text));
}

void TfrmMain::SkinFinished() { ShowSpectrum(nullptr); }

void TfrmMain::OpenWebPage(const std::string& url) { QDesktopServices::openUrl(QUrl(QString::fromStdString(url))); }

void TfrmMain::ShowLoginPage() {
  ShowLyricWindow(true);
  lyricWindow_->ShowPage(TfrmSearchAndLRC::pgLogin);
}

// ---- events -------------------------------------------------------------------------------------

void TfrmMain::closeEvent(QCloseEvent* event) {
  if (!closing_) {
    closing_ = true;
    SaveWindowPlaces();
    settings_.PlayListMgrWidth = playFrame_->PaneWidth();
    settings_.PlayListMgrVisible = playFrame_->PaneVisible();
    if (controller_) controller_->Close();
    notice_->hide();
    if (tray_) tray_->hide();
  }
  event->accept();
  QApplication::quit();
}

void TfrmMain::keyPressEvent(QKeyEvent* event) {
  if (const std::optional<int> action = MatchLocalHotkey(settings_.KeyMaps, ShortcutOfKeyEvent(*event))) {
    RunAction(*action);
    return;
  }
  TLuiSkinPlayForm::keyPressEvent(event);
}

void TfrmMain::mouseDoubleClickEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton && childAt(event->position().toPoint()) == nullptr) SetMiniMode(!mini_);
}

void TfrmMain::contextMenuEvent(QContextMenuEvent* event) { mainMenu_.popup(event->globalPos()); }

void TfrmMain::dragEnterEvent(QDragEnterEvent* event) {
  if (TLuiPlayListBox::DroppedFiles(event->mimeData())) event->acceptProposedAction();
}

void TfrmMain::dropEvent(QDropEvent* event) {
  if (!TLuiPlayListBox::DroppedFiles(event->mimeData())) return;
  // Read as a drop on the playlist: its FilesDropped brings the paths to DropPaths.
  playList_->DropUrls(event->mimeData()->urls());
  event->acceptProposedAction();
}

}  // namespace ml
