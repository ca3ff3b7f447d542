#include "app/ui/DesktopSession.h"

#include "app/AppInfo.h"
#include "app/MainController.h"
#include "app/PlayerSettings.h"
#include "app/uSettingMgr.h"
#include "app/OnlinePlaylistSync.h"
#include "app/OnlineSession.h"
#include "app/OnlineSongTarget.h"
#include "app/uDM.h"
#include "app/ui/GlobalHotkeys.h"
#include "app/ui/Mpris.h"
#include "app/ui/QtDispatcher.h"
#include "app/ui/ufrmMain.h"
#include "library/ui/ufmPlayList.h"
#include "base/AppPaths.h"
#include "library/MusicFileMgr.h"
#include "base/LRMD5.h"
#include "lyrics/LRCParse.h"
#include "lyrics/ui/ufrmSearchAndLRC.h"
#include "online/ui/ufrmLogin.h"
#include "online/ui/ufrmSearchResult.h"
#include "playback/uOutputModuleFactory.h"
#include "playback/uPlayer.h"
#include "skin/uLuiSkinMgr.h"

#include <malloc.h>

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QIcon>
#include <QSocketNotifier>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace ml {

namespace {

// The program's window icon, from the sizes drawn beside the skin.
constexpr int kLargestWindowIcon = 64;

QIcon ProgramIcon(const std::string& skinResDir) {
  QIcon icon;
  const QDir folder(QString::fromStdString(skinResDir + "icons"));
  // Each picture is named by its size. On X11 every window sends every size of its icon to the
  // server (_NET_WM_ICON), so the window icon keeps the sizes window lists and the tray draw,
  // up to 64 px: with the 128 and 256 px pictures each window sent some 350 KB at start. Docks
  // and menus take the larger sizes from the installed icon theme (scripts/install-desktop).
  for (const QString& name : folder.entryList({"*.png"}, QDir::Files)) {
    const int side = QFileInfo(name).completeBaseName().toInt();
    if (side > 0 && side <= kLargestWindowIcon) icon.addFile(folder.filePath(name), QSize(side, side));
  }
  return icon;
}

// SIGTERM, SIGINT and SIGHUP reach Qt's loop through a pipe (a signal handler may only write).
int quitPipe[2] = {-1, -1};

class TQuitSignals {
public:
  explicit TQuitSignals(std::function<void()> quit) : quit_(std::move(quit)) {
    if (::pipe2(quitPipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
    notifier_ = std::make_unique<QSocketNotifier>(quitPipe[0], QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] {
      char drained[16];
      while (::read(quitPipe[0], drained, sizeof drained) > 0) {
      }
      quit_();
    });
    struct sigaction action {};
    action.sa_handler = [](int) {
      const char byte = 1;
      (void)!::write(quitPipe[1], &byte, 1);
    };
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : {SIGTERM, SIGINT, SIGHUP}) ::sigaction(signal, &action, nullptr);
  }
  ~TQuitSignals() {
    for (int signal : {SIGTERM, SIGINT, SIGHUP}) std::signal(signal, SIG_DFL);
    notifier_.reset();
    for (int& fd : quitPipe) {
      if (fd >= 0) ::close(fd);
      fd = -1;
    }
  }

private:
  std::function<void()> quit_;
  std::unique_ptr<QSocketNotifier> notifier_;
};

// The current playlist as the services module's target for linked songs; the window shows what
// was added.
class TWindowSongTarget final : public IOnlineSongTarget {
public:
  TWindowSongTarget(TfrmMain& window, TPlayListController& playlist, TMusicFileMgr& library)
      : window_(window), target_(playlist, library) {}
  size_t SongCount() const override { return target_.SongCount(); }
  void ClearSelection() override {
    target_.ClearSelection();
    window_.ShowPlaylist();
  }
  void AddOnlineSong(const TOnlineSong& song, bool play) override {
    target_.AddOnlineSong(song, play);
    window_.ShowPlaylist();
  }
  void PlaySong(size_t index) override { target_.PlaySong(index); }

private:
  TfrmMain& window_;
  TPlayListSongTarget target_;
};

// The search result page and the login frame in the lyric window; the search box searches the
// service, and a song chosen from the results joins the playlist (and plays while it downloads).
void ConnectOnlinePages(TfrmMain& window, TMainController& controller, TMusicFileMgr& library, TOnlineSession& online,
                        TLuiSkinManager& skin, const TAppInfo& info) {
  TfrmSearchAndLRC& lyricWindow = window.LyricWindow();
  auto* results = new TfrmSearchResult(online.Search());
  results->SetSkinManager(&skin);
  lyricWindow.SetPage(TfrmSearchAndLRC::pgSearch, results);
  auto* login = new TfmLogin(online, info.AppTitle, info.ExeFileName);
  login->SetSkinManager(&skin);
  lyricWindow.SetPage(TfrmSearchAndLRC::pgLogin, login);
  online.OnLoginResult = [login](const TLoginOutcome& outcome) { login->LoginFinished(outcome); };
  QObject::connect(login, &TfmLogin::Notice, &window, [&window](const QString& caption, const QString& text, int ms) {
    window.ShowNotice({caption.toStdString(), text.toStdString(), "", false, ms});
  });
  window.OnSearch = [&window, &online, &lyricWindow](const std::string& keyword) {
    if (!keyword.empty()) online.SearchFor(keyword);
    window.ShowLyricWindow(true);
    lyricWindow.ShowPage(TfrmSearchAndLRC::pgSearch);
  };
  QObject::connect(results, &TfrmSearchResult::SongChosen, &window,
                   [&window, &controller, &library](const QString& digest, const QString& name, qint64, bool play) {
                     TShareFileInfo* entry =
                         library.AddFromSearchResult(name.toStdString(), LRMD5::MD5StrToDigest(digest.toStdString()));
                     if (!entry) return;
                     controller.PlayList().AddEntry(entry, play);
                     window.ShowPlaylist();
                   });
  QObject::connect(results, &TfrmSearchResult::KeywordChosen, &window,
                   [&window](const QString& keyword) { window.StartSearch(keyword.toStdString()); });
  // The search box's suggestions, and the service's lyrics for songs without one.
  window.OnSuggest = [&online](const std::string& text) { online.Suggest(text); };
  online.OnSuggestions = [&window](const std::string& text, const std::vector<TSuggestion>& words) {
    window.ShowSuggestions(text, words);
  };
  controller.SetLyricService(&online.Lyrics());
  window.SetLyricService(&online.Lyrics());
  // The main menu's service items.
  TfrmMain::TOnlineMenu menu;
  menu.OpenPage = [&online](TServicesPage page) { online.Services().OpenMenuPage(page, online.User().UserName()); };
  menu.LogIn = [&window, login] {
    window.ShowLoginPage();
    login->MenuLogin();
  };
  menu.LogOut = [login] { login->PressLogout(); };
  menu.CanLogIn = [login] { return login->CanMenuLogin(); };
  menu.LoggedInAs = [&online, login]() -> std::string {
    if (login->State() != TfmLogin::TState::LoggedIn || !online.AccountLoggedIn()) return {};
    const std::string name = online.User().UserName();
    return name.empty() ? std::to_string(online.User().UserID.load()) : name;
  };
  window.SetOnlineMenu(std::move(menu));
}

}  // namespace

