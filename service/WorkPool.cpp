#include "service/WorkPool.h"

#include <exception>

#include "base/DebugTrace.h"

namespace mlsvc {

TWorkPool::TWorkPool(int threads, size_t capacity) : capacity_(capacity), inline_(threads <= 0) {
  for (int i = 0; i < threads; ++i) threads_.emplace_back([this] { Run(); });
}

TWorkPool::~TWorkPool() { Stop(); }

void TWorkPool::RunJob(const std::function<void()>& job) {
  try {
    job();
  } catch (const std::exception& e) {
    ml::DebugTrace("work pool: %s", e.what());
  } catch (...) {
  }
}

bool TWorkPool::TryPost(std::function<void()> job) {
  std::unique_lock lock(mutex_);
  if (stopping_ || jobs_.size() >= capacity_) return false;
  if (inline_) {
    lock.unlock();
    RunJob(job);
    return true;
  }
  jobs_.push_back(std::move(job));
  lock.unlock();
  changed_.notify_one();
  return true;
}

void TWorkPool::Stop() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
    jobs_.clear();
  }
  changed_.notify_all();
  for (auto& t : threads_) t.join();
  threads_.clear();
}

void TWorkPool::Run() {
  for (;;) {
    std::function<void()> job;
    {
      std::unique_lock lock(mutex_);
      changed_.wait(lock, [&] { return stopping_ || !jobs_.empty(); });
      if (stopping_) return;
      job = std::move(jobs_.front());
      jobs_.pop_front();
    }
    RunJob(job);
  }
}

}  // namespace mlsvc
