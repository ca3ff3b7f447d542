#pragma once
// A few threads for the work of a role that is too slow for a socket's thread (a login's
// Argon2id check), behind a bounded queue: when the queue is full new work is refused at once,
// so the role can answer "busy" instead of letting requests pile up.
//
// A pool of no threads runs each job at once on the caller's thread (its queue stays empty, so
// only a capacity of 0 refuses): tests and the fuzzer see the answer before the request's
// handler returns.
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace mlsvc {

class TWorkPool {
public:
  TWorkPool(int threads, size_t capacity);
  ~TWorkPool();
  TWorkPool(const TWorkPool&) = delete;
  TWorkPool& operator=(const TWorkPool&) = delete;

  // False when the queue is full or the pool has stopped; the job is then dropped. A job's
  // exception is reported and forgotten.
  bool TryPost(std::function<void()> job);
  // Drops what is still queued and joins the threads.
  void Stop();

private:
  void Run();
  static void RunJob(const std::function<void()>& job);

  const size_t capacity_;
  const bool inline_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<std::function<void()>> jobs_;
  bool stopping_ = false;
  std::vector<std::thread> threads_;
};

}  // namespace mlsvc
