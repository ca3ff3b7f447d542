#pragma once
// The player's main window: the skinned form with its buttons, bars, time display, labels,
// spectrum, search box and the playlist page, in full or mini layout, with the main pop-up menu,
// the tray icon and the sliding notice. It is a view: clicks go to TMainController, which tells it
// what to show through IMainView. It is also the desktop the services module talks to.
#include "app/MainController.h"
#include "app/ServicesShell.h"
#include "lyrics/LyricFrameHost.h"
#include "skin/ui/uLuiSkinPlayForm.h"

#include <QMenu>
#include <QPointer>
#include <QSystemTrayIcon>

#include <functional>
#include <map>
#include <memory>
#include <vector>

class QAction;

namespace ml {

class TLuiSkinButton;
class TLuiSkinLEDDigtal;
class TLuiScrollLabel;
class TLuiSkinSpectrum;
class TLuiSkinTrackBar;
class TLuiSkinTab;
class TLuiPanel;
class TLuiSkinImg;
class TTransparentEdit;
class TLuiSkinScrollBar;
class TLuiPlayListBox;
class TfmPlayList;
class TLuiSkinColorMap;
class TLuiSkinManager;
class TdlgPopupMsg;
class TdlgSearchAndDownLRC;
class TfrmAssociateLRC;
class TDownLRC;
class TSuggestionPopup;
class TfrmMiniLRC;
class TfrmSearchAndLRC;
class TLRCParse;
class TSettingMgr;
struct TAppInfo;
enum class TSkinButtonKind;
enum class TServicesPage;

class TfrmMain final : public TLuiSkinPlayForm, public IMainView, public IServicesShell, private ILyricFrameHost {
  Q_OBJECT
public:
  static constexpr const char* kSearchHint = "搜索歌曲，歌手";

  // lyrics: the parser the lyric window shows (the controller loads it).
  TfrmMain(TLuiSkinManager& skin, TSettingMgr& settings, const TAppInfo& info, TLRCParse& lyrics);
  ~TfrmMain() override;

  // The controller is made with this window as its view, then handed back here.
  void SetController(TMainController* controller);
  // Applies the skin in the current mode and tint; false with the reason when it could not.
  bool ApplySkin(std::string* error = nullptr);
  void SetMiniMode(bool mini);
  bool MiniMode() const { return mini_; }
  void Realign();
  // Applies a tint (0: none) and stores it.
  void SetTint(TColor tint);
  // Places the window as the settings say for its mode (the saved place, or the default one).
  void PlaceWindow();
  // An action of the key map (0..20, the media keys 1001..1004), as a hotkey or a menu runs it.
  void RunAction(int action);

  TLuiPlayListBox& PlayListBox() { return *playList_; }
  TfmPlayList& PlayListFrame() { return *playFrame_; }
  TdlgPopupMsg& Notice() { return *notice_; }
  QMenu& MainMenu() { return mainMenu_; }
  TLuiSkinButton* Button(TSkinButtonKind kind) const;
  TLuiSkinLEDDigtal& TimeDisplay() { return *led_; }
  TLuiSkinTrackBar& ProgressBar() { return *progress_; }
  // The page area under the tab strip, where pages (the lyric page, search results) are added.
  TLuiPanel& PagePanel() { return *pages_; }
  // Adds a page behind a tab; the first tab is the playlist.
  void AddPage(const QString& caption, QWidget* page);
  // The lyric window (lyrics, search results, login), shown beside the main window by the lyric
  // button and action 9.
  TfrmSearchAndLRC& LyricWindow() { return *lyricWindow_; }
  // In the mini layout the lyric frame moves into the mini lyric window at the window's right.
  TfrmMiniLRC& MiniLyricWindow() { return *miniLyric_; }
  void ShowLyricWindow(bool visible);
  // A search asked for (the search button, Enter in the box, a remote): the keyword as typed.
  std::function<void(const std::string& keyword)> OnSearch;
  // The user typed in the search box: the service is asked for words (ufrmMainSearch.cpp), and
  // its answer comes back to ShowSuggestions.
  std::function<void(const std::string& text)> OnSuggest;
  void ShowSuggestions(const std::string& text, const std::vector<TSuggestion>& words);
  TSuggestionPopup& Suggestions() { return *suggestions_; }
  // The main menu's service items: the web pages of "音乐在线(&L)", login and logout. Until they
  // are given (no session), those items are hidden.
  struct TOnlineMenu {
    std::function<void(TServicesPage page)> OpenPage;
    std::function<void()> LogIn, LogOut;
    std::function<bool()> CanLogIn;
    std::function<std::string()> LoggedInAs;  // user name or number; empty while not logged in
  };
  void SetOnlineMenu(TOnlineMenu hooks);
  // The service's lyric downloader, for the lyric search dialog of the lyric menu (null: none,
  // the item greyed; an open dialog closes).
  void SetLyricService(TDownLRC* lyrics);
  TdlgSearchAndDownLRC* LyricSearchDialog() const;
  // The association dialog of the lyric menu's "本地关联..." while it is open.
  TfrmAssociateLRC* AssociateDialog() const;

