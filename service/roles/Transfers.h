#pragma once
// The transfer servers: the hash server (257: who holds a digest, the catalogue's own copy
// first), the relay (42: a file request carried to a peer that cannot be reached directly) and
// the seed peer (50 and 52: the catalogue's files served as any peer serves its own).
//
// Holders are learnt from the peers themselves: a peer that holds a file sends the hash server
// the answer it would give a requester (51, "will serve"), for its own user number from the
// address its session logged in from. A `share` announces every file it serves, again every
// minute; a finished download announces its file once. A holder not heard of for HolderMs is
// forgotten.
#include <array>
#include <cstdint>
#include <map>
#include <mutex>
#include <vector>

#include "service/ServiceContext.h"
#include "service/ServiceSecurity.h"
#include "transfer/uUpFile.h"

namespace mlsvc {

class TTransferRole {
public:
  // The seed peer's user number: 1..9 are no client's.
  static constexpr int32_t SeedUserID = 1;
  static constexpr int64_t HolderMs = 10 * 60 * 1000;
  static constexpr size_t MaxHoldersPerFile = 64;
  static constexpr size_t MaxFiles = 65536;
  static constexpr size_t MaxSeedUploads = 256;

  explicit TTransferRole(TServiceContext& ctx);
  void Sources(const TRequest& r);   // 257
  void Relay(const TRequest& r);     // 42
  void Announce(const TRequest& r);  // 51 sent to the hash server
  void FileRequest(const TRequest& r);   // 50 to the seed
  void BlockRequest(const TRequest& r);  // 52 to the seed
  void Tick(int64_t nowMs);

  // The holders the hash server knows of a digest (for tests).
  size_t HolderCount(const ml::TMD5Digest& hash);

private:
  struct THolder {
    ml::TPeerSource Peer;
    int64_t SeenMs = 0;
  };
  using TDigest = std::array<uint8_t, 16>;
  // The session of user at r's address, if any: its network kind.
  bool SessionAt(const TRequest& r, int32_t user, uint8_t& netKind) const;
  bool Admit(const TRequest& r, double cost = 1);

  TServiceContext& ctx_;
  TRateLimiter requests_;
  std::mutex mutex_;
  std::map<TDigest, std::vector<THolder>> holders_;
  ml::TUploadTable seed_;
  // Where the request being served came from (the seed's data leave from its socket).
  const TRequest* serving_ = nullptr;
  TReach servingReach_ = TReach::Anyone;
  std::mutex seedMutex_;
  int64_t lastTickMs_ = 0;
};

}  // namespace mlsvc
