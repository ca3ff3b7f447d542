#include "playback/uCircleBuffer.h"

#include <algorithm>
#include <cstring>

namespace ml {

TCircleBuffer::TCircleBuffer(uint32_t capacity) : capacity_(std::max<uint32_t>(capacity, 1)), data_(capacity_) {}

void TCircleBuffer::Reset() {
  std::lock_guard lock(mutex_);
  read_ = write_ = used_ = 0;
  signalled_ = finished_ = false;
}

uint32_t TCircleBuffer::FreeSpaceLocked() const { return capacity_ - used_; }

bool TCircleBuffer::Drained() const {
  std::lock_guard lock(mutex_);
  return finished_ && used_ == 0;
}

uint32_t TCircleBuffer::FreeSpace() const {
  std::lock_guard lock(mutex_);
  return FreeSpaceLocked();
}

bool TCircleBuffer::Write(const void* data, uint32_t length) {
  {
    std::lock_guard lock(mutex_);
    if (length == 0 || length > FreeSpaceLocked() || finished_) return false;
    const auto* p = static_cast<const uint8_t*>(data);
    const uint32_t first = std::min(length, capacity_ - write_);
    std::memcpy(data_.data() + write_, p, first);
    std::memcpy(data_.data(), p + first, length - first);
    write_ = (write_ + length) % capacity_;
    used_ += length;
    signalled_ = true;
  }
  cv_.notify_one();
  return true;
}

void TCircleBuffer::SetFinished(bool finished) {
  if (!finished) return;
  {
    std::lock_guard lock(mutex_);
    finished_ = true;
    signalled_ = true;
  }
  cv_.notify_one();
}

bool TCircleBuffer::Read(void* buffer, uint32_t& count, std::chrono::milliseconds timeout) {
  auto* out = static_cast<uint8_t*>(buffer);
  const uint32_t wanted = count;
  uint32_t got = 0;
  bool endOfStream = false;
  std::unique_lock lock(mutex_);
  while (got < wanted) {
    if (!cv_.wait_for(lock, timeout, [this] { return signalled_; })) break;
    signalled_ = false;
    while (got < wanted && used_ > 0) {
      const uint32_t n = std::min({wanted - got, used_, capacity_ - read_});
      std::memcpy(out + got, data_.data() + read_, n);
      got += n;
      used_ -= n;
      read_ = (read_ + n) % capacity_;
    }
    if (used_ == 0) {
      if (finished_) {
        endOfStream = true;
        break;
      }
    } else {
      signalled_ = true;  // more is waiting: the next wait must not block
    }
  }
  count = got;
  return got == wanted && !endOfStream;
}

}  // namespace ml
