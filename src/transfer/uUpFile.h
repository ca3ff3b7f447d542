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
#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <tuple>

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

  void SetOwnUserID(int32_t id) { ownUserID_ = id; }
  int32_t OwnUserID() const { return ownUserID_; }
  void SetMaxUploads(size_t n) { maxUploads_ = n; }

  // The answer to a file request for hash of fileSize bytes (0: unknown) from requester at
  // ip:port. "Will serve" opens (or moves) the requester's upload; a size that differs is "not
  // found" carrying the true size when the requester did not know it.
  TPeerFileAnswer AnswerFileRequest(const TMD5Digest& hash, int32_t fileSize, int32_t requesterID, uint8_t downType,
                                    uint32_t ip, uint16_t port, int64_t nowMs);
  // Serves a block request from ip:port; returns the packets sent. A stop (no blocks) or a block
  // outside the file ends the upload.
  size_t ServeBlocks(const TPeerBlockRequest& request, uint32_t ip, uint16_t port, int64_t nowMs);
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

  TLocateFile locate_;
  TSendData sendData_;
  std::atomic<int32_t> ownUserID_{0};  // set at a login, read by the UDP workers
  std::atomic<size_t> maxUploads_{3};
  std::mutex mutex_;
  std::map<TKey, std::unique_ptr<TUpFile>, TKeyLess> uploads_;
  int64_t bytesServed_ = 0;
};

}  // namespace ml
