#pragma once
// TDataDownloader: the playlist kept on the server, moved in both directions. The data is a
// 20-byte header (the MD5 of the body, an Integer version) before the body the music library
// builds (TMusicFileMgr::BuildPayload). An upload goes in parts of at most 900 bytes, sent again
// every 5 s until the server has acknowledged them all, 8 passes at most; a download asks for the
// parts it lacks (at most 32 of 1024 bytes) every 5 s, 8 times at most, and checks the body
// against the digest.
//
// The start calls wait for the server's answer (on the main thread the wait pumps the
// dispatcher); the passes run on a dispatcher timer; the server's acknowledgements (8) and parts
// (9) come through TakeUploadAck and TakePart, from any thread. Events are raised on the
// dispatcher's thread.
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "base/Dispatcher.h"

namespace ml {

class TLRUDPClient;
class TServerListManager;
class TUserInfo;

// The result codes: the server's refusals (1..4) and our own (100..105).
namespace PlaylistResult {
constexpr int OK = 0;
constexpr int NoAnswer = 100;
constexpr int BadLength = 101;
constexpr int TimedOut = 102;
constexpr int BadAnnouncement = 103;
constexpr int Busy = 104;
constexpr int DigestMismatch = 105;
}  // namespace PlaylistResult

class TDataDownloader {
public:
  static constexpr Millis PassInterval{5000};
  static constexpr int MaxPasses = 8;
  static constexpr int32_t WaitMs = 5000;

  // loginKey: the current session's key, which the service binds the playlist requests to.
  TDataDownloader(Dispatcher& dispatcher, TLRUDPClient& udp, const TServerListManager& servers,
                  const TUserInfo& user, std::function<int32_t()> loginKey);
  ~TDataDownloader();
  TDataDownloader(const TDataDownloader&) = delete;
  TDataDownloader& operator=(const TDataDownloader&) = delete;

  // body is copied. True when the server accepted the upload; else false with the code kept.
  bool StartUpload(const std::string& body);
  bool StartDownload();
  std::string UploadErrorText() const;
  std::string DownloadErrorText() const;
  int UploadResult() const;
  int DownloadResult() const;
  bool IsUploading() const;
  bool IsDownloading() const;
  // Passes made by the running or last transfer.
  int UploadPasses() const;
  int DownloadPasses() const;
  // Parts of the running or last transfer.
  int UploadPartCount() const;
  int DownloadPartCount() const;

  // The server's records, from their command word on.
  void TakeUploadAck(const uint8_t* record, int32_t length);
  void TakePart(const uint8_t* record, int32_t length);

  std::function<void(bool success)> OnUploadDone;
  // body: the downloaded body (after the header), valid during the call.
  std::function<void(bool success, const std::string& body)> OnDownloadDone;

  // The text of a result code.
  static std::string ResultText(int code);

private:
  void Pass();
  void UploadPass(std::unique_lock<std::mutex>& lock);
  void DownloadPass(std::unique_lock<std::mutex>& lock);
  // Sends a record without waiting, with serial 0: its answers (8, 9) must never be taken for the
  // reply some other request waits for.
  bool SendToServer(uint16_t serviceCode, const uint8_t* record, int32_t length);
  // Sends and waits for the start's answer; the answer's status words decide the result code.
  int StartExchange(uint16_t serviceCode, const uint8_t* record, int32_t length, uint8_t& parts, int32_t& total);
  void RaiseUploadDone(bool success);
  void RaiseDownloadDone(bool success, std::string body);

  Dispatcher& dispatcher_;
  TLRUDPClient& udp_;
  const TServerListManager& servers_;
  const TUserInfo& user_;
  std::function<int32_t()> loginKey_;
  TimerId timer_ = 0;
  // Events posted to the dispatcher hold this weakly: they do nothing once we are gone.
  std::shared_ptr<TDataDownloader*> self_ = std::make_shared<TDataDownloader*>(this);

  mutable std::mutex uploadMutex_;
  bool uploading_ = false, uploadStarting_ = false;
  std::string upload_;  // header and body
  int uploadParts_ = 0;
  uint32_t allParts_ = 0, acknowledged_ = 0;
  int uploadPasses_ = 0;
  Millis uploadLast_{};
  int uploadResult_ = 0;

  mutable std::mutex downloadMutex_;
  bool downloading_ = false, downloadStarting_ = false;
  int downloadParts_ = 0;
  int32_t downloadLength_ = 0;
  uint32_t wanted_ = 0;
  std::array<std::string, 32> slots_;
  int downloadPasses_ = 0;
  Millis downloadLast_{};
  int downloadResult_ = 0;
};

}  // namespace ml
