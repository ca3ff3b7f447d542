#pragma once
// The service's security pieces: randomness from the kernel, Argon2id password verifiers over the
// 16-byte digest a client sends, and per-source token buckets.
#include <arpa/inet.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <mutex>
#include <string>
#include <unordered_map>

namespace mlsvc {

// Uniform in lo..hi (inclusive) from getrandom(2); throws when the kernel refuses.
uint32_t SecureRandomRange(uint32_t lo, uint32_t hi);
void SecureRandomBytes(void* out, size_t n);

struct TArgonCost {
  uint32_t MemoryKiB = 19456;  // 19 MiB, 2 passes, 1 lane
  uint32_t Iterations = 2;
};

// The encoded Argon2id verifier ("$argon2id$v=19$m=...") of a password digest, with a fresh
// 16-byte salt.
std::string MakeVerifier(const std::array<uint8_t, 16>& digest, const TArgonCost& cost);
// Recomputes and compares in constant time; false for a malformed verifier.
bool CheckVerifier(const std::string& verifier, const std::array<uint8_t, 16>& digest);

// The /24 an IPv4 address (network order) belongs to, as a rate limit's source.
inline uint32_t NetOf(uint32_t ip) { return ip & htonl(0xFFFFFF00u); }

// Token buckets keyed by source: Rate tokens per second up to Burst; a request costs one token,
// or what it says. The table is bounded: when it is full, the buckets that have refilled
// completely are forgotten first (they carry no state); if none has, the fullest sixteenth goes,
// so that those who spent the most keep their debt. Limits are never reset wholesale.
class TRateLimiter {
public:
  TRateLimiter(double rate, double burst, size_t maxSources = 65536)
      : rate_(rate), burst_(burst), maxSources_(std::max<size_t>(maxSources, 1)) {}
  bool Allow(uint64_t source, int64_t nowMs, double cost = 1.0);
  size_t Sources();

private:
  struct Bucket {
    double tokens;
    int64_t lastMs;
  };
  double Refilled(const Bucket& b, int64_t nowMs) const;
  void MakeRoom(const std::lock_guard<std::mutex>& lock, int64_t nowMs);

  double rate_, burst_;
  size_t maxSources_;
  std::mutex mutex_;
  std::unordered_map<uint64_t, Bucket> buckets_;
};

}  // namespace mlsvc
