#include "service/roles/ServerList.h"

#include <arpa/inet.h>

#include <array>

#include "net/uServerListManager.h"
#include "service/ServiceStore.h"

namespace mlsvc {

namespace {

using ml::TServerListManager;

std::vector<ml::TServerEntry> ServedEntries(TServiceStore& store, uint32_t ip, uint16_t port) {
  std::array<std::vector<ml::TServerEntry>, TServerListManager::SlotCount + 1> set;
  for (const TServerRow& r : store.Servers())
    if (r.Slot >= 1 && r.Slot <= TServerListManager::SlotCount &&
        set[r.Slot].size() < size_t(TServerListManager::MaxServers))
      set[r.Slot].push_back({uint16_t(r.Slot), r.IP, r.Port});
  std::vector<ml::TServerEntry> entries;
  for (int slot = 1; slot <= TServerListManager::SlotCount; ++slot) {
    if (!set[slot].empty()) {
      entries.insert(entries.end(), set[slot].begin(), set[slot].end());
      continue;
    }
    bool used = false;
    for (int code = 1; code <= TServerListManager::MaxServiceCode; ++code)
      used = used || TServerListManager::SlotOfService(code) == slot;
    if (used) entries.push_back({uint16_t(slot), ip, port});
  }
  // What one datagram holds.
  if (entries.size() > ml::TServerListReply::MaxEntries) entries.resize(ml::TServerListReply::MaxEntries);
  return entries;
}

std::vector<uint8_t> Encoded(const ml::TServerListReply& reply) {
  std::vector<uint8_t> bytes(ml::Envelope::MaxPayload);
  ml::TCmdStream s;
  s.InitWrite(bytes.data(), int32_t(bytes.size()));
  ml::WriteServerListReply(s, reply);
  bytes.resize(size_t(s.Size()));
  return bytes;
}

}  // namespace

TServerListRole::TServerListRole(TServiceContext& ctx)
    : ctx_(ctx), wholeTables_(ctx.Config.ListRate, ctx.Config.ListBurst) {
  ml::TServerListReply reply;
  reply.Version = ctx_.ListVersion;
  // No entries: the client's table is current. The tag after them keeps the answer above the
  // 9 bytes a client demands.
  current_ = Encoded(reply);
  entries_ = ServedEntries(ctx_.Store, ctx_.Config.AdvertiseIP, ctx_.Config.AdvertisePort);
  if (ctx_.Config.AdvertiseIP) {
    reply.Entries = entries_;
    whole_ = Encoded(reply);
  }
}

void TServerListRole::Answer(const TRequest& r) {
  ml::TServerListRequest req;
  if (!ml::ReadServerListRequest(r.Payload, r.Length, req)) return;
  const bool current = req.Version == ctx_.ListVersion;
  if (!current && !wholeTables_.Allow(r.IP, ctx_.NowMs())) {
    ++ctx_.Counters.RateLimited;
    ctx_.Note(r, "dropped, over the rate of whole tables for its address");
    return;
  }
  std::vector<uint8_t> filledIn;
  if (!current && whole_.empty()) {
    ml::TServerListReply reply;
    reply.Version = ctx_.ListVersion;
    reply.Entries = entries_;
    // A request that came without its destination was sent to this machine: loopback reaches it.
    const uint32_t self = r.LocalIP ? r.LocalIP : htonl(INADDR_LOOPBACK);
    for (ml::TServerEntry& e : reply.Entries)
      if (e.Address == 0) e.Address = self;
    filledIn = Encoded(reply);
  }
  const std::vector<uint8_t>& answer = current ? current_ : whole_.empty() ? filledIn : whole_;
  if (!ctx_.Answer(r, answer.data(), answer.size())) {
    ctx_.Note(r, "dropped, over the reply budget");
    return;
  }
  ++ctx_.Counters.ListAnswers;
  ctx_.Note(r, current ? "answered, the table is current" : "answered the whole table, version %u",
            unsigned(ctx_.ListVersion));
}

}  // namespace mlsvc
