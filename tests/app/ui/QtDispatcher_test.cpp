// The dispatcher on Qt's event loop keeps the contract of the other programs' loop: posts run in
// order on the main thread from any thread, sends from workers wait and are refused at shutdown
// or when cancelled, timers repeat or fire once and stop, and waiting while pumping runs both our
// work and Qt's own events.
#include "app/ui/QtDispatcher.h"

#include <QCoreApplication>
#include <QTimer>

#include <gtest/gtest.h>

#include <memory>
#include <thread>
#include <vector>

using namespace ml;
using namespace std::chrono_literals;

namespace {

TEST(QtDispatcher, PostsFromThreadsRunInOrderOnTheMainThread) {
  TQtDispatcher d;
  std::vector<int> seen;
  bool allOnMain = true;
  std::thread worker([&] {
    for (int i = 0; i < 100; ++i)
      d.Post([&, i] {
        seen.push_back(i);
        allOnMain = allOnMain && d.IsMainThread();
      });
  });
  worker.join();
  EXPECT_TRUE(d.WaitPumping([&] { return seen.size() == 100; }, Millis(2000)));
  for (int i = 0; i < 100; ++i) EXPECT_EQ(seen[size_t(i)], i);
  EXPECT_TRUE(allOnMain);
}

TEST(QtDispatcher, QtsOwnEventLoopRunsOurWork) {
  TQtDispatcher d;
  int ran = 0;
  std::thread worker([&] { d.Post([&] { ++ran, QCoreApplication::quit(); }); });
  QCoreApplication::exec();  // returns when the posted work quits it
  worker.join();
  EXPECT_EQ(ran, 1);
}

TEST(QtDispatcher, SendsWaitAndAreRefusedAtShutdownOrWhenCancelled) {
  TQtDispatcher d;
  int value = 0;
  bool sent = false;
  std::thread worker([&] { sent = d.Send([&] { value = 42; }); });
  EXPECT_TRUE(d.WaitPumping([&] { return value == 42; }, Millis(2000)));
  worker.join();
  EXPECT_TRUE(sent);
  EXPECT_TRUE(d.Send([&] { value = 7; }));  // on the main thread: inline
  EXPECT_EQ(value, 7);

  std::atomic<bool> cancel{true};
  std::thread cancelled([&] { sent = d.Send([&] { value = 1; }, &cancel); });
  cancelled.join();
  EXPECT_FALSE(sent);
  d.BeginShutdown();
  EXPECT_FALSE(d.Send([&] { value = 2; }));
  d.ProcessPending();
  EXPECT_EQ(value, 7);
}

TEST(QtDispatcher, TimersRepeatFireOnceAndStop) {
  TQtDispatcher d;
  int repeats = 0, once = 0, stopped = 0;
  d.StartTimer(Millis(10), [&] { ++repeats; });
  d.StartTimer(Millis(5), [&] { ++once; }, false);
  const TimerId id = d.StartTimer(Millis(10), [&] { ++stopped; });
  d.StopTimer(id);
  EXPECT_TRUE(d.WaitPumping([&] { return repeats >= 5; }, Millis(3000)));
  EXPECT_EQ(once, 1);
  EXPECT_EQ(stopped, 0);
}

TEST(QtDispatcher, WaitingRunsQtEventsAndEndsAtItsTimeout) {
  TQtDispatcher d;
  bool qtTimerFired = false;
  QTimer::singleShot(20, [&] { qtTimerFired = true; });
  EXPECT_TRUE(d.WaitPumping([&] { return qtTimerFired; }, Millis(2000)));
  const Millis start = d.Clock().Now();
  EXPECT_FALSE(d.WaitPumping([] { return false; }, Millis(50)));
  EXPECT_GE(d.Clock().Now() - start, Millis(50));
}

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  QCoreApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
