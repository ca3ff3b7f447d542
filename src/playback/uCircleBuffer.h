#pragma once
// A locked byte ring for one writer thread and one reader thread, with a data event and an end of
// stream flag. A full ring drops a written block rather than make the writer wait.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <vector>

namespace ml {

class TCircleBuffer {
public:
  explicit TCircleBuffer(uint32_t capacity);

  // Empties the ring and starts a new stream (after a seek, a finished stream goes on).
  void Reset();
  uint32_t FreeSpace() const;
  // Copies length bytes in, or nothing when they do not fit (more than FreeSpace) or the stream
  // has finished. Returns whether they were taken.
  bool Write(const void* data, uint32_t length);
  // true marks the end of the stream and wakes the reader; false does nothing.
  void SetFinished(bool finished);
  // The stream has finished and everything written has been read.
  bool Drained() const;
  // Reads up to count bytes, waiting up to timeout for each piece; count becomes the bytes read.
  // True when all were read; false on a timeout or when the stream is finished and drained.
  bool Read(void* buffer, uint32_t& count, std::chrono::milliseconds timeout = std::chrono::milliseconds(1000));

private:
  uint32_t FreeSpaceLocked() const;

  const uint32_t capacity_;
  std::vector<uint8_t> data_;
  uint32_t read_ = 0, write_ = 0, used_ = 0;  // a full ring is used_ == capacity_
  bool finished_ = false;
  bool signalled_ = false;  // the auto-reset data event
  mutable std::mutex mutex_;
  std::condition_variable cv_;
};

}  // namespace ml
