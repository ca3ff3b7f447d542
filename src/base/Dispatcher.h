#pragma once
// The main thread's work queue: what window messages, PostMessage/SendMessage, SetTimer and
// "pump messages while waiting" are to the rest of the program. Worker threads never touch the
// user interface; they post (or send) work to the dispatcher, which runs it on the main thread.
#include "base/Clock.h"

#include <atomic>
#include <cstdint>
#include <functional>

namespace ml {

using TimerId = uint64_t;

class Dispatcher {
public:
  virtual ~Dispatcher() = default;

  // Queues fn to run on the main thread, in order. Any thread; never blocks.
  virtual void Post(std::function<void()> fn) = 0;
  // Runs fn on the main thread and waits for it: inline when called there, otherwise queued.
  // Returns false without running fn once shutdown has begun, so a worker that sends while the
  // main thread is joining it cannot deadlock.
  bool Send(std::function<void()> fn) { return Send(std::move(fn), nullptr); }
  // The same, also giving up when *cancel is set before the main thread has started fn: the
  // owner of a worker sets it, then calls ReleaseSenders(), before joining the worker.
  virtual bool Send(std::function<void()> fn, const std::atomic<bool>* cancel) = 0;
  // Makes waiting senders look at their cancel flags again.
  virtual void ReleaseSenders() = 0;
  // Calls fn on the main thread every interval (or once). Ids are never reused.
  virtual TimerId StartTimer(Millis interval, std::function<void()> fn, bool repeat = true) = 0;
  virtual void StopTimer(TimerId id) = 0;
  // On the main thread: runs queued work and timers until pred() holds or timeout passes on this
  // dispatcher's clock. Returns pred()'s last value.
  virtual bool WaitPumping(const std::function<bool()>& pred, Millis timeout) = 0;
  // Runs what is queued and the timers that are due; never blocks.
  virtual void ProcessPending() = 0;
  virtual bool IsMainThread() const = 0;
  virtual const TClock& Clock() const = 0;
  // From here on Send() refuses; waiting senders are released.
  virtual void BeginShutdown() = 0;
  virtual bool ShuttingDown() const = 0;
};

// The process's main dispatcher, set by whoever owns the main loop (null until then).
Dispatcher* MainDispatcher();
void SetMainDispatcher(Dispatcher* d);

}  // namespace ml
