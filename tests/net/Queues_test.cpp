#include <gtest/gtest.h>

#include <thread>

#include "net/LRQueues.h"

using namespace ml;

TEST(Queues, RingIsBoundedAndFifo) {
  TPointerQueue q(3);
  int a, b, c, d;
  EXPECT_TRUE(q.Push(&a));
  EXPECT_TRUE(q.Push(&b));
  EXPECT_TRUE(q.Push(&c));
  EXPECT_FALSE(q.Push(&d));
  EXPECT_FALSE(q.Push(nullptr));
  EXPECT_EQ(q.Count(), 3u);
  EXPECT_EQ(q.Pop(), &a);
  EXPECT_TRUE(q.Push(&d));  // wraps around
  EXPECT_EQ(q.Pop(), &b);
  EXPECT_EQ(q.Pop(), &c);
  EXPECT_EQ(q.Pop(), &d);
  EXPECT_EQ(q.Pop(), nullptr);
}

TEST(Queues, PopWaitWakesOnPushAndOnClose) {
  TPointerQueue q(2);
  int a;
  std::thread producer([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    q.Push(&a);
  });
  EXPECT_EQ(q.PopWait(std::chrono::seconds(10)), &a);
  producer.join();
  std::thread closer([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    q.Close();
  });
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(q.PopWait(std::chrono::seconds(10)), nullptr);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  closer.join();
}

TEST(Queues, PoolHandsOutEachBlockOnceAndRefusesForeignPointers) {
  TStaticMemoryManager pool(2);
  void* x = pool.GetMem();
  void* y = pool.GetMem();
  ASSERT_NE(x, nullptr);
  ASSERT_NE(y, nullptr);
  EXPECT_NE(x, y);
  EXPECT_EQ(pool.GetMem(), nullptr);
  EXPECT_TRUE(pool.FreeMem(x));
  EXPECT_FALSE(pool.FreeMem(x));  // double free
  EXPECT_FALSE(pool.FreeMem(static_cast<uint8_t*>(y) + 1));
  int other;
  EXPECT_FALSE(pool.FreeMem(&other));
  EXPECT_EQ(pool.FreeCount(), 1u);
}
