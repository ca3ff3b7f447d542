#pragma once
// Several sources one thread can wait on at once (what an event plus a message queue are to a
// Windows thread). Each source has a bit; waiting takes and clears the bits that were set.
#include <chrono>
#include <condition_variable>
#include <mutex>

namespace ml {

class TWaitSet {
public:
  void Signal(unsigned bits);
  // Waits until one of the bits in mask is set or timeout passes; returns (and clears) the bits.
  unsigned Wait(unsigned mask, std::chrono::milliseconds timeout);
  // Returns (and clears) the bits of mask that are set, without waiting.
  unsigned Take(unsigned mask);

private:
  std::mutex mutex_;
  std::condition_variable cv_;
  unsigned bits_ = 0;
};

}  // namespace ml
