#include "base/EventLoop.h"

#include <algorithm>

namespace ml {
namespace {
// Progress of one Send(): the main thread claims it before running, a sender that gives up at
// shutdown abandons it, so fn runs at most once and never after its sender has left.
enum SendPhase : int { Queued, Running, Done, Abandoned };
}  // namespace

EventLoop::EventLoop(const TClock& clock) : clock_(clock), mainThread_(std::this_thread::get_id()) {}

EventLoop::~EventLoop() {
  BeginShutdown();
  if (MainDispatcher() == this) SetMainDispatcher(nullptr);
}

void EventLoop::Post(std::function<void()> fn) {
  {
    std::lock_guard lock(mutex_);
    queue_.push_back(std::move(fn));
  }
  wake_.notify_all();
  WorkArrived();
}

bool EventLoop::Send(std::function<void()> fn, const std::atomic<bool>* cancel) {
  auto giveUp = [&] { return shutdown_ || (cancel && cancel->load()); };
  if (giveUp()) return false;
  if (IsMainThread()) {
    fn();
    return true;
  }
  auto phase = std::make_shared<std::atomic<int>>(Queued);
  Post([this, phase, fn = std::move(fn)] {
    int expected = Queued;
    if (!phase->compare_exchange_strong(expected, Running)) return;
    try {
      fn();
    } catch (...) {
      // The sender only learns that the call ran; a handler's failure is the handler's business.
    }
    {
      std::lock_guard lock(mutex_);
      phase->store(Done);
    }
    sendDone_.notify_all();
  });
  std::unique_lock lock(mutex_);
  sendDone_.wait(lock, [&] {
    if (phase->load() == Done) return true;
    if (!giveUp()) return false;
    int expected = Queued;
    // At shutdown or when cancelled, give up unless the main thread has already started the call.
    return phase->compare_exchange_strong(expected, Abandoned) || phase->load() == Done;
  });
  return phase->load() == Done;
}

TimerId EventLoop::StartTimer(Millis interval, std::function<void()> fn, bool repeat) {
  TimerId id;
  {
    std::lock_guard lock(mutex_);
    id = nextTimer_++;
    interval = std::max(interval, Millis(1));
    timers_[id] = Timer{clock_.Now() + interval, interval, repeat,
                        std::make_shared<std::function<void()>>(std::move(fn))};
  }
  wake_.notify_all();
  WorkArrived();
  return id;
}

void EventLoop::StopTimer(TimerId id) {
  std::lock_guard lock(mutex_);
  timers_.erase(id);
}

bool EventLoop::RunOneTimer() {
  std::shared_ptr<std::function<void()>> fn;
  {
    std::lock_guard lock(mutex_);
    const Millis now = clock_.Now();
    auto due = timers_.end();
    for (auto it = timers_.begin(); it != timers_.end(); ++it)
      if (it->second.due <= now && (due == timers_.end() || it->second.due < due->second.due)) due = it;
    if (due == timers_.end()) return false;
    fn = due->second.fn;
    if (due->second.repeat) {
      // Like WM_TIMER: ticks missed while the thread was busy are coalesced, not replayed.
      due->second.due += due->second.interval;
      if (due->second.due <= now) due->second.due = now + due->second.interval;
    } else
      timers_.erase(due);
  }
  (*fn)();
  return true;
}

void EventLoop::ProcessPending() {
  std::deque<std::function<void()>> batch;
  {
    std::lock_guard lock(mutex_);
    batch.swap(queue_);
  }
  for (auto& fn : batch) fn();
  // Only timers due now; a repeating timer with a zero interval must not spin here. Once a
  // timer has asked the loop to quit, no further timer runs.
  for (int fired = 0; fired < 64 && !quit_ && RunOneTimer(); ++fired) {
  }
}

void EventLoop::WaitForWork(Millis until) {
  std::unique_lock lock(mutex_);
  if (!queue_.empty() || quit_) return;
  Millis next = until;
  for (auto& [id, t] : timers_) next = std::min(next, t.due);
  const Millis now = clock_.Now();
  if (next <= now) return;
  // A manual clock does not move while we sleep, so only posted work (or a test thread
  // advancing the clock) can end the wait; look again every few milliseconds.
  auto span = clock_.IsManual() ? Millis(5) : next - now;
  wake_.wait_for(lock, span, [&] { return !queue_.empty() || quit_.load(); });
}

bool EventLoop::WaitPumping(const std::function<bool()>& pred, Millis timeout) {
  // The steady clock counts whole milliseconds, so "now" may be up to 1 ms late already: one
  // more makes sure that at least timeout passes. A manual clock is exact.
  const Millis deadline = clock_.Now() + timeout + (clock_.IsManual() ? Millis(0) : Millis(1));
  // With a manual clock nobody may ever advance time; a generous real-time cap keeps a broken
  // test from hanging forever.
  const auto realCap = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  for (;;) {
    ProcessPending();
    if (pred()) return true;
    if (clock_.Now() >= deadline) return false;
    if (clock_.IsManual() && std::chrono::steady_clock::now() >= realCap) return pred();
    WaitForWork(deadline);
  }
}

void EventLoop::Run() {
  mainThread_ = std::this_thread::get_id();
  quit_ = false;
  while (!quit_) {
    ProcessPending();
    if (quit_) break;
    WaitForWork(clock_.Now() + Millis(1000));
  }
  ProcessPending();  // work posted before the quit still runs; timers wait for the next run
  quit_ = false;
}

void EventLoop::Quit() {
  {
    std::lock_guard lock(mutex_);
    quit_ = true;
  }
  wake_.notify_all();
}

void EventLoop::ReleaseSenders() {
  // Taking the lock orders this after a sender's check of its flag, so the wake-up is not lost.
  { std::lock_guard lock(mutex_); }
  sendDone_.notify_all();
}

void EventLoop::BeginShutdown() {
  {
    std::lock_guard lock(mutex_);
    shutdown_ = true;
  }
  sendDone_.notify_all();
  wake_.notify_all();
}

std::optional<Millis> EventLoop::NextTimerDue() const {
  std::lock_guard lock(mutex_);
  std::optional<Millis> next;
  for (auto& [id, t] : timers_)
    if (!next || t.due < *next) next = t.due;
  return next;
}

void ManualLoop::Advance(Millis by) {
  const Millis target = manual_.Now() + by;
  for (;;) {
    ProcessPending();
    auto next = NextTimerDue();
    if (!next || *next > target) break;
    if (*next > manual_.Now()) manual_.Set(*next);
  }
  manual_.Set(target);
  ProcessPending();
}

}  // namespace ml
