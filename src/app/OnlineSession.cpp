#include "app/OnlineSession.h"

#include <sys/stat.h>

#include <atomic>

#include "app/AppInfo.h"
#include "app/OnlinePlayback.h"
#include "app/ServicesSeams.h"
#include "app/UDPMessageRouter.h"
#include "app/uDM.h"
#include "app/uSettingMgr.h"
#include "base/FileUtil.h"
#include "library/MusicFileMgr.h"
#include "net/LRUDP.h"
#include "net/LRUDPClient.h"
#include "net/SearchRecords.h"
#include "net/WireCodes.h"
#include "online/SongSearch.h"
#include "transfer/miniLRMFTP.h"

namespace ml {

namespace {

// A song already whole on disk, played as a download that has completed.
class TLocalCopy final : public IPlayableDownload {
public:
  TLocalCopy(std::string path, int64_t size) : path_(std::move(path)), size_(size) {}
  uint64_t ArrivedFrom(uint64_t offset) const override { return offset < uint64_t(size_) ? uint64_t(size_) - offset : 0; }
  int64_t FileSize() const override { return size_; }
  bool Complete() const override { return true; }
  std::string FilePath() const override { return path_; }
  void SetListenPosition(int64_t) override {}

private:
  std::string path_;
  int64_t size_;
};

// The library's file for a digest, when it is there with the size the library recorded.
bool LocalFile(const TMusicFileMgr* library, const TMD5Digest& digest, std::string& path, int64_t& size) {
  if (!library) return false;
  const TShareFileInfo* entry = library->FindByDigest(digest);
  if (!entry) return false;
  const TShareFileInfo copy = library->Snapshot(entry);
  struct stat st {};
  if (copy.FileName.empty() || copy.FileSize == 0 || ::stat(copy.FileName.c_str(), &st) != 0 || !S_ISREG(st.st_mode) ||
      uint64_t(st.st_size) != copy.FileSize)
    return false;
  path = copy.FileName;
  size = int64_t(copy.FileSize);
  return true;
}

// A caption made into a file name inside the temporary folder: no folder separators, never "."
// or "..", never empty.
std::string TempFileNameFor(const std::string& caption, const TMD5Digest& digest) {
  std::string name = caption;
  for (char& c : name)
    if (c == '/' || c == '\0') c = '_';
  if (name.empty() || name == "." || name == "..") name = LRMD5::MD5DigestToStr(digest) + ".mp3";
  return name;
}

}  // namespace

// The transfer manager behind the services module's seam. The module connects the routes and
// activates it while it is being made, before the session can see the module: the routes give
// the UDP client (its data event is set there, while the client is still closed), and
// activation makes the manager on it.
class TOnlineSession::TTransferLink final : public ITransferManager {
public:
  TTransferLink(Dispatcher& dispatcher, TServerListManager& servers, TMusicFileMgr* library)
      : dispatcher_(dispatcher), servers_(servers), library_(library) {}
  ~TTransferLink() override { Deactivate(); }

  void ConnectRoutes(TUDPMessageRouter& router) {
    udp_ = &router.Client();
    for (uint16_t code : TminiLRMFTP::RoutedCodes) {
      router.Route(code, [this](TUDPWorkThread&, const uint8_t* buffer, int32_t length, uint32_t ip, uint16_t port,
                                TLRGUID&, uint8_t*, int32_t&) {
        if (auto m = manager_.load()) m->DispatchCommand(buffer, length, ip, port);
      });
    }
    udp_->OnTransferData = [this](TLRUDPClient&, std::span<const TLRUDPClient::TTransferDatagram> batch) {
      if (auto m = manager_.load()) m->QueueFTPData(batch);
    };
  }

