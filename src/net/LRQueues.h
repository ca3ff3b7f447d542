#pragma once
// The receive path's fixed-size structures: a bounded ring of pointers with its own lock (the
// receive queue, and the pool's free list), and a pool of equal blocks allocated once. Nothing
// here allocates after construction.
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

namespace ml {

class TPointerQueue {
public:
  explicit TPointerQueue(size_t capacity);
  TPointerQueue(const TPointerQueue&) = delete;
  TPointerQueue& operator=(const TPointerQueue&) = delete;

  // False when the queue is full (or p is null); the caller keeps p.
  bool Push(void* p);
  // Null when empty.
  void* Pop();
  // Waits up to timeout for an item; null on timeout or once Close() was called and the queue is
  // empty.
  void* PopWait(std::chrono::milliseconds timeout);
  // Wakes every waiter; later PopWait calls return at once when empty.
  void Close();
  void Reopen();
  size_t Count() const;
  size_t Capacity() const { return ring_.size(); }

private:
  mutable std::mutex mutex_;
  std::condition_variable ready_;
  std::vector<void*> ring_;
  size_t head_ = 0;  // next to pop
  size_t count_ = 0;
  bool closed_ = false;
};

// One received datagram as it waits in the queue.
struct TUDPBlock {
  uint32_t PeerIP;      // network byte order
  uint16_t PeerPort;    // host byte order
  uint16_t Length;
  uint8_t Data[1460];
};

class TStaticMemoryManager {
public:
  static constexpr size_t BlockSize = 1536;
  static_assert(sizeof(TUDPBlock) <= BlockSize);

  explicit TStaticMemoryManager(size_t blockCount);
  TStaticMemoryManager(const TStaticMemoryManager&) = delete;
  TStaticMemoryManager& operator=(const TStaticMemoryManager&) = delete;

  // Null when every block is out.
  void* GetMem();
  // False for a pointer that is not a block of this pool or is not out (double free).
  bool FreeMem(void* p);
  size_t FreeCount() const { return free_.Count(); }
  size_t BlockCount() const { return blockCount_; }

private:
  bool IndexOf(const void* p, size_t& index) const;

  size_t blockCount_;
  std::unique_ptr<uint8_t[]> memory_;
  TPointerQueue free_;
  std::mutex outMutex_;
  std::vector<bool> out_;
};

}  // namespace ml
