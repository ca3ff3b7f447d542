#include "transfer/Bandwidth.h"

#include <algorithm>
#include <cstring>

namespace ml {

TBandwidth::TBandwidth(TSendRaw send) : send_(std::move(send)) {}

void TBandwidth::SetMaxDown(int32_t packetsPerSecond) {
  int32_t value = packetsPerSecond <= 0 ? Unlimited : std::max(packetsPerSecond, MinDown);
  const int32_t up = maxUp_;
  if (value != Unlimited && up != Unlimited && int64_t(DownPerUp) * up < value)
    value = int32_t(std::min<int64_t>(int64_t(value) * DownPerUp, INT32_MAX));
  maxDown_ = value;
  // At once, not from the next step on: a burst at full speed would overrun the new limit.
  const int32_t perSecond = DownPerSecond();
  if (perSecond != Unlimited) downTokens_ = std::max(1, perSecond / 10);
}

void TBandwidth::SetMaxUp(int32_t packetsPerSecond) { maxUp_ = packetsPerSecond <= 0 ? Unlimited : packetsPerSecond; }

int32_t TBandwidth::DownPerSecond() const {
  const int32_t up = maxUp_, down = maxDown_;
  if (up == Unlimited) return down;
  const int32_t fromUp = int32_t(std::min<int64_t>(int64_t(DownPerUp) * up, INT32_MAX));
  return down == Unlimited ? fromUp : std::min(fromUp, down);
}

int32_t TBandwidth::Grant(int32_t perSecond, int64_t elapsedMs, int64_t& remainder) {
  if (perSecond == Unlimited) return 0;
  const int64_t thousandths = int64_t(perSecond) * elapsedMs + remainder;
  remainder = thousandths % 1000;
  return int32_t(std::min<int64_t>(thousandths / 1000, INT32_MAX));
}

void TBandwidth::Refill(int64_t nowMs) {
  if (lastStepMs_ < 0) lastStepMs_ = nowMs;
  const int64_t elapsed = std::clamp<int64_t>(nowMs - lastStepMs_, 0, MaxStepMs);
  lastStepMs_ = nowMs;
  downTokens_ = Grant(DownPerSecond(), elapsed, downRemainder_);
  upTokens_ = Grant(UpPerSecond(), elapsed, upRemainder_);
}

bool TBandwidth::TakeOne(std::atomic<int32_t>& tokens, int32_t perSecond) {
  if (perSecond == Unlimited) return true;
  int32_t have = tokens.load();
  while (have > 0)
    if (tokens.compare_exchange_weak(have, have - 1)) return true;
  return false;
}

int32_t TBandwidth::TakeDown(int32_t want) {
  if (DownPerSecond() == Unlimited) return want;
  int32_t have = downTokens_.load();
  while (have > 0) {
    const int32_t take = std::min(have, want);
    if (downTokens_.compare_exchange_weak(have, have - take)) return take;
  }
  return 0;
}

TBandwidth::TSent TBandwidth::SendUp(uint32_t ip, uint16_t port, const uint8_t* data, size_t length) {
  if (TakeOne(upTokens_, UpPerSecond())) {
    send_(ip, port, data, length);
    return TSent::Now;
  }
  if (length > MaxQueuedBytes) return TSent::Dropped;
  std::lock_guard lock(queueMutex_);
  if (count_ == QueueCapacity) return TSent::Dropped;
  TPacket& p = queue_[(head_ + count_++) % QueueCapacity];
  p.IP = ip;
  p.Port = port;
  p.Length = uint16_t(length);
  std::memcpy(p.Data.data(), data, length);
  return TSent::Queued;
}

size_t TBandwidth::DrainUp() {
  size_t sent = 0;
  TPacket p;
  for (;;) {
    {
      std::lock_guard lock(queueMutex_);
      if (count_ == 0 || !TakeOne(upTokens_, UpPerSecond())) return sent;
      p = queue_[head_];
      head_ = (head_ + 1) % QueueCapacity;
      --count_;
    }
    send_(p.IP, p.Port, p.Data.data(), p.Length);
    ++sent;
  }
}

size_t TBandwidth::Queued() {
  std::lock_guard lock(queueMutex_);
  return count_;
}

}  // namespace ml