  void Activate(const TTransferSetup& setup) override {
    if (!udp_) return;
    auto m = std::make_shared<TminiLRMFTP>(*udp_, dispatcher_, dispatcher_.Clock());
    m->OnGetCmdAddr = [&servers = servers_](int32_t key, uint16_t command, uint32_t& ip, uint16_t& port) {
      return servers.ServerFor(key, command, port, ip);
    };
    // Peers ask for files on the UDP workers; the library's find is safe there.
    m->OnLocateFile = [library = library_](const TMD5Digest& hash, std::string& path, int64_t& size) {
      return LocalFile(library, hash, path, size);
    };
    // The event is posted and may run after this link has gone: it holds its own copy.
    m->OnDownFileFaild = [onFailed = OnFailed](const TminiLRMFTP::TDownFilePtr& job) {
      if (onFailed) onFailed(job->FileHash(), job->FailReason());
    };
    m->SetUserID(userID_.load());
    m->SetNatType(setup.NetKind);
    m->SetXmlFileName(setup.HistoryFile);
    m->SetTempFileDirectory(setup.TempFolder);
    m->SetMaxDownBandwide(setup.MaxDownBandwidth);
    manager_.store(m);
    m->SetActive(true);
  }
  void SetNetKind(uint8_t netKind) override {
    if (auto m = manager_.load()) m->SetNatType(netKind);
  }
  void Deactivate() override {
    // A UDP worker may hold the manager for a moment; it finds it inactive and lets go.
    if (auto m = manager_.exchange(nullptr)) m->SetActive(false);
  }
  // The login gave us our number: the peers know us by it.
  void SetUserID(int32_t id) {
    userID_ = id;
    if (auto m = manager_.load()) m->SetUserID(id);
  }
  std::shared_ptr<TminiLRMFTP> Manager() const { return manager_.load(); }

