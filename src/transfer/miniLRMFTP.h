#pragma once
// TminiLRMFTP: every song transfer between this client and its peers. It keeps the download jobs
// (TDownFile) and the uploads (TUploadTable), schedules them on one worker thread within the
// limits, takes the data packets the UDP client hands it, answers peers' file and block requests,
// and keeps the download history so that unfinished downloads survive a restart. It never opens
// a socket: records leave through the UDP client, and server addresses come from OnGetCmdAddr.
//
// Threads: the worker schedules, sends, finishes jobs and is the history's only writer; data
// packets arrive on the UDP listener (QueueFTPData, a read of the socket at a time), which asks
// for the next blocks itself and wakes the worker when a download is complete; commands arrive on
// the UDP workers (DispatchCommand). Events reach their handlers through the dispatcher, never
// under a lock.
#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "base/Clock.h"
#include "base/Dispatcher.h"
#include "net/LRUDPClient.h"
#include "transfer/Bandwidth.h"
#include "transfer/DownloadHistory.h"
#include "transfer/uDownFile.h"
#include "transfer/uUpFile.h"

namespace ml {

class TminiLRMFTP final : private ITransferLink {
public:
  using TDownFilePtr = std::shared_ptr<TDownFile>;
  using TDownFileEvent = std::function<void(const TDownFilePtr&)>;
  static constexpr int32_t Unlimited = -1;
  static constexpr int MaxRestoredJobs = 3;
  static constexpr int64_t HistorySaveMs = 1000;
  static constexpr int64_t MaxHistoryAgeMs = 3LL * 24 * 3600 * 1000;

  // udp must outlive the manager; events are posted to dispatcher.
  TminiLRMFTP(TLRUDPClient& udp, Dispatcher& dispatcher, const TClock& clock);
  ~TminiLRMFTP() override;
  TminiLRMFTP(const TminiLRMFTP&) = delete;
  TminiLRMFTP& operator=(const TminiLRMFTP&) = delete;

  // True: loads the history (first time only) and starts the worker. False: stops the worker
  // and every job (their progress saved).
  void SetActive(bool value);
  bool Active() const { return active_; }

  // Set before activation.
  void SetXmlFileName(const std::string& path) { xmlFileName_ = path; }
  // Creates the folder (errors ignored).
  void SetTempFileDirectory(const std::string& path);
  int32_t MaxDownFileCount = 5;
  int32_t MaxSourceCount = 5;
  // Searches for sources a job makes before it gives up for a while (copied into new jobs).
  int32_t MaxSeaFileCount = 1;
  void SetMaxUpFileCount(int32_t n) { uploads_.SetMaxUploads(size_t(std::max(0, n))); }
  // Data packets per second; 0 or -1: unlimited. A download limit of 1..14 is 15; with an upload
  // limit, downloads are held to five times it (TBandwidth).
  void SetMaxDownBandwide(int32_t packetsPerSecond) { bandwidth_.SetMaxDown(packetsPerSecond); }
  int32_t MaxDownBandwide() const { return bandwidth_.MaxDown(); }
  void SetMaxUpBandwide(int32_t packetsPerSecond) { bandwidth_.SetMaxUp(packetsPerSecond); }
  int32_t MaxUpBandwide() const { return bandwidth_.MaxUp(); }

  // Who we are, as the login found out.
  void SetUserID(int32_t id);
  void SetNatType(uint8_t kind) { natType_ = kind; }

  // A new job, or the job already there for the digest (continued). Null, with Result 2, for an
  // all-zero digest.
  TDownFilePtr AddDownFile(TDownFileParam& param);
  TDownFilePtr FindDownFile(const TMD5Digest& hash) const;
  std::vector<TDownFilePtr> DownFiles() const;
  // Removes the job with its temporary file and history entry (done by the worker).
  void DeleteDownFile(const TDownFilePtr& job);
  void StopAllDownFiles();

  // The service codes DispatchCommand takes (35 is handled when given, but the service's 35 is
  // another message: a front end does not route it here).
  static constexpr std::array<uint16_t, 10> RoutedCodes{
      Cmd::TransferNotice,   Cmd::PeerFileRequestOld, Cmd::PeerRequestOld36, Cmd::RelayFileRequest,
      Cmd::PeerFileRequest,  Cmd::PeerFileAnswer,     Cmd::PeerBlockRequest, Cmd::PeerTransfer53,
      Cmd::HashSources,      Cmd::PeerTransfer265};
  // A service message for transfers (RoutedCodes, and 35) from ip:port.
  void DispatchCommand(const uint8_t* buffer, int32_t length, uint32_t ip, uint16_t port);
  // The transfer-data datagrams of one read of the socket (their bodies, after the 5-byte
  // header), taken a job at a time; the worker is woken once when they complete a download.
  using TTransferDatagram = TLRUDPClient::TTransferDatagram;
  void QueueFTPData(std::span<const TTransferDatagram> batch);

