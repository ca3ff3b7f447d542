#pragma once
// The main thread's work queue: what window messages, PostMessage/SendMessage, SetTimer and
// "pump messages while waiting" are to the rest of the program. Worker threads never touch the
// user interface; they post (or send) work to the dispatcher, which runs it on the main thread.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

namespace ml {

using Millis = std::chrono::milliseconds;

// A monotonic millisecond clock; tests swap in a manual one.
class TClock {
public:
  virtual ~TClock() = default;
  virtual Millis now() const = 0;
  virtual bool isManual() const { return false; }
};

class SteadyClock final : public TClock {
public:
  Millis now() const override;
  static const SteadyClock& instance();
};

class ManualClock final : public TClock {
public:
  Millis now() const override { return Millis(now_.load()); }
  bool isManual() const override { return true; }
  void advance(Millis by) { now_ += by.count(); }
  void set(Millis to) { now_ = to.count(); }

private:
  std::atomic<int64_t> now_{0};
};

using TimerId = uint64_t;

class Dispatcher {
public:
  virtual ~Dispatcher() = default;

  // Queues fn to run on the main thread, in order. Any thread; never blocks.
  virtual void post(std::function<void()> fn) = 0;
  // Runs fn on the main thread and waits for it: inline when called there, otherwise queued.
  // Returns false without running fn once shutdown has begun, so a worker that sends while the
  // main thread is joining it cannot deadlock.
  bool send(std::function<void()> fn) { return send(std::move(fn), nullptr); }
  // The same, also giving up when *cancel is set before the main thread has started fn: the
  // owner of a worker sets it, then calls releaseSenders(), before joining the worker.
  virtual bool send(std::function<void()> fn, const std::atomic<bool>* cancel) = 0;
  // Makes waiting senders look at their cancel flags again.
  virtual void releaseSenders() = 0;
  // Calls fn on the main thread every interval (or once). Ids are never reused.
  virtual TimerId startTimer(Millis interval, std::function<void()> fn, bool repeat = true) = 0;
  virtual void stopTimer(TimerId id) = 0;
  // On the main thread: runs queued work and timers until pred() holds or timeout passes on this
  // dispatcher's clock. Returns pred()'s last value.
  virtual bool waitPumping(const std::function<bool()>& pred, Millis timeout) = 0;
  // Runs what is queued and the timers that are due; never blocks.
  virtual void processPending() = 0;
  virtual bool isMainThread() const = 0;
  virtual const TClock& clock() const = 0;
  // From here on send() refuses; waiting senders are released.
  virtual void beginShutdown() = 0;
  virtual bool shuttingDown() const = 0;
};

// The process's main dispatcher, set by whoever owns the main loop (null until then).
Dispatcher* MainDispatcher();
void SetMainDispatcher(Dispatcher* d);

// The small loop of the command-line programs and the service, and (with a manual clock) the
// deterministic loop of the tests. The thread that constructs it, or that calls run(), is the
// main thread.
class EventLoop : public Dispatcher {
public:
  explicit EventLoop(const TClock& clock = SteadyClock::instance());
  ~EventLoop() override;

  void post(std::function<void()> fn) override;
  using Dispatcher::send;
  bool send(std::function<void()> fn, const std::atomic<bool>* cancel) override;
  void releaseSenders() override;
  TimerId startTimer(Millis interval, std::function<void()> fn, bool repeat = true) override;
  void stopTimer(TimerId id) override;
  bool waitPumping(const std::function<bool()>& pred, Millis timeout) override;
  void processPending() override;
  bool isMainThread() const override { return std::this_thread::get_id() == mainThread_; }
  const TClock& clock() const override { return clock_; }
  void beginShutdown() override;
  bool shuttingDown() const override { return shutdown_.load(); }

  // Runs until quit() is called (from any thread, or from work running on the loop).
  void run();
  void quit();

protected:
  std::optional<Millis> nextTimerDue() const;

private:
  struct Timer {
    Millis due;
    Millis interval;
    bool repeat;
    std::shared_ptr<std::function<void()>> fn;
  };
  // Blocks until work is posted, the next timer is due, or until (on this loop's clock).
  void waitForWork(Millis until);
  bool runOneTimer();

  const TClock& clock_;
  std::thread::id mainThread_;
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
  ManualClock& manualClock() { return manual_; }
  // Moves the clock forward in steps to each timer that falls due within by, running it and
  // anything queued on the way.
  void advance(Millis by);
};

}  // namespace ml
