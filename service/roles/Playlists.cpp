#include "service/roles/Playlists.h"

#include <cstring>
#include <exception>

#include "base/LRMD5.h"
#include "net/PlaylistRecords.h"
#include "service/ServiceStore.h"
#include "service/SessionStore.h"

namespace mlsvc {

namespace {

using namespace ml::PlaylistData;

// Bytes part i of an upload of length bytes in count parts carries.
size_t UploadPartSize(int32_t length, uint8_t count, uint8_t i) {
  return i + 1 < count ? UploadPartBytes : size_t(length) - UploadPartBytes * (count - 1);
}

// An account's playlist, or, for one that never uploaded, an empty one: a header over no body.
std::string PlaylistOf(TServiceStore& store, int32_t user) {
  if (auto stored = store.Playlist(user)) return std::move(*stored);
  std::string empty(HeaderBytes, '\0');
  std::memcpy(empty.data(), ml::LRMD5::MD5String("").v.data(), 16);
  return empty;
}

}  // namespace

TPlaylistRole::TPlaylistRole(TServiceContext& ctx)
    : ctx_(ctx), starts_(ctx.Config.PlaylistRate, ctx.Config.PlaylistBurst) {}

bool TPlaylistRole::Holder(const TRequest& r, int32_t user, int32_t key) {
  auto lock = ctx_.Sessions.Lock();
  const TSession* s = ctx_.Sessions.Bound(lock, user, key, r.IP, r.Port);
  return s && s->Account;
}

void TPlaylistRole::Refuse(const TRequest& r, uint16_t refusal) {
  ml::TPlaylistStartReply reply;
  reply.Status = ml::Status::Refused;
  reply.Refusal = refusal;
  ctx_.AnswerRecord(r, ml::WritePlaylistStartReply, reply);
  ctx_.Note(r, "playlist refused, %u", unsigned(refusal));
}

void TPlaylistRole::Reply(const TRequest& r, uint8_t partCount, int32_t length) {
  ml::TPlaylistStartReply reply;
  reply.Status = ml::Status::OK;
  reply.PartCount = partCount;
  reply.Length = length;
  ctx_.AnswerRecord(r, ml::WritePlaylistStartReply, reply, TReach::Holder);
}

void TPlaylistRole::UploadStart(const TRequest& r) {
  ml::TPlaylistUploadStart req;
  if (!ml::ReadPlaylistUploadStart(r.Payload, r.Length, req)) return;
  if (!Holder(r, req.UserID, req.LoginKey)) return Refuse(r, ml::PlaylistRefusal::InvalidUser);
  if (!starts_.Allow(uint32_t(req.UserID), ctx_.NowMs())) return Refuse(r, ml::PlaylistRefusal::TooFrequent);
  if (req.Length <= int32_t(HeaderBytes) || size_t(req.Length) > ctx_.Config.MaxPlaylistBytes)
    return Refuse(r, ml::PlaylistRefusal::TooLarge);
  if (req.PartCount != (size_t(req.Length) + UploadPartBytes - 1) / UploadPartBytes) {
    ctx_.Note(r, "dropped, %d parts cannot carry %d bytes", int(req.PartCount), req.Length);
    return;
  }
  const int64_t now = ctx_.NowMs();
  {
    std::lock_guard lock(mutex_);
    std::erase_if(uploads_, [now](const auto& u) { return now - u.second.LastMs > UploadWaitMs; });
    if (uploads_.size() >= MaxUploads && !uploads_.count(req.UserID)) {
      Refuse(r, ml::PlaylistRefusal::Unavailable);
      return;
    }
    TUpload& u = uploads_[req.UserID] = TUpload();
    u.PartCount = req.PartCount;
    u.Length = req.Length;
    u.Parts.resize(req.PartCount);
    u.LastMs = now;
  }
  Reply(r, req.PartCount, req.Length);
  ctx_.Note(r, "playlist upload of %d bytes begun, user %d", req.Length, req.UserID);
}

void TPlaylistRole::UploadPart(const TRequest& r) {
  ml::TPlaylistUploadPart req;
  if (!ml::ReadPlaylistUploadPart(r.Payload, r.Length, req) || !Holder(r, req.UserID, req.LoginKey)) return;
  ml::TPlaylistUploadAck ack;
  ack.UserID = req.UserID;
  bool stored = false;
  {
    std::lock_guard lock(mutex_);
    const auto it = uploads_.find(req.UserID);
    if (it == uploads_.end()) return;
    TUpload& u = it->second;
    if (req.Part >= u.PartCount || req.Data.size() != UploadPartSize(u.Length, u.PartCount, req.Part)) {
      ctx_.Note(r, "dropped, part %d of the wrong size or number", int(req.Part));
      return;
    }
    u.Parts[req.Part] = std::move(req.Data);
    u.Received |= 1u << req.Part;
    u.LastMs = ctx_.NowMs();
    ack.Received = u.Received;
    const uint32_t all = u.PartCount == 32 ? 0xFFFFFFFFu : (1u << u.PartCount) - 1;
    if (u.Received == all) {
      try {
        stored = Store(req.UserID, u);
      } catch (const std::exception& e) {
        ctx_.Log.Write(TLogLevel::Warning, "playlist not stored: %s", e.what());
      }
      uploads_.erase(it);
      // A body that does not match its digest (or a store that failed) is not acknowledged
      // whole: the client's upload fails rather than believing it stored.
      if (!stored) return;
    }
  }
  ctx_.AnswerRecord(r, ml::WritePlaylistUploadAck, ack, TReach::Holder);
  if (stored) ctx_.Note(r, "playlist stored, user %d", req.UserID);
}

bool TPlaylistRole::Store(int32_t user, const TUpload& upload) {
  std::string data;
  for (const std::string& p : upload.Parts) data += p;
  const ml::TMD5Digest digest = ml::LRMD5::MD5String(std::string_view(data).substr(HeaderBytes));
  if (std::memcmp(digest.v.data(), data.data(), digest.v.size()) != 0) return false;
  ctx_.Store.PutPlaylist(user, data);
  return true;
}

void TPlaylistRole::DownloadStart(const TRequest& r) {
  ml::TPlaylistDownloadStart req;
  if (!ml::ReadPlaylistDownloadStart(r.Payload, r.Length, req)) return;
  if (!Holder(r, req.UserID, req.LoginKey)) return Refuse(r, ml::PlaylistRefusal::InvalidUser);
  if (!starts_.Allow(uint32_t(req.UserID), ctx_.NowMs())) return Refuse(r, ml::PlaylistRefusal::TooFrequent);
  size_t length = 0;
  try {
    length = PlaylistOf(ctx_.Store, req.UserID).size();
  } catch (const std::exception& e) {
    ctx_.Log.Write(TLogLevel::Warning, "playlist not read: %s", e.what());
    return Refuse(r, ml::PlaylistRefusal::Unavailable);
  }
  Reply(r, uint8_t((length + DownloadPartBytes - 1) / DownloadPartBytes), int32_t(length));
  ctx_.Note(r, "playlist download of %zu bytes begun, user %d", length, req.UserID);
}

void TPlaylistRole::PartRequest(const TRequest& r) {
  ml::TPlaylistPartRequest req;
  if (!ml::ReadPlaylistPartRequest(r.Payload, r.Length, req) || !Holder(r, req.UserID, req.LoginKey)) return;
  std::string data;
  try {
    data = PlaylistOf(ctx_.Store, req.UserID);
  } catch (const std::exception& e) {
    ctx_.Log.Write(TLogLevel::Warning, "playlist not read: %s", e.what());
    return;
  }
  ml::TPlaylistPart part;
  part.UserID = req.UserID;
  int sent = 0;
  for (size_t k = 0; k < size_t(MaxParts) && k * DownloadPartBytes < data.size(); ++k) {
    if (!(req.Wanted >> k & 1)) continue;
    part.Part = uint8_t(k);
    part.Data = data.substr(k * DownloadPartBytes, DownloadPartBytes);
    sent += ctx_.AnswerRecord(r, ml::WritePlaylistPart, part, TReach::Holder);
  }
  ctx_.Note(r, "sent %d playlist parts, user %d", sent, req.UserID);
}

}  // namespace mlsvc
