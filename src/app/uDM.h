#pragma once
// TDM, the services module without its windows: created before any window, it owns the UDP
// client with its message router, the user record and the list of temporary files still to
// delete; it carries out the mailbox's link commands, and its two-second housekeeping timer shows
// the service's message, fetches and offers program updates and deletes released temporary files.
//
// Creation, in order: the local addresses into the user record; the download folder; the UDP
// client on DownPort (user 10) with the router attached; the transfer manager; the user record
// (not logged in, our port); the temporary-file list; the tray hint. Destruction stops the timer
// and any update download, then the transfer manager and the UDP client.
//
// What later parts bring enters through seams: the desktop (IServicesShell: main window, notices,
// boxes, tray, skin recolouring, web pages), the transfer manager, the programme-list manager and
// the update download (ServicesSeams.h). Everything here runs on the dispatcher's thread except
// ServerMessageArrived and the router's handlers.
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "app/LinkCommands.h"
#include "app/ServicesSeams.h"
#include "app/ServicesShell.h"
#include "app/TempFileList.h"
#include "app/UDPMessageRouter.h"
#include "base/Dispatcher.h"
#include "net/LRUDPClient.h"
#include "online/PlaylistSync.h"
#include "online/uDownLRC.h"
#include "online/uLogin.h"

namespace ml {

class TServerListManager;
class TSettingMgr;
struct TAppInfo;

// The pages of the menu's web commands.
enum class TServicesPage { Feedback, SingerList, Charts, MyNest };

struct TDMOptions {
  const TAppInfo* Info = nullptr;       // AppDir, AppDisplayName, AppTitle, AppSlogan
  TSettingMgr* Settings = nullptr;      // DefaultDownPath, DownPort, DownSpeed, WebBillClickMsg
  Dispatcher* dispatcher = nullptr;     // the main thread: timer, mailbox commands, downloads done
  TServerListManager* Servers = nullptr;
  IServicesShell* Shell = nullptr;      // null: TConsoleServicesShell
  ITransferManager* Transfers = nullptr;     // null: none yet
  IProgrammeLists* ProgrammeLists = nullptr; // null: none yet
  IUpdateDownloader* Updater = nullptr;      // null: updates are not fetched
  // The current login's key (TLRLogin::LoginKey), which the playlist requests carry; none: 0.
  std::function<int32_t()> LoginKey;
  // The owners of commands connect to the router here, before it is attached.
  std::function<void(TUDPMessageRouter&)> ConnectRoutes;
  // The user agreed to an update: restart with "/update" once the main window has closed
  // (TStartupSession::RequestUpdateRestart).
  std::function<void()> RequestUpdateRestart;
  int32_t UDPWorkThreads = 5;
  // The service's web hosts (trailing "/"): feedback page, and the singer list, charts and the
  // user's own page.
  std::string ServiceWebHost = "http://127.0.0.1:8808/";
  std::string MainWebHost = "http://127.0.0.1:8808/";
  TTempFileList::TRemoveFile RemoveFile;  // tests; default unlink
};

inline constexpr const char* ServerMessageCaption = "系统消息";
inline constexpr const char* UpdateQuestionCaption = "系统提示";
inline constexpr const char* UpdateQuestionFormat = "系统检测到 %s 有新的版本，是否需要升级到最新的版本？";
inline constexpr const char* NotLoggedInText = "您还没有登录";

class TDM {
public:
  static constexpr Millis HousekeepingInterval{2000};
  static constexpr int32_t InitialUserID = 10;

  explicit TDM(const TDMOptions& options);
  ~TDM();
  TDM(const TDM&) = delete;
  TDM& operator=(const TDM&) = delete;

  TUserInfo& User() { return user_; }
  TLRUDPClient& UDPClient() { return udp_; }
  TUDPMessageRouter& Router() { return router_; }
  TTempFileList& TempFiles() { return tempFiles_; }
  IMailboxCommands& MailboxCommands() { return links_; }
  // The lyric downloader and the playlist synchronisation, whose answers the router hands over.
  TDownLRC& DownLRC() { return downLRC_; }
  TDataDownloader& DataDownloader() { return dataDownloader_; }
  void SetSongTarget(IOnlineSongTarget* songs) { links_.SetSongTarget(songs); }

  // The main window has been shown: the housekeeping timer starts.
  void MainWindowShown();
  // The main window is closing: the timer stops, a song lookup makes no further try and every
  // wait for an answer ends at once.
  void BeginClose();
  bool TimerRunning() const { return timer_ != 0; }

  // The login answer's message text and update offer (any thread); the next tick takes them.
  void ServerMessageArrived(std::string text, const TUpdateInfo& update);
  // The transfer manager released a file it could not delete yet (its OnDeleteTempFile).
  void TempFileReleased(const std::string& path);

  // Tray click; the skin manager's finished event; a web command of the menu (accountText: what
  // the login answer gave for the web pages).
  void TrayClicked();
  void SkinFinished();
  void OpenMenuPage(TServicesPage page, const std::string& accountText);
  std::string MenuPageUrl(TServicesPage page, const std::string& accountText) const;

  // The update states, for the tests and the desktop's status.
  bool UpdateDownloading() const { return updateDownloading_; }
  bool UpdateReady() const { return updateReady_; }
  const std::string& UpdatePackagePath() const { return updatePackage_; }

private:
  // Routes the lyric (29, 30) and playlist (8, 9) answers to their owners.
  void ConnectOwnRoutes();
  void HousekeepingTick();
  void TakeServerMessage();
  void StartUpdateDownload(const std::string& url, const std::string& referrer);
  void UpdateDownloadDone(bool ok, const std::string& path);
  void OfferUpdate();
  void RecordUpdate(bool canUpdate);
  void StartTimer();
  void StopTimer();

  TDMOptions options_;
  const TAppInfo& info_;
  TSettingMgr& settings_;
  Dispatcher& dispatcher_;
  TConsoleServicesShell consoleShell_;
  TNullTransferManager nullTransfers_;
  TNullProgrammeLists nullProgrammeLists_;
  TNullUpdateDownloader nullUpdater_;
  IServicesShell& shell_;
  ITransferManager& transfers_;
  IUpdateDownloader& updater_;

  TUserInfo user_;
  TLRUDPClient udp_;
  TUDPMessageRouter router_;
  TTempFileList tempFiles_;
  std::atomic<bool> closing_{false};
  TLinkCommands links_;
  TDownLRC downLRC_;
  TDataDownloader dataDownloader_;
  TimerId timer_ = 0;

  std::mutex messageMutex_;  // the two below: the login thread hands them over
  std::optional<std::string> pendingMessage_;
  TUpdateInfo update_;

  bool updateDownloading_ = false;
  bool updateReady_ = false;
  std::string updatePackage_;
  // Completions posted to the dispatcher hold this weakly: one that arrives after the module has
  // gone is dropped.
  std::shared_ptr<TDM*> alive_;
};

}  // namespace ml
