#include "service/ServiceSecurity.h"

#include <argon2.h>
#include <sys/random.h>

#include <algorithm>
#include <cerrno>
#include <stdexcept>
#include <vector>

namespace mlsvc {

void SecureRandomBytes(void* out, size_t n) {
  auto* p = static_cast<uint8_t*>(out);
  while (n > 0) {
    const ssize_t got = ::getrandom(p, n, 0);
    if (got < 0) {
      if (errno == EINTR) continue;
      throw std::runtime_error("getrandom failed");
    }
    p += got;
    n -= size_t(got);
  }
}

uint32_t SecureRandomRange(uint32_t lo, uint32_t hi) {
  if (hi <= lo) return lo;
  const uint64_t span = uint64_t(hi) - lo + 1;
  // Rejection sampling keeps the result uniform.
  const uint64_t limit = (uint64_t(1) << 32) - ((uint64_t(1) << 32) % span);
  for (;;) {
    uint32_t v = 0;
    SecureRandomBytes(&v, sizeof v);
    if (v < limit) return uint32_t(lo + v % span);
  }
}

std::string MakeVerifier(const std::array<uint8_t, 16>& digest, const TArgonCost& cost) {
  uint8_t salt[16];
  SecureRandomBytes(salt, sizeof salt);
  const size_t len = argon2_encodedlen(cost.Iterations, cost.MemoryKiB, 1, sizeof salt, 32, Argon2_id);
  std::vector<char> encoded(len);
  const int rc = argon2id_hash_encoded(cost.Iterations, cost.MemoryKiB, 1, digest.data(), digest.size(),
                                       salt, sizeof salt, 32, encoded.data(), encoded.size());
  if (rc != ARGON2_OK) throw std::runtime_error(std::string("Argon2id: ") + argon2_error_message(rc));
  return std::string(encoded.data());
}

bool CheckVerifier(const std::string& verifier, const std::array<uint8_t, 16>& digest) {
  // argon2id_verify recomputes the hash with the parameters and salt of the encoded form and
  // compares the two in constant time.
  return argon2id_verify(verifier.c_str(), digest.data(), digest.size()) == ARGON2_OK;
}

double TRateLimiter::Refilled(const Bucket& b, int64_t nowMs) const {
  return nowMs > b.lastMs ? std::min(burst_, b.tokens + rate_ * double(nowMs - b.lastMs) / 1000.0) : b.tokens;
}

void TRateLimiter::MakeRoom(const std::lock_guard<std::mutex>&, int64_t nowMs) {
  for (auto i = buckets_.begin(); i != buckets_.end();)
    i = Refilled(i->second, nowMs) >= burst_ ? buckets_.erase(i) : std::next(i);
  if (buckets_.size() < maxSources_) return;
  // Every source still owes: forget those that owe least, a batch at a time so that the scan is
  // paid for by many new sources.
  std::vector<std::pair<double, uint64_t>> fullest;
  fullest.reserve(buckets_.size());
  for (const auto& [source, b] : buckets_) fullest.emplace_back(Refilled(b, nowMs), source);
  const size_t batch = std::max<size_t>(1, maxSources_ / 16);
  std::nth_element(fullest.begin(), fullest.begin() + long(batch - 1), fullest.end(),
                   [](const auto& a, const auto& b) { return a.first > b.first; });
  for (size_t i = 0; i < batch; ++i) buckets_.erase(fullest[i].second);
}

bool TRateLimiter::Allow(uint64_t source, int64_t nowMs, double cost) {
  std::lock_guard lock(mutex_);
  auto it = buckets_.find(source);
  if (it == buckets_.end()) {
    if (buckets_.size() >= maxSources_) MakeRoom(lock, nowMs);
    it = buckets_.emplace(source, Bucket{burst_, nowMs}).first;
  }
  Bucket& b = it->second;
  b.tokens = Refilled(b, nowMs);
  b.lastMs = std::max(b.lastMs, nowMs);
  if (b.tokens < cost) return false;
  b.tokens -= cost;
  return true;
}

size_t TRateLimiter::Sources() {
  std::lock_guard lock(mutex_);
  return buckets_.size();
}

}  // namespace mlsvc