  // ---- IMainView ----
  void ShowPlaying(bool playing) override;
  void ShowTitle(const std::string& title) override;
  void ShowInfo(const std::string& text) override;
  void ShowRates(const std::string& bitrate, const std::string& sampleRate) override;
  void ShowTime(int64_t positionMs, int64_t durationMs, bool remaining) override;
  void ShowProgress(int position, int downloadMark) override;
  void ShowMute(bool muted) override;
  void ShowVolume(int volume) override;
  void ShowModes(int loopMode, int orderMode) override;
  void ShowPlaylist() override;
  void ShowLyrics(int32_t durationMs) override;
  void ShowLyricPosition(int32_t ms) override;
  void ShowSpectrum(const float* levels) override;
  void ShowNotice(const TNotice& notice) override;
  bool IsActiveWindow() const override { return isActiveWindow(); }

  // ---- IServicesShell ----
  void BringMainWindowUp() override;
  bool AskYesNo(const std::string& caption, const std::string& text) override;
  void ShowWarning(const std::string& caption, const std::string& text) override;
  void StartSearch(const std::string& text) override;
  void SetTrayHint(const std::string& text) override;
  void SkinFinished() override;
  void OpenWebPage(const std::string& url) override;
  void ShowLoginPage() override;
  void CloseMainWindow() override { close(); }

protected:
  void closeEvent(QCloseEvent*) override;
  void keyPressEvent(QKeyEvent*) override;
  void mouseDoubleClickEvent(QMouseEvent*) override;
  void contextMenuEvent(QContextMenuEvent*) override;
  void dragEnterEvent(QDragEnterEvent*) override;
  void dropEvent(QDropEvent*) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  void moveEvent(QMoveEvent*) override;

private:
  // ---- ILyricFrameHost ----
  TLyricSeekState LyricSeekState(int32_t ms) const override;
  void SeekTo(int32_t ms) override;
  void FindLyrics() override;
  void LinkLocalLyric(const std::string& currentFile) override;
  void CancelLyricLink() override;
  void AssociateLyricFile(const std::string& path) override;
  void ShowLyricOptions() override {}

  TLuiSkinButton* AddButton(TSkinButtonKind kind, const char* hint, std::function<void()> onClick);
  void BuildControls();
  void BuildMenus();
  void BuildTray();
  void BuildLyricWindow();
  void BuildSuggestions();
  int MiniLyricWidth() const;
  void PlaceMiniLyric();
  void RefreshVisibility();
  void LayoutPages();
  void OpenFilesDialog();
  void AddFolderDialog();
  void Search();
  void TickMenu();
  void SaveWindowPlaces();
  void DropPaths(const QStringList& paths);
  void PopupBottomMenu(TLuiSkinButton* button, QMenu* menu);

  TLuiSkinManager& skin_;
  TSettingMgr& settings_;
  const TAppInfo& info_;
  TMainController* controller_ = nullptr;
  bool mini_ = false, playing_ = false, muted_ = false;
  int loopMode_ = 0, orderMode_ = 0;
  bool closing_ = false;

  std::map<TSkinButtonKind, TLuiSkinButton*> buttons_;
  std::vector<TSkinControl*> controls_;
  TLuiSkinLEDDigtal* led_ = nullptr;
  TLuiScrollLabel *infoLabel_ = nullptr, *bitrate_ = nullptr, *sampleRate_ = nullptr;
  TLuiSkinSpectrum* spectrum_ = nullptr;
  TLuiSkinTrackBar *progress_ = nullptr, *volume_ = nullptr;
  TLuiSkinTab* tabs_ = nullptr;
  TLuiPanel* pages_ = nullptr;
  TLuiSkinImg* icon_ = nullptr;
  TTransparentEdit* search_ = nullptr;
  TfmPlayList* playFrame_ = nullptr;
  TLuiPlayListBox* playList_ = nullptr;  // the frame's song box
  std::vector<QWidget*> pageWidgets_;
  QStringList pageCaptions_;
  bool seeking_ = false;

  QMenu mainMenu_, onlineMenu_, colorMenu_, addMenu_, deleteMenu_, modeMenu_;
  TOnlineMenu onlineHooks_;
  std::map<std::string, QAction*> actions_;
  std::vector<QAction*> tintActions_;
  std::unique_ptr<TLuiSkinColorMap> menuColors_;
  QPointer<QSystemTrayIcon> tray_;
  TdlgPopupMsg* notice_ = nullptr;
  TLRCParse& lyrics_;
  TfrmSearchAndLRC* lyricWindow_ = nullptr;
  TfrmMiniLRC* miniLyric_ = nullptr;
  TSearchGate searchGate_;
  TSuggestionPopup* suggestions_ = nullptr;
  TDownLRC* lyricService_ = nullptr;
  QPointer<TdlgSearchAndDownLRC> lyricDialog_;
  QPointer<TfrmAssociateLRC> associateDialog_;
};

}  // namespace ml
