#pragma once
// What the playlist frame needs of the service to keep a playlist there: whether the user is
// logged in (and the way to the login page), and the two transfers with their outcomes. The
// desktop hands the online session's playlist synchronisation behind this; the tests a fake.
#include <functional>
#include <string>

namespace ml {

class IPlaylistSyncService {
public:
  virtual ~IPlaylistSyncService() = default;
  virtual bool LoggedIn() const = 0;
  virtual void ShowLoginPage() = 0;
  // An upload or a download (or its start) is running.
  virtual bool Busy() const = 0;
  // Both wait for the server's answer; false with the reason in *error.
  virtual bool StartUpload(const std::string& body, std::string* error) = 0;
  virtual bool StartDownload(std::string* error) = 0;

  // The transfer ended: error is the reason when it failed; body is the downloaded songs.
  std::function<void(bool ok, const std::string& error)> OnUploadDone;
  std::function<void(bool ok, const std::string& body, const std::string& error)> OnDownloadDone;
};

}  // namespace ml
