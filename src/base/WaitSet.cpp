#include "base/WaitSet.h"

namespace ml {

void TWaitSet::Signal(unsigned bits) {
  {
    std::lock_guard lock(mutex_);
    bits_ |= bits;
  }
  cv_.notify_all();
}

unsigned TWaitSet::Wait(unsigned mask, std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  cv_.wait_for(lock, timeout, [&] { return (bits_ & mask) != 0; });
  const unsigned got = bits_ & mask;
  bits_ &= ~got;
  return got;
}

unsigned TWaitSet::Take(unsigned mask) {
  std::lock_guard lock(mutex_);
  const unsigned got = bits_ & mask;
  bits_ &= ~got;
  return got;
}

}  // namespace ml
