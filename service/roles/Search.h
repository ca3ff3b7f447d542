#pragma once
// The search server's roles over the catalogue: the song search (14) with its result pages in
// parts, the song lookup by name (17) and the keyword suggestions (80).
//
// A search's ranked song list is kept per folded keyword in a bounded cache, with each page's
// parts encoded once, until the catalogue's version changes (an import, a change of holders):
// repeated and paged searches then cost a lookup and a copy. The cache is bounded by bytes and
// the oldest used goes first.
#include <cstddef>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "service/ServiceContext.h"
#include "service/ServiceSecurity.h"

namespace mlsvc {

class TSearchRole {
public:
  static constexpr int PageRows = 20;
  static constexpr size_t CacheBytes = size_t(32) << 20;

  explicit TSearchRole(TServiceContext& ctx);
  void Search(const TRequest& r);
  void Lookup(const TRequest& r);
  void Suggest(const TRequest& r);

private:
  struct TResult {
    std::vector<int64_t> IDs;  // ranked
    // Encoded parts by page, the search number left 0 (each answer fills in its own).
    std::unordered_map<uint32_t, std::vector<std::vector<uint8_t>>> Pages;
    size_t Bytes = 0;
  };
  using TLru = std::list<std::pair<std::string, std::shared_ptr<TResult>>>;

  // The ranked result of a folded keyword, from the cache or the catalogue; under mutex_.
  TResult& Ranked(const std::unique_lock<std::mutex>& lock, const std::string& folded);
  const std::vector<std::vector<uint8_t>>& Page(const std::unique_lock<std::mutex>& lock, TResult& result,
                                                uint32_t page);
  // Whether r's source is within its rate.
  bool Admit(const TRequest& r);

  TServiceContext& ctx_;
  TRateLimiter requests_;
  std::mutex mutex_;
  int64_t version_ = -1;
  TLru lru_;
  std::unordered_map<std::string, TLru::iterator> byKeyword_;
  size_t bytes_ = 0;
  std::vector<std::vector<uint8_t>> pastLast_;  // a page past the last, not worth keeping
};

}  // namespace mlsvc
