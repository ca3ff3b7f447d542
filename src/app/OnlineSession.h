#pragma once
// Everything the desktop needs of the service, made in order on the main dispatcher and taken
// down in reverse: the server list, the services module (its UDP client, router, lyric
// downloader and the transfer manager it activates), the login with its thread, the song search,
// the usage reports, the keyword suggestions, and the downloads that songs of the service are
// played from. The window talks to this object and to the models it hands out (the search, the
// lyric downloader); every event below runs on the dispatcher's thread.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/LRMD5.h"
#include "net/uServerListManager.h"
#include "online/KeywordSuggest.h"
#include "online/LoginService.h"
#include "online/uLogin.h"

namespace ml {

class Dispatcher;
class IPlayableDownload;
class IServicesShell;
class TDM;
class TDownLRC;
class TMusicFileMgr;
class TSettingMgr;
class TSongSearch;
class TUsageReporter;
struct TAppInfo;

struct TOnlineSessionOptions {
  const TAppInfo* Info = nullptr;     // AppDir (server list, login record, transfer history)
  TSettingMgr* Settings = nullptr;    // DefaultDownPath (its Temp/ holds songs played online), DownPort, DownSpeed
  Dispatcher* dispatcher = nullptr;   // the main thread
  IServicesShell* Shell = nullptr;    // the window; null: messages go to stderr
  // Finds local copies by digest, for songs played and for peers asking for files; null: none.
  TMusicFileMgr* Library = nullptr;
  TServerListDefaults ServerDefaults;  // where the list server is
  std::function<void()> RequestUpdateRestart;
  int32_t UDPWorkThreads = 5;
};

class TOnlineSession final : public ILoginService {
public:
  explicit TOnlineSession(const TOnlineSessionOptions& options);
  ~TOnlineSession() override;
  TOnlineSession(const TOnlineSession&) = delete;
  TOnlineSession& operator=(const TOnlineSession&) = delete;

  TDM& Services() { return *dm_; }
  TServerListManager& Servers() { return *servers_; }
  TUserInfo& User();
  // The search view's model: its result parts (command 14) arrive here on the main thread.
  TSongSearch& Search() { return *search_; }
  TDownLRC& Lyrics();

  // Logs in at start-up: with the saved account when its record asks for automatic login,
  // else anonymously. False when a login is already running.
  bool StartUp();
  // ILoginService; outcomes through OnLoginResult.
  bool LogIn(const std::string& userText, const std::string& storedPassword, bool autoLogin) override;
  bool LogOut() override { return LogIn({}, {}, false); }
  bool LoginBusy() const override;
  bool LoggedIn() const override;
  TLoginRecord LastLogin() const override;
  // Logged in to an account, not just connected anonymously (what the account's services need).
  bool AccountLoggedIn() const;
  std::function<void(const TLoginOutcome&)> OnLoginResult;

  // A search from the search box: the usage report of the keyword, then page `page` of it.
  void SearchFor(const std::string& keyword, int32_t page = 0);
  // A song started playing: its caption goes into the usage report.
  void ReportPlayed(const std::string& caption);
  // The partner service's address from the login (partner edition); 0: none.
  void SetUsagePartner(uint32_t ip, uint16_t port);

  // The search box's text changed: its suggestions arrive through OnSuggestions.
  void Suggest(const std::string& text);
  std::function<void(const std::string& text, const std::vector<TSuggestion>& words)> OnSuggestions;

  // A song of the service to play: a local copy the library knows (verified size), else a
  // download job into DefaultDownPath's Temp/ (an existing job for the digest goes on). Null when
  // the digest is zero or the job could not be made. Hand it to TOnlinePlayback.
  std::shared_ptr<IPlayableDownload> DownloadForPlay(const TMD5Digest& digest, const std::string& caption,
                                                     int64_t size);
  // A download job gave up (no source, or a failure it cannot mend): its digest and why.
  std::function<void(const TMD5Digest& digest, const std::string& reason)> OnDownloadFailed;

private:
  class TTransferLink;
  void LoginFinished(bool withUserText, int code);

  TOnlineSessionOptions options_;
  Dispatcher& dispatcher_;
  std::unique_ptr<TServerListManager> servers_;
  std::unique_ptr<TTransferLink> transfers_;
  std::unique_ptr<TDM> dm_;
  std::unique_ptr<TLRLogin> login_;
  std::unique_ptr<TLoginThread> loginThread_;
  std::unique_ptr<TSongSearch> search_;
  std::unique_ptr<TUsageReporter> usage_;
  std::unique_ptr<TKeywordSuggest> suggest_;
  std::string tempFolder_;
  std::atomic<bool> closing_{false};  // result parts are no longer taken
  bool account_ = false;  // the last login was to an account (main thread)
  // Completions posted from the login thread hold this weakly: one after the session has gone
  // does nothing.
  std::shared_ptr<TOnlineSession*> alive_;
};

}  // namespace ml
