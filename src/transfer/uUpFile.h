#pragma once
// The upload side: answering a peer's file request (50, or 42 through the relay) and serving the
// blocks it then asks for (52) from a local file. TUploadTable is shared by the transfer manager
// and the service's seed peer; each gives it how a digest is found on disk and how datagrams
// leave.
//
// An upload is opened only by a file request answered "will serve", for the requester's user
// number, the digest and the address the request came from (for 42, the address the relay saw).
// A block request is served only when all three match, and at most MaxBlocksPerRequest blocks of
// it: a forged 52 draws nothing, and a real one no more than 16 KiB.
//
// Older clients ask by the old file key (name and size) instead of the digest: 36 asks for the
// file and, answered with its digest, opens the upload for the peer's number, the key and the
// request's address; 28 asks for blocks of it (at most MaxOldBlocksPerRequest, from that address
// alone), 35 ends it, and 18 only asks whether we would serve. Both kinds share MaxUploads.
#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <tuple>
#include <utility>

#include "base/LRMD5.h"
#include "net/TransferRecords.h"

namespace ml {

// One file served to one peer.
class TUpFile {
public:
  // Opens path for reading; a file that cannot be opened still makes an upload, whose blocks go
  // out as "could not read" (block -1), so the peer drops this source.
  TUpFile(int32_t peerID, const TMD5Digest& hash, const std::string& path, int64_t size, uint32_t ip,
          uint16_t port, int64_t nowMs);
  ~TUpFile();
  TUpFile(const TUpFile&) = delete;
  TUpFile& operator=(const TUpFile&) = delete;

  bool From(uint32_t ip, uint16_t port) const { return ip == ip_ && port == port_; }
  int32_t BlockCount() const { return int32_t((size_ + 1023) / 1024); }
  // Reads block b into out (1024 bytes of room); its length, or -1 when it cannot be read.
  int32_t ReadBlock(int32_t b, uint8_t* out, int64_t nowMs);
  int64_t LastActivity() const { return lastActivityMs_; }
  int64_t BytesRead() const { return bytesRead_; }

private:
  int fd_ = -1;
  int64_t size_;
  uint32_t ip_;
  uint16_t port_;
  int64_t lastActivityMs_;
  int64_t bytesRead_ = 0;
};

class TUploadTable {
public:
  static constexpr size_t MaxBlocksPerRequest = 16;
  static constexpr int64_t IdleMs = 6000;

  // Finds a local file by digest: its path and size; false when it is not held.
  using TLocateFile = std::function<bool(const TMD5Digest& hash, std::string& path, int64_t& size)>;
  // Sends one data packet's body (the 27-byte header and the data) to ip:port.
  using TSendData = std::function<void(uint32_t ip, uint16_t port, const uint8_t* body, size_t length)>;

  TUploadTable(TLocateFile locate, TSendData sendData);

  static constexpr size_t MaxOldBlocksPerRequest = TOldBlockRequest::MaxBlocks;
  // Finds a local file by the name and size of an old key: its path and digest.
  using TLocateOldFile =
      std::function<bool(const std::string& name, int64_t size, std::string& path, TMD5Digest& hash)>;
  // Sends one raw datagram (an old data packet) to ip:port.
  using TSendRaw = std::function<void(uint32_t ip, uint16_t port, const uint8_t* data, size_t length)>;
  // Without this, old requests find nothing.
  void SetOldPeers(TLocateOldFile locate, TSendRaw send);

  void SetOwnUserID(int32_t id) { ownUserID_ = id; }
  int32_t OwnUserID() const { return ownUserID_; }
  void SetMaxUploads(size_t n) { maxUploads_ = n; }

  // The answer to a file request for hash of fileSize bytes (0: unknown) from requester at
  // ip:port. "Will serve" opens (or moves) the requester's upload; a size that differs is "not
  // found" carrying the true size when the requester did not know it.
  // opened (when given) says whether the answer opened an upload that was not there before.
  TPeerFileAnswer AnswerFileRequest(const TMD5Digest& hash, int32_t fileSize, int32_t requesterID, uint8_t downType,
                                    uint32_t ip, uint16_t port, int64_t nowMs, bool* opened = nullptr);
  // Serves a block request from ip:port; returns the packets sent. A stop (no blocks) or a block
  // outside the file ends the upload.
  size_t ServeBlocks(const TPeerBlockRequest& request, uint32_t ip, uint16_t port, int64_t nowMs);
  // 18: whether the key's file is held and an upload could be opened now.
  bool MayServeOld(const std::string& fileKey);
  // 36: the answer's last field: the file's digest in lower-case hexadecimal (the peer's upload
  // opened, or moved to ip:port), OldAnswer::NotHeld, or OldAnswer::Busy when uploads are full.
  std::string AnswerOldFileRequest(const TOldPeerRequest& request, uint32_t ip, uint16_t port, int64_t nowMs);
  // 28: serves the blocks of an upload opened from ip:port; returns the packets sent. A block
  // outside the file, or one that cannot be read, ends the upload.
  size_t ServeOldBlocks(const TOldBlockRequest& request, uint32_t ip, uint16_t port, int64_t nowMs);
  // 35: ends the peer's upload of the key, when asked from its address.
  void EndOldUpload(const TOldPeerRequest& request, uint32_t ip, uint16_t port);
  // Ends uploads idle for IdleMs.
  void Expire(int64_t nowMs);
  size_t Count();
  int64_t BytesServed() const { return bytesServed_; }

private:
  using TKey = std::tuple<int32_t, TMD5Digest>;
  struct TKeyLess {
    bool operator()(const TKey& a, const TKey& b) const {
      return std::get<0>(a) != std::get<0>(b) ? std::get<0>(a) < std::get<0>(b) : std::get<1>(a).v < std::get<1>(b).v;
    }
  };

  using TOldKey = std::pair<int32_t, std::string>;  // the peer and the key in lower case
  // The path and digest of an old key's file, when it is held (under the lock).
  bool LocateOld(const std::string& fileKey, std::string& path, int64_t& size, TMD5Digest& hash);
  size_t CountLocked() const { return uploads_.size() + oldUploads_.size(); }

  TLocateFile locate_;
  TSendData sendData_;
  TLocateOldFile locateOld_;
  TSendRaw sendRaw_;
  std::atomic<int32_t> ownUserID_{0};  // set at a login, read by the UDP workers
  std::atomic<size_t> maxUploads_{3};
  std::mutex mutex_;
  std::map<TKey, std::unique_ptr<TUpFile>, TKeyLess> uploads_;
  std::map<TOldKey, std::unique_ptr<TUpFile>> oldUploads_;
  int64_t bytesServed_ = 0;
};

}  // namespace ml
