#include "service/roles/Transfers.h"

#include <algorithm>

#include "net/TransferRecords.h"
#include "service/Catalogue.h"
#include "service/SessionStore.h"

namespace mlsvc {

namespace {
// Transfer requests per second per address, a block request costing one per block it asks
// (at most 16): what one address can draw from the seed is about 32 MB/s.
constexpr double TransferRate = 32000, TransferBurst = 64000;
}  // namespace

TTransferRole::TTransferRole(TServiceContext& ctx)
    : ctx_(ctx),
      requests_(TransferRate, TransferBurst),
      seed_(
          [&ctx](const ml::TMD5Digest& h, std::string& path, int64_t& size) {
            std::optional<TCatalogueSong> song = ctx.Catalogue.SongByDigest(h.v);
            if (!song) return false;
            path = song->Path;
            size = song->Size;
            return true;
          },
          [this](uint32_t ip, uint16_t port, const uint8_t* body, size_t length) {
            // Only the requester that opened the upload is sent to (the upload table checks);
            // data to an address without a proven session spend the reply budget.
            if (serving_)
              ctx_.Send(TServer::Main, ml::Envelope::TransferData, {}, body, length, ip, port, serving_->LocalIP,
                        servingReach_);
          }) {
  seed_.SetOwnUserID(SeedUserID);
  seed_.SetMaxUploads(MaxSeedUploads);
}

bool TTransferRole::Admit(const TRequest& r, double cost) {
  if (requests_.Allow(r.IP, ctx_.NowMs(), cost)) return true;
  ++ctx_.Counters.RateLimited;
  ctx_.Note(r, "dropped, over the transfer rate of its address");
  return false;
}

bool TTransferRole::SessionAt(const TRequest& r, int32_t user, uint8_t& netKind) const {
  auto lock = ctx_.Sessions.Lock();
  const TSession* s = ctx_.Sessions.Find(lock, user);
  if (!s || s->IP != r.IP || s->Port != r.Port) return false;
  netKind = s->NetKind;
  return true;
}

void TTransferRole::Sources(const TRequest& r) {
  ml::THashSourcesRequest req;
  if (!ml::ReadHashSourcesRequest(r.Payload, r.Length, req) || !Admit(r)) return;
  ml::THashSourcesAnswer answer;
  answer.Hash = req.Hash;
  // The catalogue's own copy first: the seed is always there.
  if (ctx_.Catalogue.SongByDigest(req.Hash.v)) {
    const uint32_t ip = ctx_.Config.AdvertiseIP ? ctx_.Config.AdvertiseIP : r.LocalIP;
    const uint16_t port = ctx_.Config.AdvertisePort ? ctx_.Config.AdvertisePort : ctx_.Config.Port;
    if (ip && port) answer.Sources.push_back({SeedUserID, ip, port, ml::NetKind::ExternalA});
  }
  {
    std::lock_guard lock(mutex_);
    const auto it = holders_.find(req.Hash.v);
    if (it != holders_.end()) {
      // The most recently heard first.
      std::vector<THolder> list = it->second;
      std::sort(list.begin(), list.end(), [](const THolder& a, const THolder& b) { return a.SeenMs > b.SeenMs; });
      for (const THolder& h : list) {
        if (h.Peer.UserID == req.RequesterID) continue;
        if (answer.Sources.size() == ml::THashSourcesAnswer::MaxSources) break;
        answer.Sources.push_back(h.Peer);
      }
    }
  }
  ctx_.AnswerRecord(r, ml::WriteHashSourcesAnswer, answer, ctx_.ReachOf(r, req.RequesterID));
  ctx_.Note(r, "answered %zu sources", answer.Sources.size());
}

void TTransferRole::Announce(const TRequest& r) {
  ml::TPeerFileAnswer a;
  uint8_t netKind = 0;
  if (!ml::ReadPeerFileAnswer(r.Payload, r.Length, a) || a.Status != ml::FileAnswer::WillServe || a.UserID <= 0 ||
      a.FileSize <= 0)
    return;
  // A holder speaks for itself only: its session, from its address.
  if (!SessionAt(r, a.UserID, netKind)) {
    ctx_.Note(r, "announce ignored: no session of user %d there", a.UserID);
    return;
  }
  std::lock_guard lock(mutex_);
  auto it = holders_.find(a.Hash.v);
  if (it == holders_.end()) {
    if (holders_.size() >= MaxFiles) return;
    it = holders_.emplace(a.Hash.v, std::vector<THolder>{}).first;
  }
  std::vector<THolder>& list = it->second;
  const ml::TPeerSource peer{a.UserID, r.IP, r.Port, netKind};
  auto same = std::find_if(list.begin(), list.end(), [&](const THolder& h) { return h.Peer.UserID == a.UserID; });
  if (same == list.end()) {
    if (list.size() >= MaxHoldersPerFile) {
      same = std::min_element(list.begin(), list.end(), [](const THolder& x, const THolder& y) { return x.SeenMs < y.SeenMs; });
    } else {
      list.push_back({});
      same = list.end() - 1;
    }
  }
  *same = {peer, ctx_.NowMs()};
  ctx_.Note(r, "holder %d announced", a.UserID);
}

void TTransferRole::Relay(const TRequest& r) {
  ml::TRelayFileRequest req;
  if (!ml::ReadRelayFileRequest(r.Payload, r.Length, req) || !Admit(r) || req.RequesterID <= 0) return;
  uint32_t ip = 0;
  uint16_t port = 0;
  {
    auto lock = ctx_.Sessions.Lock();
    const TSession* target = ctx_.Sessions.Find(lock, req.TargetID);
    if (!target) {
      ctx_.Note(r, "relay: no session of user %d", req.TargetID);
      return;
    }
    ip = target->IP;
    port = target->Port;
  }
  // The requester is where we saw it, whatever the record claims: a relay must not let anyone
  // aim a peer's answers at a third address.
  req.RequesterIP = r.IP;
  req.RequesterPort = r.Port;
  uint8_t out[ml::TRelayFileRequest::FixedSize];
  ml::TCmdStream s;
  s.InitWrite(out, sizeof out);
  if (!ml::WriteRelayFileRequest(s, req)) return;
  ctx_.Send(TServer::Main, ml::Envelope::Keyed, {}, out, size_t(s.Size()), ip, port, r.LocalIP, TReach::Holder);
  ctx_.Note(r, "relayed to user %d", req.TargetID);
}

void TTransferRole::FileRequest(const TRequest& r) {
  ml::TPeerFileRequest req;
  if (!ml::ReadPeerFileRequest(r.Payload, r.Length, req) || !Admit(r)) return;
  const ml::TPeerFileAnswer a =
      seed_.AnswerFileRequest(req.Hash, req.FileSize, req.RequesterID, req.DownType, r.IP, r.Port, ctx_.NowMs());
  ctx_.AnswerRecord(r, ml::WritePeerFileAnswer, a, ctx_.ReachOf(r, req.RequesterID));
  ctx_.Note(r, "seed answered status %u", unsigned(a.Status));
}

void TTransferRole::BlockRequest(const TRequest& r) {
  ml::TPeerBlockRequest req;
  if (!ml::ReadPeerBlockRequest(r.Payload, r.Length, req) || req.RequesterID <= 0) return;
  const size_t asked = std::min(req.Blocks.size(), ml::TUploadTable::MaxBlocksPerRequest);
  if (!Admit(r, double(std::max<size_t>(asked, 1)))) return;
  // The socket's thread is the only caller; the lock keeps serving_ honest if that changes.
  std::lock_guard lock(seedMutex_);
  serving_ = &r;
  servingReach_ = ctx_.ReachOf(r, req.RequesterID);
  seed_.ServeBlocks(req, r.IP, r.Port, ctx_.NowMs());
  serving_ = nullptr;
}

void TTransferRole::Tick(int64_t nowMs) {
  if (nowMs - lastTickMs_ < 1000) return;
  lastTickMs_ = nowMs;
  seed_.Expire(nowMs);
  std::lock_guard lock(mutex_);
  for (auto it = holders_.begin(); it != holders_.end();) {
    std::erase_if(it->second, [&](const THolder& h) { return nowMs - h.SeenMs > HolderMs; });
    it = it->second.empty() ? holders_.erase(it) : std::next(it);
  }
}

size_t TTransferRole::HolderCount(const ml::TMD5Digest& hash) {
  std::lock_guard lock(mutex_);
  const auto it = holders_.find(hash.v);
  return it == holders_.end() ? 0 : it->second.size();
}

}  // namespace mlsvc