  // On the main thread (the manager raises its events through the dispatcher); set before
  // activation.
  std::function<void(const TMD5Digest&, const std::string&)> OnFailed;

private:
  Dispatcher& dispatcher_;
  TServerListManager& servers_;
  TMusicFileMgr* library_;
  TLRUDPClient* udp_ = nullptr;
  std::atomic<int32_t> userID_{0};
  std::atomic<std::shared_ptr<TminiLRMFTP>> manager_;
};

TOnlineSession::TOnlineSession(const TOnlineSessionOptions& options)
    : options_(options), dispatcher_(*options.dispatcher), alive_(std::make_shared<TOnlineSession*>(this)) {
  const TAppInfo& info = *options_.Info;
  tempFolder_ = WithTrailingSlash(options_.Settings->DefaultDownPath) + "Temp/";

  // 1. The table of servers, cached in AppDir between runs.
  servers_ = std::make_unique<TServerListManager>(info.AppDir + "LR4ServerList.bin", options_.ServerDefaults);

  // 2. The services module with its UDP client; the transfer manager and the search's results
  // are routed before the client opens.
  transfers_ = std::make_unique<TTransferLink>(dispatcher_, *servers_, options_.Library);
  std::weak_ptr<TOnlineSession*> alive = alive_;
  transfers_->OnFailed = [alive](const TMD5Digest& digest, const std::string& reason) {
    const auto self = alive.lock();
    if (self && *self && (*self)->OnDownloadFailed) (*self)->OnDownloadFailed(digest, reason);
  };
  TDMOptions dm;
  dm.Info = options_.Info;
  dm.Settings = options_.Settings;
  dm.dispatcher = &dispatcher_;
  dm.Servers = servers_.get();
  dm.Shell = options_.Shell;
  dm.Transfers = transfers_.get();
  dm.UDPWorkThreads = options_.UDPWorkThreads;
  dm.RequestUpdateRestart = options_.RequestUpdateRestart;
  dm.LoginKey = [this] { return login_ ? login_->LoginKey() : 0; };
  dm.ConnectRoutes = [this](TUDPMessageRouter& router) {
    transfers_->ConnectRoutes(router);
    // Each result part is read on the main thread while its worker waits, so the buffer stays
    // valid; once the session is going away the worker gives up instead.
    router.Route(Cmd::Search, [this](TUDPWorkThread&, const uint8_t* buffer, int32_t length, uint32_t, uint16_t,
                                     TLRGUID&, uint8_t*, int32_t&) {
      dispatcher_.Send(
          [&] {
            if (search_) search_->ShowResultPart(buffer, length);
          },
          &closing_);
    });
  };
  dm_ = std::make_unique<TDM>(dm);
  TLRUDPClient& udp = dm_->UDPClient();
  TUserInfo& user = dm_->User();
  servers_->SetUDPClient(&udp);

  // 3. The login and the thread that runs it; results come back on the main thread.
  login_ = std::make_unique<TLRLogin>(udp, *servers_, user, info.AppDir, info.EditionCode);
  login_->OnIdentity = [this](int32_t userID, uint32_t, uint16_t) { transfers_->SetUserID(userID); };
  loginThread_ = std::make_unique<TLoginThread>(*login_, [alive, &d = dispatcher_](bool withUserText, int code) {
    d.Post([alive, withUserText, code] {
      const auto self = alive.lock();
      if (self && *self) (*self)->LoginFinished(withUserText, code);
    });
  });

  // 4. The search, its usage reports and the suggestions while typing.
  search_ = std::make_unique<TSongSearch>(dispatcher_, SearchSender(udp, *servers_, user),
                                          [&user] { return user.UserID.load(); });
  usage_ = std::make_unique<TUsageReporter>(udp, *servers_, user, info.EditionCode);
  suggest_ = std::make_unique<TKeywordSuggest>(dispatcher_, udp, *servers_, user);
  suggest_->OnSuggestions = [this](const std::string& text, const std::vector<TSuggestion>& words) {
    if (OnSuggestions) OnSuggestions(text, words);
  };
}

TOnlineSession::~TOnlineSession() {
  *alive_ = nullptr;
  // Workers waiting to hand over a result part give up from here on.
  closing_ = true;
  dispatcher_.ReleaseSenders();
  suggest_.reset();
  // A login still running ends at once: closing the module ends every wait for an answer.
  dm_->BeginClose();
  login_->StopKeepAlive();
  loginThread_.reset();
  if (login_->LoggedIn()) login_->Logout();
  login_.reset();
  // The module deactivates the transfer manager and closes the UDP client (joining its workers)
  // before the search that its router feeds goes.
  dm_.reset();
  usage_.reset();
  search_.reset();
  transfers_.reset();
  servers_.reset();
}

TUserInfo& TOnlineSession::User() { return dm_->User(); }
TDownLRC& TOnlineSession::Lyrics() { return dm_->DownLRC(); }

bool TOnlineSession::StartUp() {
  if (login_->ShouldAutoLogin()) {
    const TLoginRecord r = login_->LastLogin();
    return LogIn(r.ID > 9 ? std::to_string(r.ID) : r.UserName, r.Password, true);
  }
  return LogIn({}, {}, false);
}

bool TOnlineSession::LogIn(const std::string& userText, const std::string& storedPassword, bool autoLogin) {
  if (loginThread_->Busy()) return false;
  login_->SetAutoLogin(autoLogin);
  return loginThread_->Request(userText, storedPassword);
}

bool TOnlineSession::LoginBusy() const { return loginThread_->Busy(); }
bool TOnlineSession::LoggedIn() const { return login_->LoggedIn(); }
bool TOnlineSession::AccountLoggedIn() const { return account_ && login_->LoggedIn(); }
TLoginRecord TOnlineSession::LastLogin() const { return login_->LastLogin(); }

void TOnlineSession::LoginFinished(bool withUserText, int code) {
  TLoginOutcome outcome;
  outcome.WithUserText = withUserText;
  outcome.Code = code;
  account_ = withUserText && code == LoginResult::Success;
  outcome.Text = login_->LastMessage();
  if (outcome.Text.empty()) outcome.Text = LoginResultText(code);
  outcome.UserID = dm_->User().UserID.load();
  if (const TLRUDP* transport = dm_->UDPClient().Transport())
    outcome.SendFailed = code == Status::NoAnswer && transport->SendErrorCode() != 0;
  // The service's message and update offer; the module's next housekeeping tick shows them.
  if (code == LoginResult::Success) dm_->ServerMessageArrived(login_->Notice(), login_->Update());
  if (OnLoginResult) OnLoginResult(outcome);
}

void TOnlineSession::SearchFor(const std::string& keyword, int32_t page) {
  usage_->SendUsageReport(keyword, TUsageReport::KeywordSearched);
  search_->Search(keyword, page);
}

void TOnlineSession::ReportPlayed(const std::string& caption) {
  usage_->SendUsageReport(caption, TUsageReport::SongPlayed);
}

void TOnlineSession::SetUsagePartner(uint32_t ip, uint16_t port) { usage_->SetPartner(ip, port); }

void TOnlineSession::Suggest(const std::string& text) { suggest_->Request(text); }

std::shared_ptr<IPlayableDownload> TOnlineSession::DownloadForPlay(const TMD5Digest& digest,
                                                                   const std::string& caption, int64_t size) {
  if (LRMD5::MD5DigestIsZero(digest)) return nullptr;
  std::string path;
  int64_t localSize = 0;
  if (LocalFile(options_.Library, digest, path, localSize)) return std::make_shared<TLocalCopy>(path, localSize);
  const auto manager = transfers_->Manager();
  if (!manager) return nullptr;
  TDownFileParam param;
  param.FileHash = digest;
  param.FileSize = size > 0 ? size : 0;
  param.FileName = TempFileNameFor(caption, digest);
  param.DestFileName = tempFolder_ + param.FileName;
  const auto job = manager->AddDownFile(param);
  if (!job) return nullptr;
  return std::make_shared<TJobDownload>(job);
}

}  // namespace ml