  // Bytes per second, measured over the last two seconds or more.
  int64_t SpeedDown() const { return speedDown_; }
  int64_t SpeedUp() const { return speedUp_; }
  size_t UploadCount() { return uploads_.Count(); }

  TDownFileEvent OnAddDownFile, OnDeleteDownFile, OnDownFinish, OnConnectedHashServer;
  // A job that gave up: no source, or a failure it cannot mend (FailReason).
  TDownFileEvent OnDownFileFaild;
  // The library's find by digest: a peer asks for a file.
  TUploadTable::TLocateFile OnLocateFile;
  // The library's find by file name and size: an older client asks for a file. Unset: such
  // requests find nothing.
  TUploadTable::TLocateOldFile OnOldLocateFile;
  // Up to count songs we offer besides a file we serve, as bytes for the 265 that follows a
  // "will serve" (sent when they are 1..1023). Unset: none is sent.
  std::function<std::vector<uint8_t>(int count)> OnGetRandomSong;
  std::function<bool(int32_t key, uint16_t command, uint32_t& ip, uint16_t& port)> OnGetCmdAddr;
  // The history was damaged, a temporary file could not be deleted: what happened, for the log.
  std::function<void(const std::string&)> OnProblem;

private:
  // ITransferLink
  void SendRecord(uint32_t ip, uint16_t port, const uint8_t* data, size_t length) override;
  bool ServerFor(int32_t key, uint16_t command, uint32_t& ip, uint16_t& port) override;
  int32_t OwnUserID() const override { return userID_; }
  uint8_t OwnNatType() const override { return natType_; }
  int32_t TakeDownTokens(int32_t want) override;
  const std::string& TempFileDirectory() const override { return tempDir_; }

  // A data packet out, within the upload limit (sent, queued or dropped).
  void SendFTPData(uint32_t ip, uint16_t port, const uint8_t* data, size_t length);
  // The old clients' requests (18, 28, 35, 36).
  void DispatchOldRequest(uint16_t code, const uint8_t* buffer, size_t length, uint32_t ip, uint16_t port,
                          int64_t nowMs);
  void SendEnciphered(uint32_t ip, uint16_t port, const TCmdStream& answer);
  // The 265 after a "will serve" that opened an upload.
  void SendRandomSongs(const TMD5Digest& hash, uint32_t ip, uint16_t port);
  void WorkerLoop();
  void Schedule(int64_t nowMs);
  void Finish(const TDownFilePtr& job);
  void SaveHistory(int64_t nowMs, bool all);
  void LoadHistory();
  bool InsideTempFolder(const std::string& path) const;
  void Raise(const TDownFileEvent& event, const TDownFilePtr& job);
  void Problem(const std::string& text);
  void Wake();
  int64_t NowMs() const { return clock_.Now().count(); }

  TLRUDPClient& udp_;
  Dispatcher& dispatcher_;
  const TClock& clock_;
  std::string xmlFileName_, tempDir_;
  std::unique_ptr<TDownloadHistory> history_;
  bool historyLoaded_ = false;
  std::atomic<bool> active_{false};
  std::atomic<int32_t> userID_{0};
  std::atomic<uint8_t> natType_{0};
  TBandwidth bandwidth_;
  std::atomic<int64_t> receivedBytes_{0}, speedDown_{0}, speedUp_{0};
  int64_t lastSpeedMs_ = 0, lastSentBytes_ = 0, lastTokenMs_ = 0, lastHistoryMs_ = 0, lastExpiryMs_ = 0;

  mutable std::mutex listMutex_;  // the job list; taken before a job's own lock
  std::vector<TDownFilePtr> jobs_;
  std::vector<TDownFilePtr> deleting_;
  TUploadTable uploads_;

  std::mutex wakeMutex_;
  std::condition_variable wakeCv_;
  bool wake_ = false;
  bool stop_ = false;
  std::thread worker_;
};

}  // namespace ml
