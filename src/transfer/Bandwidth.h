#pragma once
// TBandwidth: the transfer manager's limits in data packets per second, both ways, and the
// packets that wait for the upload allowance.
//
// The allowances are handed out in steps of the worker (Refill), each worth the time since the
// last, at most a second; what a step leaves unused is gone at the next, so an idle second never
// turns into a burst. Only the fraction of a packet that a step cannot grant is kept, so over a
// second the packets granted are exactly the limit.
//
// With an upload limit the downloads are held to five times it (each block we ask for costs the
// peer the same packet we would send), or to their own limit when that is lower.
#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>

namespace ml {

class TBandwidth {
public:
  static constexpr int32_t Unlimited = -1;
  static constexpr int32_t MinDown = 15;           // a smaller download limit is raised to this
  static constexpr int32_t DownPerUp = 5;
  static constexpr size_t QueueCapacity = 256;     // upload packets waiting for the allowance
  static constexpr size_t MaxQueuedBytes = 1080;   // a larger packet is sent at once or dropped
  static constexpr int64_t MaxStepMs = 1000;

  // Sends one raw datagram to ip:port.
  using TSendRaw = std::function<void(uint32_t ip, uint16_t port, const uint8_t* data, size_t length)>;
  explicit TBandwidth(TSendRaw send);

  // 0 or below: unlimited. An upload limit applies from the next step on; a download limit of
  // 1..14 is 15, and is multiplied by 5 when an upload limit is set and 5 times it is less than
  // the value (so the pair keeps its proportion).
  void SetMaxDown(int32_t packetsPerSecond);
  void SetMaxUp(int32_t packetsPerSecond);
  int32_t MaxDown() const { return maxDown_; }
  int32_t MaxUp() const { return maxUp_; }
  // The packets a second each way that the limits give; Unlimited when nothing limits them.
  int32_t DownPerSecond() const;
  int32_t UpPerSecond() const { return maxUp_; }

  // A step: the allowances for the time since the last (at most MaxStepMs), replacing what was
  // left.
  void Refill(int64_t nowMs);
  // Download packets allowed now, at most want.
  int32_t TakeDown(int32_t want);

  enum class TSent { Now, Queued, Dropped };
  // Sends now while the upload allowance lasts; else queues (QueueCapacity packets of at most
  // MaxQueuedBytes); else drops.
  TSent SendUp(uint32_t ip, uint16_t port, const uint8_t* data, size_t length);
  // Sends queued packets while the allowance lasts; returns how many went.
  size_t DrainUp();
  size_t Queued();

private:
  struct TPacket {
    uint32_t IP = 0;
    uint16_t Port = 0;
    uint16_t Length = 0;
    std::array<uint8_t, MaxQueuedBytes> Data{};
  };
  // Takes one token of an allowance; always true while unlimited.
  static bool TakeOne(std::atomic<int32_t>& tokens, int32_t perSecond);
  static int32_t Grant(int32_t perSecond, int64_t elapsedMs, int64_t& remainder);

  TSendRaw send_;
  std::atomic<int32_t> maxDown_{Unlimited}, maxUp_{Unlimited};
  std::atomic<int32_t> downTokens_{0}, upTokens_{0};
  // The worker's alone (Refill).
  int64_t lastStepMs_ = -1;
  int64_t downRemainder_ = 0, upRemainder_ = 0;  // thousandths of a packet not yet granted

  std::mutex queueMutex_;
  std::array<TPacket, QueueCapacity> queue_;  // a ring, allocated once
  size_t head_ = 0, count_ = 0;
};

}  // namespace ml
