#include "base/EventLoop.h"

#include <gtest/gtest.h>
#include <thread>
#include <vector>

using namespace ml;
using namespace std::chrono_literals;

TEST(Dispatcher, PostsRunInOrderOnTheMainThread) {
  ManualLoop loop;
  std::vector<int> seen;
  std::thread worker([&] {
    for (int i = 0; i < 100; ++i) loop.Post([&, i] {
      EXPECT_TRUE(loop.IsMainThread());
      seen.push_back(i);
    });
  });
  worker.join();
  loop.ProcessPending();
  ASSERT_EQ(seen.size(), 100u);
  for (int i = 0; i < 100; ++i) EXPECT_EQ(seen[i], i);
}

TEST(Dispatcher, TimersFollowTheManualClock) {
  ManualLoop loop;
  std::vector<int64_t> ticks;
  TimerId repeating = loop.StartTimer(50ms, [&] { ticks.push_back(loop.Clock().Now().count()); });
  int once = 0;
  loop.StartTimer(120ms, [&] { ++once; }, false);
  loop.Advance(40ms);
  EXPECT_TRUE(ticks.empty());
  loop.Advance(200ms);
  EXPECT_EQ(ticks, (std::vector<int64_t>{50, 100, 150, 200}));
  EXPECT_EQ(once, 1);
  loop.StopTimer(repeating);
  loop.Advance(500ms);
  EXPECT_EQ(ticks.size(), 4u);
  EXPECT_EQ(once, 1);
}

TEST(Dispatcher, SendWaitsForTheMainThreadAndInlineOnIt) {
  EventLoop loop;
  int value = 0;
  EXPECT_TRUE(loop.Send([&] { value = 1; }));  // on the main thread: inline
  EXPECT_EQ(value, 1);
  bool sent = false;
  std::thread worker([&] { sent = loop.Send([&] { value = 2; }); });
  EXPECT_TRUE(loop.WaitPumping([&] { return value == 2; }, 5000ms));
  worker.join();
  EXPECT_TRUE(sent);
}

// A worker blocked in Send() while the main thread is about to join it is released, either by
// the loop's shutdown or by its owner's cancel flag; the abandoned call never runs later.
TEST(Dispatcher, BlockedSendIsReleasedByShutdownOrCancel) {
  for (const bool byCancel : {false, true}) {
    EventLoop loop;
    std::atomic<bool> started{false}, cancel{false};
    bool sent = true;
    bool ran = false;
    std::thread worker([&] {
      started = true;
      sent = loop.Send([&] { ran = true; }, &cancel);
    });
    while (!started) std::this_thread::yield();
    std::this_thread::sleep_for(10ms);  // let the worker block inside Send()
    if (byCancel) {
      cancel = true;
      loop.ReleaseSenders();
    } else {
      loop.BeginShutdown();
    }
    worker.join();  // would hang if Send() kept waiting for a main thread that is joining
    loop.ProcessPending();
    EXPECT_FALSE(sent) << byCancel;
    EXPECT_FALSE(ran) << byCancel;
    EXPECT_FALSE(loop.Send([] {}, &cancel)) << "refused once cancelled or shut down";
  }
}

TEST(Dispatcher, WaitPumpingTimesOutOnTheLoopsClock) {
  EventLoop loop;
  auto t0 = std::chrono::steady_clock::now();
  EXPECT_FALSE(loop.WaitPumping([] { return false; }, 30ms));
  EXPECT_GE(std::chrono::steady_clock::now() - t0, 30ms);
}

TEST(Dispatcher, RunAndQuitFromAnotherThread) {
  EventLoop loop;
  int fired = 0;
  loop.StartTimer(1ms, [&] {
    if (++fired == 3) loop.Quit();
  });
  loop.Run();
  EXPECT_EQ(fired, 3);
}