int RunDesktop(TStartupSession& session, TQtDispatcher& dispatcher, const TDesktopParts& parts) {
  const TAppInfo& info = session.Info();
  TSettingMgr settings(info.SettingsFileName(),
                       TSettingContext{info.AppDir, info.ExeBaseName, info.AppTitle, ExecutablePath(), nullptr});
  settings.Load();
  if (!settings.LoadProblem().empty()) std::fprintf(stderr, "minilirra: %s\n", settings.LoadProblem().c_str());

  const std::string libraryFile = info.AppDir + "MusicFiles.xml";
  TMusicFileMgr library(&dispatcher);
  if (std::string error; !library.LoadWithRecovery(libraryFile, &error) && !error.empty())
    std::fprintf(stderr, "minilirra: the music library could not be read (%s); it starts empty\n", error.c_str());
  library.EnableAutoSave(libraryFile);

  TPlayer player(&dispatcher);
  TOutputTarget output = parts.Output;
  if (!parts.HaveOutput) {
    std::string message;
    output = TOutputModuleFactory::DefaultTarget(message);
    if (!message.empty()) std::fprintf(stderr, "minilirra: %s\n", message.c_str());
  }
  player.SetOutputTarget(output);
  std::vector<std::string> problems;
  ApplyEffectSettings(player, settings, &problems);
  for (const std::string& p : problems) std::fprintf(stderr, "minilirra: saved DSP plug-in %s\n", p.c_str());

  TLRCParse lyrics;
  TLuiSkinManager skin;
  skin.SetPackageFile(info.SkinResDir + TLuiSkinManager::kBuiltInPackage);

  QApplication::setWindowIcon(ProgramIcon(info.SkinResDir));
  TfrmMain window(skin, settings, info, lyrics);
  // A desktop that logs out, or a user's kill, asks the program to end: it closes as from the
  // window, saving the library, the settings and the window's place.
  TQuitSignals quitSignals([&window] { window.close(); });
  TMainControllerParts core;
  core.Player = &player;
  core.Library = &library;
  core.Settings = &settings;
  core.Info = &info;
  core.dispatcher = &dispatcher;
  core.Lyrics = &lyrics;
  core.View = &window;
  // Songs of the service are downloaded by the online session (made once the window exists,
  // since it talks to the window).
  std::unique_ptr<TOnlineSession> online;
  core.DownloadForPlay = [&online](TShareFileInfo& e) -> std::shared_ptr<IPlayableDownload> {
    return online ? online->DownloadForPlay(e.FileHash, e.Caption, int64_t(e.FileSize)) : nullptr;
  };
  core.ReportPlayed = [&online](const std::string& caption) {
    if (online) online->ReportPlayed(caption);
  };
  TMainController controller(core);
  window.SetController(&controller);
  if (std::string error; !window.ApplySkin(&error)) {
    std::fprintf(stderr, "minilirra: the skin %s cannot be used: %s\n", skin.PackageFile().c_str(), error.c_str());
    return 1;
  }
  window.PlaceWindow();

  // The service: login, search, downloads, the services module's housekeeping.
  TOnlineSessionOptions onlineOptions;
  onlineOptions.Info = &info;
  onlineOptions.Settings = &settings;
  onlineOptions.dispatcher = &dispatcher;
  onlineOptions.Shell = &window;
  onlineOptions.Library = &library;
  onlineOptions.RequestUpdateRestart = [&session] { session.RequestUpdateRestart(); };
  online = std::make_unique<TOnlineSession>(onlineOptions);
  ConnectOnlinePages(window, controller, library, *online, skin, info);
  // The playlist frame's upload and download go through the session's synchronisation.
  auto playlistSync = std::make_unique<TOnlinePlaylistSync>(*online, window);
  window.PlayListFrame().SetSync(playlistSync.get());
  // On every way out: answers still in flight must not wait for a loop that no longer runs, and
  // the online pages, which show the session's search and login, go before the session.
  auto endOnline = [&] {
    online->Services().BeginClose();
    dispatcher.BeginShutdown();
    window.SetOnlineMenu({});
    delete window.LyricWindow().Page(TfrmSearchAndLRC::pgSearch);
    delete window.LyricWindow().Page(TfrmSearchAndLRC::pgLogin);
    window.PlayListFrame().SetSync(nullptr);
    playlistSync.reset();
    window.SetLyricService(nullptr);
    controller.SetLyricService(nullptr);
    online.reset();
  };
  // Songs that links of web pages name (the mailbox) join the current playlist.
  TWindowSongTarget songTarget(window, controller.PlayList(), library);
  online->Services().SetSongTarget(&songTarget);

  // Remotes: media keys, desktop widgets and playerctl over the session bus; the key map's
  // global keys grabbed on X11. Either may be unavailable; the player goes on without it.
  TMprisService mpris(controller);
  if (std::string error; !mpris.Register(&error))
    std::fprintf(stderr, "minilirra: no media-player bus: %s\n", error.c_str());
  TGlobalHotkeys hotkeys;
  hotkeys.OnHotkey = [&window](int id) { window.RunAction(id); };
  // Every key that could not be had goes to standard error; the notice at start is for keys
  // another program holds or a desktop without global keys: a key the X server keeps for
  // switching consoles (two of the default map's) can never work, and a notice at every start
  // would only nag.
  std::string hotkeyProblems;
  if (settings.GlobalHotKey) {
    const std::vector<THotkeyError> errors = hotkeys.Register(GlobalHotkeys(settings.KeyMaps));
    if (!hotkeys.PlatformError().empty()) {
      hotkeyProblems = hotkeys.PlatformError();
      std::fprintf(stderr, "minilirra: %s\n", hotkeyProblems.c_str());
    } else {
      for (const THotkeyError& e : errors) {
        std::fprintf(stderr, "minilirra: %s\n", e.Message.c_str());
        if (!e.Reserved) hotkeyProblems += (hotkeyProblems.empty() ? "" : "\n") + e.Message;
      }
    }
  }

  TMainWindowHooks hooks;
  hooks.dispatcher = &dispatcher;
  hooks.activate = [&window] { window.BringMainWindowUp(); };
  hooks.commandTarget = &controller;
  hooks.mailboxCommands = &online->Services().MailboxCommands();
  if (std::string error; !session.MainWindowCreated(hooks, &error)) {
    std::fprintf(stderr, "minilirra: %s\n", error.c_str());
    endOnline();
    return 1;
  }
  window.show();
  controller.Start();
  online->Services().MainWindowShown();
  online->StartUp();
  if (!hotkeyProblems.empty()) window.ShowNotice({"全局热键", hotkeyProblems, "", true, 10000});
  session.MainWindowShown();
  // Start-up read the library file whole, parsed it, decoded the skin's pictures and drew the
  // first frames; once the window is up, what the allocator still holds of that goes back.
  QTimer::singleShot(500, [] { malloc_trim(0); });

  const int rc = QApplication::exec();

  session.MainWindowDestroyed();
  endOnline();
  if (std::string error; !library.Save(libraryFile, &error))
    std::fprintf(stderr, "minilirra: the music library could not be saved: %s\n", error.c_str());
  if (std::string error; !settings.Save(&error))
    std::fprintf(stderr, "minilirra: the settings could not be saved: %s\n", error.c_str());
  return rc;
}

}  // namespace ml
