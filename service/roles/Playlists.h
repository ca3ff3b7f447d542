#pragma once
// The playlist server: each account keeps one playlist, uploaded in parts (37, then 8 with their
// acknowledgements) and downloaded in parts (35, then 9 with the parts wanted).
//
// Only a live session of the account may do either: the request names the account and its login
// key and must come from where that session logged in. Anything else is refused at the start and
// dropped afterwards. An upload is stored whole, once every part has arrived and the body matches
// the digest in its header; a stored playlist is at most Config.MaxPlaylistBytes. Uploads in
// progress are bounded in number and forgotten after UploadWaitMs without a part.
#include <cstdint>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "service/ServiceContext.h"
#include "service/ServiceSecurity.h"

namespace mlsvc {

class TPlaylistRole {
public:
  static constexpr size_t MaxUploads = 1024;
  static constexpr int64_t UploadWaitMs = 60000;

  explicit TPlaylistRole(TServiceContext& ctx);
  void UploadStart(const TRequest& r);
  void UploadPart(const TRequest& r);
  void DownloadStart(const TRequest& r);
  void PartRequest(const TRequest& r);

private:
  struct TUpload {
    uint8_t PartCount = 0;
    int32_t Length = 0;
    uint32_t Received = 0;
    std::vector<std::string> Parts;
    int64_t LastMs = 0;
  };
  // Whether r comes from user's live account session holding key.
  bool Holder(const TRequest& r, int32_t user, int32_t key);
  void Refuse(const TRequest& r, uint16_t refusal);
  void Reply(const TRequest& r, uint8_t partCount, int32_t length);
  // Stores a complete upload; false when its body does not match its digest.
  bool Store(int32_t user, const TUpload& upload);

  TServiceContext& ctx_;
  TRateLimiter starts_;  // per account
  std::mutex mutex_;
  std::unordered_map<int32_t, TUpload> uploads_;
};

}  // namespace mlsvc
