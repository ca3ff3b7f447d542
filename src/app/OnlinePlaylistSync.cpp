#include "app/OnlinePlaylistSync.h"

#include "app/OnlineSession.h"
#include "app/ServicesShell.h"
#include "app/uDM.h"
#include "online/PlaylistSync.h"

namespace ml {

TOnlinePlaylistSync::TOnlinePlaylistSync(TOnlineSession& session, IServicesShell& shell)
    : session_(session), shell_(shell), sync_(session.Services().DataDownloader()) {
  sync_.OnUploadDone = [this](bool ok) {
    if (OnUploadDone) OnUploadDone(ok, ok ? std::string() : sync_.UploadErrorText());
  };
  sync_.OnDownloadDone = [this](bool ok, const std::string& body) {
    if (OnDownloadDone) OnDownloadDone(ok, body, ok ? std::string() : sync_.DownloadErrorText());
  };
}

TOnlinePlaylistSync::~TOnlinePlaylistSync() {
  sync_.OnUploadDone = nullptr;
  sync_.OnDownloadDone = nullptr;
}

bool TOnlinePlaylistSync::LoggedIn() const { return session_.AccountLoggedIn(); }

void TOnlinePlaylistSync::ShowLoginPage() { shell_.ShowLoginPage(); }

bool TOnlinePlaylistSync::Busy() const { return sync_.IsUploading() || sync_.IsDownloading(); }

bool TOnlinePlaylistSync::StartUpload(const std::string& body, std::string* error) {
  if (sync_.StartUpload(body)) return true;
  if (error) *error = sync_.UploadErrorText();
  return false;
}

bool TOnlinePlaylistSync::StartDownload(std::string* error) {
  if (sync_.StartDownload()) return true;
  if (error) *error = sync_.DownloadErrorText();
  return false;
}

}  // namespace ml
