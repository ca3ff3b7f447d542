#include "net/LRQueues.h"

#include <stdexcept>

namespace ml {

TPointerQueue::TPointerQueue(size_t capacity) : ring_(capacity, nullptr) {
  if (capacity == 0) throw std::invalid_argument("TPointerQueue: capacity 0");
}

bool TPointerQueue::Push(void* p) {
  if (!p) return false;
  {
    std::lock_guard lock(mutex_);
    if (count_ == ring_.size()) return false;
    ring_[(head_ + count_) % ring_.size()] = p;
    ++count_;
  }
  ready_.notify_one();
  return true;
}

void* TPointerQueue::Pop() {
  std::lock_guard lock(mutex_);
  if (count_ == 0) return nullptr;
  void* p = ring_[head_];
  head_ = (head_ + 1) % ring_.size();
  --count_;
  return p;
}

void* TPointerQueue::PopWait(std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  ready_.wait_for(lock, timeout, [&] { return count_ > 0 || closed_; });
  if (count_ == 0) return nullptr;
  void* p = ring_[head_];
  head_ = (head_ + 1) % ring_.size();
  --count_;
  return p;
}

void TPointerQueue::Close() {
  {
    std::lock_guard lock(mutex_);
    closed_ = true;
  }
  ready_.notify_all();
}

void TPointerQueue::Reopen() {
  std::lock_guard lock(mutex_);
  closed_ = false;
}

size_t TPointerQueue::Count() const {
  std::lock_guard lock(mutex_);
  return count_;
}

TStaticMemoryManager::TStaticMemoryManager(size_t blockCount)
    : blockCount_(blockCount),
      memory_(new uint8_t[blockCount * BlockSize]()),
      free_(blockCount),
      out_(blockCount, false) {
  for (size_t i = 0; i < blockCount; ++i) free_.Push(memory_.get() + i * BlockSize);
}

bool TStaticMemoryManager::IndexOf(const void* p, size_t& index) const {
  const auto* b = static_cast<const uint8_t*>(p);
  const uint8_t* base = memory_.get();
  if (b < base || b >= base + blockCount_ * BlockSize) return false;
  const size_t offset = size_t(b - base);
  if (offset % BlockSize != 0) return false;
  index = offset / BlockSize;
  return true;
}

void* TStaticMemoryManager::GetMem() {
  void* p = free_.Pop();
  if (!p) return nullptr;
  size_t i = 0;
  IndexOf(p, i);
  std::lock_guard lock(outMutex_);
  out_[i] = true;
  return p;
}

bool TStaticMemoryManager::FreeMem(void* p) {
  size_t i = 0;
  if (!p || !IndexOf(p, i)) return false;
  {
    std::lock_guard lock(outMutex_);
    if (!out_[i]) return false;
    out_[i] = false;
  }
  return free_.Push(p);
}

}  // namespace ml
