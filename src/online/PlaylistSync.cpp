#include "online/PlaylistSync.h"

#include <cstring>

#include "base/ByteOrder.h"
#include "base/DebugTrace.h"
#include "base/LRMD5.h"
#include "net/LRUDPClient.h"
#include "net/PlaylistRecords.h"
#include "net/uServerListManager.h"
#include "online/uLogin.h"

namespace ml {

namespace {

using namespace PlaylistData;

// Service codes the server list names the playlist servers by: uploads, downloads.
constexpr uint16_t kUploadService = Cmd::PlaylistUploadPart;
constexpr uint16_t kDownloadService = Cmd::PlaylistPart;

// The lowest n bits; all 32 for n = 32 (a shift by 32 is undefined).
uint32_t LowBits(int n) { return n >= 32 ? 0xFFFFFFFFu : (1u << n) - 1; }

}  // namespace

TDataDownloader::TDataDownloader(Dispatcher& dispatcher, TLRUDPClient& udp, const TServerListManager& servers,
                                 const TUserInfo& user, std::function<int32_t()> loginKey)
    : dispatcher_(dispatcher), udp_(udp), servers_(servers), user_(user), loginKey_(std::move(loginKey)) {
  timer_ = dispatcher_.StartTimer(Millis(50), [this] { Pass(); });
}

TDataDownloader::~TDataDownloader() { dispatcher_.StopTimer(timer_); }

std::string TDataDownloader::ResultText(int code) {
  switch (code) {
    case 0: return "操作成功";
    case 1: return "服务暂时不可用";
    case 2: return "无效用户，或没有开通该服务";
    case 3: return "播放列表太大";
    case 4: return "服务频率太高";
    case PlaylistResult::NoAnswer: return "连接服务器失败";
    case PlaylistResult::BadLength: return "播放列表长度为０或太长";
    case PlaylistResult::TimedOut: return "操作超时";
    case PlaylistResult::BadAnnouncement: return "服务器返回数据长度有误";
    case PlaylistResult::Busy: return "操作正在进行";
    case PlaylistResult::DigestMismatch: return "数据Hash校验错误";
    default: return "未知错误";
  }
}

bool TDataDownloader::SendToServer(uint16_t serviceCode, const uint8_t* record, int32_t length) {
  uint16_t port = 0;
  uint32_t ip = 0;
  if (!servers_.ServerFor(user_.UserID.load(), serviceCode, port, ip) || ip == 0 || port == 0) return false;
  return udp_.SendTable(ip, port, 0, 0, length, record);
}

int TDataDownloader::StartExchange(uint16_t serviceCode, const uint8_t* record, int32_t length, uint8_t& parts,
                                   int32_t& total) {
  uint16_t port = 0;
  uint32_t ip = 0;
  if (!servers_.ServerFor(user_.UserID.load(), serviceCode, port, ip) || ip == 0 || port == 0)
    return PlaylistResult::NoAnswer;
  uint8_t reply[Envelope::MaxPayload];
  int32_t replyLength = 0;
  if (!udp_.SendWaitTable(ip, port, WaitMs, udp_.NextSerial(true), replyLength, reply, int32_t(sizeof reply), length,
                          record))
    return PlaylistResult::NoAnswer;
  TPlaylistStartReply answer;
  if (!ReadPlaylistStartReply(reply, size_t(replyLength), answer)) return PlaylistResult::BadAnnouncement;
  if (answer.Status == Status::Refused) return answer.Refusal;
  if (answer.Status != Status::OK) return -1;
  parts = answer.PartCount;
  total = answer.Length;
  return PlaylistResult::OK;
}

bool TDataDownloader::StartUpload(const std::string& body) {
  {
    std::lock_guard lock(uploadMutex_);
    if (uploading_ || uploadStarting_) {
      uploadResult_ = PlaylistResult::Busy;
      return false;
    }
    if (body.empty() || body.size() + HeaderBytes > MaxUploadBytes) {
      uploadResult_ = PlaylistResult::BadLength;
      return false;
    }
    uploadStarting_ = true;
    // The header: the body's digest and version 0.
    upload_.assign(HeaderBytes, '\0');
    std::memcpy(upload_.data(), LRMD5::MD5String(body).v.data(), 16);
    upload_ += body;
    uploadParts_ = int((upload_.size() + UploadPartBytes - 1) / UploadPartBytes);
    allParts_ = LowBits(uploadParts_);
    acknowledged_ = 0;
    uploadPasses_ = 0;
  }
  uint8_t record[TPlaylistUploadStart::FixedSize];
  TCmdStream s;
  s.InitWrite(record, sizeof record);
  WritePlaylistUploadStart(s, {user_.UserID.load(), uint8_t(uploadParts_), int32_t(upload_.size()), loginKey_()});
  uint8_t parts = 0;
  int32_t total = 0;
  const int code = StartExchange(kUploadService, record, s.Size(), parts, total);
  std::unique_lock lock(uploadMutex_);
  uploadStarting_ = false;
  uploadResult_ = code;
  if (code != PlaylistResult::OK) return false;
  uploading_ = true;
  UploadPass(lock);
  return true;
}

bool TDataDownloader::StartDownload() {
  {
    std::lock_guard lock(downloadMutex_);
    if (downloading_ || downloadStarting_) {
      downloadResult_ = PlaylistResult::Busy;
      return false;
    }
    downloadStarting_ = true;
  }
  uint8_t record[TPlaylistDownloadStart::FixedSize];
  TCmdStream s;
  s.InitWrite(record, sizeof record);
  WritePlaylistDownloadStart(s, {user_.UserID.load(), loginKey_()});
  uint8_t parts = 0;
  int32_t total = 0;
  int code = StartExchange(kDownloadService, record, s.Size(), parts, total);
  // The announced length must fit the parts announced: more than the parts before the last hold
  // and no more than all of them, and at least the header.
  if (code == PlaylistResult::OK &&
      (parts < 1 || parts > MaxParts || total < int32_t(HeaderBytes) ||
       size_t(total) > size_t(parts) * DownloadPartBytes || size_t(total) <= size_t(parts - 1) * DownloadPartBytes))
    code = PlaylistResult::BadAnnouncement;
  std::unique_lock lock(downloadMutex_);
  downloadStarting_ = false;
  downloadResult_ = code;
  if (code != PlaylistResult::OK) return false;
  downloadParts_ = parts;
  downloadLength_ = total;
  wanted_ = LowBits(parts);
  slots_ = {};
  downloadPasses_ = 0;
  downloading_ = true;
  DownloadPass(lock);
  return true;
}

void TDataDownloader::Pass() {
  const Millis now = dispatcher_.Clock().Now();
  {
    std::unique_lock lock(uploadMutex_);
    if (uploading_ && now - uploadLast_ >= PassInterval) UploadPass(lock);
  }
  std::unique_lock lock(downloadMutex_);
  if (downloading_ && now - downloadLast_ >= PassInterval) DownloadPass(lock);
}

void TDataDownloader::UploadPass(std::unique_lock<std::mutex>& lock) {
  uploadLast_ = dispatcher_.Clock().Now();
  if (uploadPasses_ >= MaxPasses) {
    uploading_ = false;
    uploadResult_ = PlaylistResult::TimedOut;
    DebugTrace("Send PlayList TimeOut...");
    lock.unlock();
    RaiseUploadDone(false);
    return;
  }
  ++uploadPasses_;
  TPlaylistUploadPart part;
  part.UserID = user_.UserID.load();
  part.LoginKey = loginKey_();
  uint8_t record[Envelope::MaxPayload];
  for (int i = 0; i < uploadParts_; ++i) {
    if (acknowledged_ >> i & 1) continue;
    part.Part = uint8_t(i);
    part.Data = upload_.substr(size_t(i) * UploadPartBytes, UploadPartBytes);
    TCmdStream s;
    s.InitWrite(record, sizeof record);
    if (WritePlaylistUploadPart(s, part)) SendToServer(kUploadService, record, s.Size());
  }
}

void TDataDownloader::DownloadPass(std::unique_lock<std::mutex>& lock) {
  downloadLast_ = dispatcher_.Clock().Now();
  if (downloadPasses_ >= MaxPasses) {
    downloading_ = false;
    downloadResult_ = PlaylistResult::TimedOut;
    DebugTrace("Get PlayList TimeOut...");
    lock.unlock();
    RaiseDownloadDone(false, {});
    return;
  }
  ++downloadPasses_;
  if (wanted_ == 0) return;
  uint8_t record[TPlaylistPartRequest::FixedSize];
  TCmdStream s;
  s.InitWrite(record, sizeof record);
  WritePlaylistPartRequest(s, {user_.UserID.load(), loginKey_(), wanted_});
  SendToServer(kDownloadService, record, s.Size());
}

void TDataDownloader::TakeUploadAck(const uint8_t* record, int32_t length) {
  TPlaylistUploadAck ack;
  if (length <= 0 || !ReadPlaylistUploadAck(record, size_t(length), ack)) return;
  std::unique_lock lock(uploadMutex_);
  // The sets are compared as unsigned: a 32-part upload has its top bit set.
  if (!uploading_ || ack.Received == 0 || (ack.Received & ~allParts_) != 0) return;
  acknowledged_ |= ack.Received;
  if (acknowledged_ != allParts_) return;
  uploading_ = false;
  uploadResult_ = PlaylistResult::OK;
  DebugTrace("Send PlayList OK...");
  lock.unlock();
  RaiseUploadDone(true);
}

void TDataDownloader::TakePart(const uint8_t* record, int32_t length) {
  TPlaylistPart part;
  if (length <= 0 || !ReadPlaylistPart(record, size_t(length), part)) return;
  std::unique_lock lock(downloadMutex_);
  if (!downloading_ || part.Part >= downloadParts_) return;
  if (slots_[part.Part].empty()) slots_[part.Part] = std::move(part.Data);
  wanted_ &= ~(1u << part.Part);
  if (wanted_ != 0) return;
  downloading_ = false;
  std::string data;
  for (int k = 0; k < downloadParts_; ++k) data += slots_[size_t(k)];
  // The announced length may not exceed what arrived.
  bool ok = data.size() >= size_t(downloadLength_);
  if (ok) {
    data.resize(size_t(downloadLength_));
    const TMD5Digest digest = LRMD5::MD5String(std::string_view(data).substr(HeaderBytes));
    ok = std::memcmp(digest.v.data(), data.data(), 16) == 0;
  }
  downloadResult_ = ok ? PlaylistResult::OK : PlaylistResult::DigestMismatch;
  DebugTrace(ok ? "PlayList MD5 Check OK..." : "PlayList MD5 Check Error!!!");
  lock.unlock();
  RaiseDownloadDone(ok, ok ? data.substr(HeaderBytes) : std::string());
}

void TDataDownloader::RaiseUploadDone(bool success) {
  dispatcher_.Post([weak = std::weak_ptr(self_), success] {
    if (auto self = weak.lock(); self && (*self)->OnUploadDone) (*self)->OnUploadDone(success);
  });
}

void TDataDownloader::RaiseDownloadDone(bool success, std::string body) {
  dispatcher_.Post([weak = std::weak_ptr(self_), success, body = std::move(body)] {
    if (auto self = weak.lock(); self && (*self)->OnDownloadDone) (*self)->OnDownloadDone(success, body);
  });
}

std::string TDataDownloader::UploadErrorText() const { return ResultText(UploadResult()); }
std::string TDataDownloader::DownloadErrorText() const { return ResultText(DownloadResult()); }
int TDataDownloader::UploadResult() const {
  std::lock_guard lock(uploadMutex_);
  return uploadResult_;
}
int TDataDownloader::DownloadResult() const {
  std::lock_guard lock(downloadMutex_);
  return downloadResult_;
}
bool TDataDownloader::IsUploading() const {
  std::lock_guard lock(uploadMutex_);
  return uploading_ || uploadStarting_;
}
bool TDataDownloader::IsDownloading() const {
  std::lock_guard lock(downloadMutex_);
  return downloading_ || downloadStarting_;
}
int TDataDownloader::UploadPasses() const {
  std::lock_guard lock(uploadMutex_);
  return uploadPasses_;
}
int TDataDownloader::DownloadPasses() const {
  std::lock_guard lock(downloadMutex_);
  return downloadPasses_;
}
int TDataDownloader::UploadPartCount() const {
  std::lock_guard lock(uploadMutex_);
  return uploadParts_;
}
int TDataDownloader::DownloadPartCount() const {
  std::lock_guard lock(downloadMutex_);
  return downloadParts_;
}

}  // namespace ml
