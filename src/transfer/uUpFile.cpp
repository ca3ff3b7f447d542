#include "transfer/uUpFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>

#include "net/LREncrypt.h"

namespace ml {

TUpFile::TUpFile(int32_t, const TMD5Digest&, const std::string& path, int64_t size, uint32_t ip, uint16_t port,
                 int64_t nowMs)
    : size_(size), ip_(ip), port_(port), lastActivityMs_(nowMs) {
  fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
}

TUpFile::~TUpFile() {
  if (fd_ >= 0) ::close(fd_);
}

int32_t TUpFile::ReadBlock(int32_t b, uint8_t* out, int64_t nowMs) {
  if (fd_ < 0 || b < 0 || b >= BlockCount()) return -1;
  const size_t want = size_t(std::min<int64_t>(1024, size_ - int64_t(b) * 1024));
  const ssize_t n = ::pread(fd_, out, want, off_t(b) * 1024);
  // A file that shrank since it was located cannot give a whole block: better none than a wrong one.
  if (n != ssize_t(want)) return -1;
  lastActivityMs_ = nowMs;
  bytesRead_ += n;
  return int32_t(n);
}

TUploadTable::TUploadTable(TLocateFile locate, TSendData sendData)
    : locate_(std::move(locate)), sendData_(std::move(sendData)) {}

TPeerFileAnswer TUploadTable::AnswerFileRequest(const TMD5Digest& hash, int32_t fileSize, int32_t requesterID,
                                                uint8_t downType, uint32_t ip, uint16_t port, int64_t nowMs,
                                                bool* opened) {
  TPeerFileAnswer a;
  a.Hash = hash;
  a.FileSize = fileSize;
  a.UserID = ownUserID_;
  a.DownType = downType;
  std::string path;
  int64_t size = 0;
  if (requesterID <= 0 || !locate_ || !locate_(hash, path, size) || size <= 0 || size > INT32_MAX) {
    a.Status = FileAnswer::NotFound;
    return a;
  }
  const size_t slash = path.find_last_of('/');
  a.Name = path.substr(slash == std::string::npos ? 0 : slash + 1);
  if (a.Name.size() > 255) a.Name.clear();
  if (fileSize != size) {
    a.Status = FileAnswer::NotFound;
    if (fileSize <= 0) a.FileSize = int32_t(size);
    return a;
  }
  std::lock_guard lock(mutex_);
  const TKey key{requesterID, hash};
  auto it = uploads_.find(key);
  if (it == uploads_.end() && CountLocked() >= maxUploads_) {
    a.Status = FileAnswer::Busy;
    return a;
  }
  if (opened) *opened = it == uploads_.end();
  // A repeated request (a lost answer, or the peer's new port) opens the upload anew there.
  uploads_[key] = std::make_unique<TUpFile>(requesterID, hash, path, size, ip, port, nowMs);
  a.Status = FileAnswer::WillServe;
  return a;
}

size_t TUploadTable::ServeBlocks(const TPeerBlockRequest& request, uint32_t ip, uint16_t port, int64_t nowMs) {
  std::lock_guard lock(mutex_);
  auto it = uploads_.find(TKey{request.RequesterID, request.Hash});
  if (it == uploads_.end() || !it->second->From(ip, port)) return 0;
  if (request.Blocks.empty()) {
    uploads_.erase(it);
    return 0;
  }
  TUpFile& up = *it->second;
  uint8_t body[TTransferBlock::FixedSize + TransferBlockBytes];
  uint8_t data[TransferBlockBytes];
  size_t sent = 0;
  for (int32_t b : request.Blocks) {
    if (sent == MaxBlocksPerRequest) break;
    if (b < 0 || b >= up.BlockCount()) {
      uploads_.erase(it);
      return sent;
    }
    const int32_t n = up.ReadBlock(b, data, nowMs);
    TTransferBlock packet{request.Hash, ownUserID_, request.DownType, n < 0 ? -1 : b, data, n < 0 ? 0 : size_t(n)};
    TCmdStream s;
    s.InitWrite(body, sizeof body);
    if (!WriteTransferBlock(s, packet)) continue;
    sendData_(ip, port, body, size_t(s.Size()));
    bytesServed_ += packet.Length;
    ++sent;
  }
  return sent;
}

void TUploadTable::SetOldPeers(TLocateOldFile locate, TSendRaw send) {
  std::lock_guard lock(mutex_);
  locateOld_ = std::move(locate);
  sendRaw_ = std::move(send);
}

bool TUploadTable::LocateOld(const std::string& fileKey, std::string& path, int64_t& size, TMD5Digest& hash) {
  std::string name;
  if (!locateOld_ || !sendRaw_ || !SplitOldFileKey(fileKey, name, size) || size > INT32_MAX) return false;
  if (!locateOld_(name, size, path, hash) || path.empty()) return false;
  // The key names a size as well: a file of that name but another size is another file.
  std::error_code ec;
  return std::filesystem::file_size(path, ec) == uint64_t(size) && !ec;
}

bool TUploadTable::MayServeOld(const std::string& fileKey) {
  std::lock_guard lock(mutex_);
  std::string path;
  int64_t size = 0;
  TMD5Digest hash;
  return CountLocked() < maxUploads_ && LocateOld(fileKey, path, size, hash);
}

std::string TUploadTable::AnswerOldFileRequest(const TOldPeerRequest& request, uint32_t ip, uint16_t port,
                                               int64_t nowMs) {
  std::lock_guard lock(mutex_);
  std::string path;
  int64_t size = 0;
  TMD5Digest hash;
  if (request.PeerID <= 0 || !LocateOld(request.FileKey, path, size, hash)) return std::string(OldAnswer::NotHeld);
  const TOldKey key{request.PeerID, LowerOldFileKey(request.FileKey)};
  if (!oldUploads_.contains(key) && CountLocked() >= maxUploads_) return std::string(OldAnswer::Busy);
  oldUploads_[key] = std::make_unique<TUpFile>(request.PeerID, hash, path, size, ip, port, nowMs);
  return LRMD5::MD5DigestToStr(hash);
}

size_t TUploadTable::ServeOldBlocks(const TOldBlockRequest& request, uint32_t ip, uint16_t port, int64_t nowMs) {
  std::lock_guard lock(mutex_);
  const auto it = oldUploads_.find(TOldKey{request.PeerID, LowerOldFileKey(request.FileKey)});
  if (it == oldUploads_.end() || !it->second->From(ip, port) || !sendRaw_) return 0;
  TUpFile& up = *it->second;
  uint8_t packet[Envelope::MaxDatagram];
  uint8_t data[TransferBlockBytes];
  size_t sent = 0;
  for (int32_t b : request.Blocks) {
    if (sent == MaxOldBlocksPerRequest) break;
    const int32_t n = up.ReadBlock(b, data, nowMs);
    TCmdStream s;
    s.InitWrite(packet, sizeof packet);
    // A block outside the file or that cannot be read (the file changed) ends the upload.
    if (n <= 0 || !WriteOldDataPacket(s, TOldDataPacket{request.FileKey, b, ownUserID_, data, size_t(n)})) {
      oldUploads_.erase(it);
      return sent;
    }
    sendRaw_(ip, port, packet, size_t(s.Size()));
    bytesServed_ += n;
    ++sent;
  }
  return sent;
}

void TUploadTable::EndOldUpload(const TOldPeerRequest& request, uint32_t ip, uint16_t port) {
  std::lock_guard lock(mutex_);
  const auto it = oldUploads_.find(TOldKey{request.PeerID, LowerOldFileKey(request.FileKey)});
  if (it != oldUploads_.end() && it->second->From(ip, port)) oldUploads_.erase(it);
}

void TUploadTable::Expire(int64_t nowMs) {
  std::lock_guard lock(mutex_);
  const auto idle = [&](const auto& kv) { return nowMs - kv.second->LastActivity() > IdleMs; };
  std::erase_if(uploads_, idle);
  std::erase_if(oldUploads_, idle);
}

size_t TUploadTable::Count() {
  std::lock_guard lock(mutex_);
  return CountLocked();
}

}  // namespace ml
