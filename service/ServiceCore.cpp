#include "service/ServiceCore.h"

#include <algorithm>

#include "base/GbkText.h"
#include "base/StrUtil.h"
#include "service/ServiceStore.h"

namespace mlsvc {

namespace {

// The notice must leave room for the rest of a login answer in one datagram.
constexpr size_t kMaxNotice = 1000;
constexpr uint16_t kFirstListVersion = 7;

}  // namespace

TServiceCore::TServiceCore(const TServiceConfig& cfg, TServiceStore& store, const ml::TClock& clock,
                           TDatagramSender& listSocket, TDatagramSender& mainSocket, TWorkPool& workers,
                           TServiceLog& log)
    : catalogue_(cfg.DbPath),
      sessions_(store, cfg),
      replyBudget_(cfg.ReplyBytesPerSecond, cfg.ReplyBytesPerSecond, 1),
      ctx_{cfg,
           clock,
           store,
           catalogue_,
           sessions_,
           workers,
           counters_,
           listSocket,
           mainSocket,
           replyBudget_,
           log,
           uint16_t(ml::ParseIntDef(store.Setting("list_version", std::to_string(kFirstListVersion)),
                                    kFirstListVersion)),
           ml::Utf8ToGbkTruncated(store.Setting("notice"), kMaxNotice)},
      roles_(ctx_),
      lastExpiryMs_(ctx_.NowMs()) {
  sessions_.Restore(lastExpiryMs_);
}

bool TServiceCore::Dispatch(TServer server, const ml::TOpenedEnvelope& env, uint32_t ip, uint16_t port,
                            uint32_t localIP) {
  const TRequest r{server, env.Kind, env.Guid, env.Payload, env.PayloadLength, ip, port, localIP};
  if (roles_.Dispatch(r)) return true;
  ctx_.Note(r, "dropped, no role takes it in this envelope and length");
  return false;
}

int64_t TServiceCore::Housekeep() {
  const int64_t now = ctx_.NowMs();
  const int64_t next = roles_.Tick(now);
  if (now - lastExpiryMs_ >= 1000) {
    lastExpiryMs_ = now;
    sessions_.Expire(now);
  }
  return std::clamp<int64_t>(next - now, 1, HousekeepingMs);
}

}  // namespace mlsvc

