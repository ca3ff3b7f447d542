#include "app/uDM.h"

#include <cstdio>
#include <stdexcept>

#include "app/AppInfo.h"
#include "app/LocalAddress.h"
#include "app/ServerMessage.h"
#include "app/uSettingMgr.h"
#include "app/uUpdateApp.h"
#include "base/DebugTrace.h"
#include "base/FileUtil.h"
#include "base/GbkText.h"
#include "base/LRMD5.h"
#include "base/Version.h"
#include "net/uServerListManager.h"

namespace ml {

namespace {

template <class T>
T& Required(T* p, const char* what) {
  if (!p) throw std::invalid_argument(std::string("TDM: ") + what + " is required");
  return *p;
}

}  // namespace

TDM::TDM(const TDMOptions& options)
    : options_(options),
      info_(Required(options.Info, "Info")),
      settings_(Required(options.Settings, "Settings")),
      dispatcher_(Required(options.dispatcher, "dispatcher")),
      shell_(options.Shell ? *options.Shell : consoleShell_),
      transfers_(options.Transfers ? *options.Transfers : nullTransfers_),
      updater_(options.Updater ? *options.Updater : nullUpdater_),
      udp_(&dispatcher_),
      router_(udp_, user_),
      tempFiles_(info_.AppDir + "TempFileList.dat", {}, options.RemoveFile),
      links_({udp_, Required(options.Servers, "Servers"), user_, shell_,
              options.ProgrammeLists ? *options.ProgrammeLists : nullProgrammeLists_, settings_, info_.AppTitle,
              closing_}),
      downLRC_(dispatcher_, LyricSender(udp_, *options.Servers, user_)),
      dataDownloader_(dispatcher_, udp_, *options.Servers, user_,
                      options.LoginKey ? options.LoginKey : std::function<int32_t()>([] { return 0; })),
      alive_(std::make_shared<TDM*>(this)) {
  // 1. Who we are on the network.
  FillUserAddresses(user_, ProbeLocalAddresses());

  // 2. The download folder and its temporary folder, the only places whose files we delete.
  const std::string downPath = WithTrailingSlash(settings_.DefaultDownPath);
  if (!settings_.DefaultDownPath.empty() && !EnsureDirectory(downPath))
    DebugTrace("TDM: cannot create %s", downPath.c_str());
  tempFiles_.SetOwnFolders({downPath, downPath + "Temp/"});

  // 3. The UDP client on DownPort, every message through the router.
  udp_.SetUserID(InitialUserID);
  udp_.SetDefaultPort(settings_.DownPort);
  udp_.SetWorkThreadCount(options_.UDPWorkThreads);
  router_.OnNetKindChanged = [this](uint8_t kind) { transfers_.SetNetKind(kind); };
  ConnectOwnRoutes();
  if (options_.ConnectRoutes) options_.ConnectRoutes(router_);
  router_.Attach();
  if (!udp_.SetActive(true)) DebugTrace("TDM: the UDP client did not open on port %d", int(settings_.DownPort));

  // 4. The transfer manager.
  transfers_.Activate({info_.AppDir + "SaveDownFiles.xml", downPath + "Temp/", settings_.DownSpeed, user_.NetKind});

  // 5. The user record: nobody logged in yet; the port we listen on.
  user_.LoggedIn = false;
  user_.LocalPort = uint16_t(udp_.DefaultPort());

  // 7. Files a previous run could not delete.
  tempFiles_.Load();

  // 8.
  shell_.SetTrayHint(info_.AppSlogan);
}

TDM::~TDM() {
  BeginClose();
  *alive_ = nullptr;
  if (updateDownloading_) updater_.Cancel();
  transfers_.Deactivate();
  udp_.SetActive(false);
  router_.Detach();
}

void TDM::ConnectOwnRoutes() {
  // Lyric answers are taken on the main thread while the worker waits, like the search results;
  // the playlist's on the worker.
  router_.Route(Cmd::LyricSearch, [this](TUDPWorkThread&, const uint8_t* buffer, int32_t length, uint32_t, uint16_t,
                                         TLRGUID&, uint8_t*, int32_t&) {
    dispatcher_.Send([&] { downLRC_.TakeSearchReply(buffer, length); });
  });
  router_.Route(Cmd::LyricDownload, [this](TUDPWorkThread&, const uint8_t* buffer, int32_t length, uint32_t,
                                           uint16_t, TLRGUID&, uint8_t*, int32_t&) {
    dispatcher_.Send([&] { downLRC_.TakeLyricPart(buffer, length); });
  });
  router_.Route(Cmd::PlaylistUploadPart, [this](TUDPWorkThread&, const uint8_t* buffer, int32_t length, uint32_t,
                                                uint16_t, TLRGUID&, uint8_t*, int32_t&) {
    dataDownloader_.TakeUploadAck(buffer, length);
  });
  router_.Route(Cmd::PlaylistPart, [this](TUDPWorkThread&, const uint8_t* buffer, int32_t length, uint32_t, uint16_t,
                                          TLRGUID&, uint8_t*, int32_t&) { dataDownloader_.TakePart(buffer, length); });
}

void TDM::MainWindowShown() {
  if (!closing_) StartTimer();
}

void TDM::BeginClose() {
  closing_ = true;
  StopTimer();
  udp_.CancelWaits();
}

void TDM::StartTimer() {
  if (timer_) return;
  timer_ = dispatcher_.StartTimer(HousekeepingInterval, [this] { HousekeepingTick(); });
}

void TDM::StopTimer() {
  if (!timer_) return;
  dispatcher_.StopTimer(timer_);
  timer_ = 0;
}

void TDM::ServerMessageArrived(std::string text, const TUpdateInfo& update) {
  std::lock_guard lock(messageMutex_);
  pendingMessage_ = std::move(text);
  update_ = update;
}

void TDM::TempFileReleased(const std::string& path) { tempFiles_.Add(path); }

void TDM::HousekeepingTick() {
  TakeServerMessage();
  tempFiles_.Sweep();
  if (updateReady_) {
    updateReady_ = false;
    OfferUpdate();
  }
}

// The service's message, once per login answer: an update to fetch (unless the user already
// declined this very version) and a notice.
void TDM::TakeServerMessage() {
  std::optional<std::string> text;
  {
    std::lock_guard lock(messageMutex_);
    text.swap(pendingMessage_);
  }
  if (!text || text->empty()) return;
  const TServerMessage m = ParseServerMessage(*text);
  const TUpdateInfo update = [&] {
    std::lock_guard lock(messageMutex_);
    return update_;
  }();
  if (update.NewestVersion > ProgramVersion && !m.UpUrl.empty() && !updateDownloading_) {
    const std::optional<TPendingUpdate> recorded = ReadPendingUpdate(info_.AppDir);
    if (recorded && recorded->version == update.NewestVersion && !recorded->canUpdate) return;
    StartUpdateDownload(m.UpUrl, m.RefUrl);
  }
  if (!m.Msg.empty()) shell_.ShowNotice({ServerMessageCaption, m.Msg, m.Link, true, m.TimeMs});
}

void TDM::StartUpdateDownload(const std::string& url, const std::string& referrer) {
  const std::string folder = info_.AppDir + "Up/";
  EnsureDirectory(folder);
  TUpdateDownload job;
  job.Url = url;
  job.Referrer = referrer;
  job.DestPath = folder + "NewUpdate.lru";
  {
    std::lock_guard lock(messageMutex_);
    job.ExpectedSize = update_.FileSize;
    job.ExpectedDigest = update_.Digest;
  }
  std::weak_ptr<TDM*> alive = alive_;
  Dispatcher& dispatcher = dispatcher_;
  const std::string path = job.DestPath;
  updateDownloading_ = updater_.Start(job, [alive, &dispatcher, path](bool ok) {
    dispatcher.Post([alive, ok, path] {
      if (auto self = alive.lock(); self && *self) (*self)->UpdateDownloadDone(ok, path);
    });
  });
}

void TDM::UpdateDownloadDone(bool ok, const std::string& path) {
  updateDownloading_ = false;
  if (!ok || !FileExists(path)) return;
  updatePackage_ = path;
  updateReady_ = true;
}

// With the timer off meanwhile: a modal question must not find the next tick asking again.
void TDM::OfferUpdate() {
  StopTimer();
  uint8_t kind;
  {
    std::lock_guard lock(messageMutex_);
    kind = update_.Kind;
  }
  if (kind != 0) {
    RecordUpdate(false);
  } else {
    char text[512];
    std::snprintf(text, sizeof text, UpdateQuestionFormat, info_.AppDisplayName.c_str());
    if (shell_.AskYesNo(UpdateQuestionCaption, text)) {
      RecordUpdate(true);
      if (options_.RequestUpdateRestart) options_.RequestUpdateRestart();
      closing_ = true;
      shell_.CloseMainWindow();
      return;
    }
    RecordUpdate(false);
  }
  if (!closing_) StartTimer();
}

void TDM::RecordUpdate(bool canUpdate) {
  TPendingUpdate u;
  {
    std::lock_guard lock(messageMutex_);
    if (canUpdate) update_.Kind = 0;
    u.version = update_.NewestVersion;
    u.fileSize = update_.FileSize;
    u.upType = update_.Kind;
  }
  u.canUpdate = canUpdate;
  u.destFileName = updatePackage_;
  u.upTimes = 0;
  std::string error;
  if (!WritePendingUpdate(info_.AppDir, u, &error)) DebugTrace("TDM: Update.ini: %s", error.c_str());
}

void TDM::TrayClicked() { shell_.BringMainWindowUp(); }

void TDM::SkinFinished() { shell_.SkinFinished(); }

std::string TDM::MenuPageUrl(TServicesPage page, const std::string& accountText) const {
  switch (page) {
    case TServicesPage::Feedback: return options_.ServiceWebHost + "service/";
    case TServicesPage::SingerList: return options_.MainWebHost + "fromsoft.aspx?type=singerlist";
    case TServicesPage::Charts: return options_.MainWebHost + "fromsoft.aspx?type=top";
    case TServicesPage::MyNest: {
      const std::string id = std::to_string(user_.UserID.load());
      // The page checks the digest of the number and the account text as the service sent it.
      const std::string check = LRMD5::MD5DigestToStr(LRMD5::MD5String(id + Utf8ToGbk(accountText)));
      return options_.MainWebHost + "fromsoft.aspx?type=wo&LirraID=" + id + "&cpwd=" + check;
    }
  }
  return {};
}

void TDM::OpenMenuPage(TServicesPage page, const std::string& accountText) {
  if (page == TServicesPage::MyNest && !user_.LoggedIn) {
    shell_.ShowWarning("提示", NotLoggedInText);
    shell_.ShowLoginPage();
    return;
  }
  shell_.OpenWebPage(MenuPageUrl(page, accountText));
}

}  // namespace ml
