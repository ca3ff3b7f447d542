// The packet limits: how the two limits are stored and hold each other, and an upload limit
// measured on the manual clock as the worker applies it (a step every 100 ms, draining every
// 10 ms).
#include <gtest/gtest.h>

#include <vector>

#include "base/Clock.h"
#include "transfer/Bandwidth.h"

using namespace ml;

namespace {

TEST(Bandwidth, TheLimitsAreStoredAndHoldEachOther) {
  const struct {
    int32_t up, down;
    int32_t storedUp, storedDown, downPerSecond;
  } cases[] = {
      {-1, 7, -1, 15, 15},     // a download limit below 15 is 15
      {-1, 0, -1, -1, -1},     // 0: unlimited
      {0, 100, -1, 100, 100},  // an upload limit of 0 is none
      {10, 100, 10, 500, 50},  // 5 x 10 < 100: stored x 5, and five times the upload limit holds
      {10, 30, 10, 30, 30},    // 5 x 10 >= 30: as set, and lower than five times the upload limit
      {10, 0, 10, -1, 50},     // only the upload limit: five times it
      {10, 7, 10, 15, 15},
  };
  for (const auto& c : cases) {
    TBandwidth b([](uint32_t, uint16_t, const uint8_t*, size_t) {});
    b.SetMaxUp(c.up);
    b.SetMaxDown(c.down);
    SCOPED_TRACE(testing::Message() << "up " << c.up << ", down " << c.down);
    EXPECT_EQ(b.MaxUp(), c.storedUp);
    EXPECT_EQ(b.MaxDown(), c.storedDown);
    EXPECT_EQ(b.DownPerSecond(), c.downPerSecond);
    // The download allowance over a second is what the limits give.
    b.Refill(0);
    b.Refill(1000);
    EXPECT_EQ(b.TakeDown(1 << 20), c.downPerSecond < 0 ? 1 << 20 : c.downPerSecond);
  }
}

TEST(Bandwidth, AnUploadLimitedToNPacketsASecondSendsNASecond) {
  for (const int32_t limit : {7, 40, 400}) {
    SCOPED_TRACE(limit);
    size_t sent = 0;
    TBandwidth b([&](uint32_t, uint16_t, const uint8_t*, size_t) { ++sent; });
    b.SetMaxUp(limit);
    ManualClock clock;
    const std::vector<uint8_t> packet(1056, 1);
    size_t dropped = 0, sentAtOneSecond = 0;
    // Peers ask for 1000 packets a second for 11 seconds; the queue fills and the rest is dropped.
    for (int tick = 1; tick <= 1100; ++tick) {
      clock.Advance(Millis(10));
      const int64_t now = clock.Now().count();
      if (now % 100 == 0) b.Refill(now);
      b.DrainUp();
      for (int i = 0; i < 10; ++i) dropped += b.SendUp(1, 2, packet.data(), packet.size()) == TBandwidth::TSent::Dropped;
      if (now == 1000) sentAtOneSecond = sent;
    }
    EXPECT_EQ(sent - sentAtOneSecond, size_t(10 * limit)) << "ten seconds at the limit";
    EXPECT_GT(dropped, 0u) << "the queue overflowed";
    EXPECT_EQ(sent + b.Queued() + dropped, 11000u);
  }
}

TEST(Bandwidth, WhatAStepLeavesIsNotCarriedAndLargePacketsAreNotQueued) {
  size_t sent = 0;
  TBandwidth b([&](uint32_t, uint16_t, const uint8_t*, size_t) { ++sent; });
  b.SetMaxUp(100);
  b.Refill(0);
  b.Refill(100);  // ten packets for this step, unused
  b.Refill(200);  // ten more, not twenty
  const std::vector<uint8_t> small(100, 0), large(TBandwidth::MaxQueuedBytes + 1, 0);
  for (int i = 0; i < 20; ++i) b.SendUp(1, 2, small.data(), small.size());
  EXPECT_EQ(sent, 10u);
  EXPECT_EQ(b.Queued(), 10u);
  EXPECT_EQ(b.SendUp(1, 2, large.data(), large.size()), TBandwidth::TSent::Dropped);
  b.Refill(300);
  EXPECT_EQ(b.SendUp(1, 2, large.data(), large.size()), TBandwidth::TSent::Now) << "sent at once while the allowance lasts";
  EXPECT_EQ(b.DrainUp(), 9u);
  // A stalled worker's step is worth a second at most.
  b.Refill(60000);
  EXPECT_EQ(b.DrainUp(), 1u);
  sent = 0;
  for (int i = 0; i < 200; ++i) b.SendUp(1, 2, small.data(), small.size());
  EXPECT_EQ(sent, 99u);
}

}  // namespace
