#pragma once
// The dispatcher of the programs without a window system: a small loop for the command line and
// the service, and the same loop on a manual clock for deterministic tests.
#include "base/Dispatcher.h"

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

namespace ml {

// The small loop of the command-line programs and the service, and (with a manual clock) the
// deterministic loop of the tests. The thread that constructs it, or that calls Run(), is the
// main thread.
class EventLoop : public Dispatcher {
public:
  explicit EventLoop(const TClock& clock = SteadyClock::Instance());
  ~EventLoop() override;

  void Post(std::function<void()> fn) override;
  using Dispatcher::Send;
  bool Send(std::function<void()> fn, const std::atomic<bool>* cancel) override;
  void ReleaseSenders() override;
  TimerId StartTimer(Millis interval, std::function<void()> fn, bool repeat = true) override;
  void StopTimer(TimerId id) override;
  bool WaitPumping(const std::function<bool()>& pred, Millis timeout) override;
  void ProcessPending() override;
  bool IsMainThread() const override { return std::this_thread::get_id() == mainThread_.load(); }
  const TClock& Clock() const override { return clock_; }
  void BeginShutdown() override;
  bool ShuttingDown() const override { return shutdown_.load(); }

  // Runs until Quit() is called (from any thread, or from work running on the loop).
  void Run();
  void Quit();

protected:
  std::optional<Millis> NextTimerDue() const;
  // Work was queued or a timer started, from any thread: a loop that is not this one's own Run()
  // (a toolkit's) is told here to come and run it.
  virtual void WorkArrived() {}

private:
  struct Timer {
    Millis due;
    Millis interval;
    bool repeat;
    std::shared_ptr<std::function<void()>> fn;
  };
  // Blocks until work is posted, the next timer is due, or until (on this loop's clock).
  void WaitForWork(Millis until);
  bool RunOneTimer();

  const TClock& clock_;
  std::atomic<std::thread::id> mainThread_;  // Run() may move it to another thread, while workers ask
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable sendDone_;
  std::deque<std::function<void()>> queue_;
  std::map<TimerId, Timer> timers_;
  TimerId nextTimer_ = 1;
  std::atomic<bool> shutdown_{false};
  std::atomic<bool> quit_{false};
};

namespace detail {
// Constructed before EventLoop so the loop is handed a clock that already exists.
struct ManualClockHolder {
  ManualClock manual_;
};
}  // namespace detail

// Test loop: time moves only when the test says so.
class ManualLoop : private detail::ManualClockHolder, public EventLoop {
public:
  ManualLoop() : detail::ManualClockHolder(), EventLoop(manual_) {}
  ManualClock& Manual() { return manual_; }
  // Moves the clock forward in steps to each timer that falls due within by, running it and
  // anything queued on the way.
  void Advance(Millis by);
};

}  // namespace ml
