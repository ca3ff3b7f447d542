#pragma once
// The online session's playlist synchronisation as the playlist frame sees it: the login state,
// the way to the login page, and the services module's transfers with their outcomes in words.
#include "library/PlaylistSyncService.h"

namespace ml {

class IServicesShell;
class TDataDownloader;
class TOnlineSession;

class TOnlinePlaylistSync final : public IPlaylistSyncService {
public:
  TOnlinePlaylistSync(TOnlineSession& session, IServicesShell& shell);
  ~TOnlinePlaylistSync() override;
  TOnlinePlaylistSync(const TOnlinePlaylistSync&) = delete;
  TOnlinePlaylistSync& operator=(const TOnlinePlaylistSync&) = delete;

  bool LoggedIn() const override;
  void ShowLoginPage() override;
  bool Busy() const override;
  bool StartUpload(const std::string& body, std::string* error) override;
  bool StartDownload(std::string* error) override;

private:
  TOnlineSession& session_;
  IServicesShell& shell_;
  TDataDownloader& sync_;
};

}  // namespace ml
