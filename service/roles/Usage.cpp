#include "service/roles/Usage.h"

#include <exception>
#include <utility>

#include "net/SearchRecords.h"

namespace mlsvc {

TUsageRole::TUsageRole(TServiceContext& ctx)
    : ctx_(ctx), reports_(ctx.Config.UsageRate, ctx.Config.UsageBurst), lastFlushMs_(ctx.NowMs()) {}

TUsageRole::~TUsageRole() { Flush(ctx_.NowMs()); }

void TUsageRole::Report(const TRequest& r) {
  ml::TUsageReport req;
  if (!ml::ReadUsageReport(r.Payload, r.Length, req)) return;
  if (req.Kind != ml::TUsageReport::SongPlayed && req.Kind != ml::TUsageReport::KeywordSearched) {
    ctx_.Note(r, "dropped, no such usage kind %u", unsigned(req.Kind));
    return;
  }
  std::string text = FoldedWireText(req.Text);
  if (text.empty()) return;
  if (!reports_.Allow(r.IP, ctx_.NowMs())) {
    ++ctx_.Counters.RateLimited;
    ctx_.Note(r, "dropped, over the usage report rate of its address");
    return;
  }
  std::lock_guard lock(mutex_);
  const auto key = std::pair(TUsageKind(req.Kind), std::move(text));
  if (auto it = pending_.find(key); it != pending_.end())
    ++it->second;
  else if (pending_.size() < MaxPending)
    pending_.emplace(key, 1);
  ctx_.Note(r, "counted a usage report of kind %u", unsigned(req.Kind));
}

void TUsageRole::Tick(int64_t nowMs) {
  if (nowMs - lastFlushMs_ >= FlushMs) Flush(nowMs);
}

void TUsageRole::Flush(int64_t nowMs) {
  TUsageCounts counts;
  {
    std::lock_guard lock(mutex_);
    counts.swap(pending_);
    lastFlushMs_ = nowMs;
  }
  try {
    ctx_.Catalogue.CountUsage(counts, nowMs);
  } catch (const std::exception& e) {
    ctx_.Log.Write(TLogLevel::Warning, "usage counts not written: %s", e.what());
  }
}

}  // namespace mlsvc
