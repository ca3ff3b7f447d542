#include "service/roles/Search.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <tuple>
#include <unordered_set>

#include "base/ByteOrder.h"
#include "base/GbkText.h"
#include "base/StrUtil.h"
#include "net/SearchRecords.h"
#include "service/Catalogue.h"

namespace mlsvc {

namespace {

using ml::TSearchResultPart;

constexpr size_t kMaxCachedKeywords = 4096;
constexpr size_t kMaxSuggestions = 10;

// A text for a short string on the wire: GBK, cut to 255 bytes at a character's end.
std::string WireText(std::string_view utf8) { return ml::Utf8ToGbkTruncated(utf8, 255); }

// A record as it goes out; empty when its writer refused it.
template <class T>
std::vector<uint8_t> Written(bool (*write)(ml::TCmdStream&, const T&), const T& record) {
  std::vector<uint8_t> bytes(ml::Envelope::MaxPayload);
  ml::TCmdStream s;
  s.InitWrite(bytes.data(), int32_t(bytes.size()));
  if (!write(s, record)) return {};
  bytes.resize(size_t(s.Size()));
  return bytes;
}

std::vector<uint8_t> Encoded(const TSearchResultPart& part) { return Written(ml::WriteSearchResultPart, part); }

// A page's rows in parts that each fit one datagram, numbered from 0.
std::vector<std::vector<uint8_t>> EncodePage(int32_t total, int64_t first, const std::vector<TSongSummary>& songs) {
  TSearchResultPart part;
  part.Total = total;
  part.First = int32_t(first);
  part.PageRows = uint16_t(songs.size());
  std::vector<std::vector<uint8_t>> parts;
  size_t used = TSearchResultPart::HeaderSize;
  const auto close = [&] {
    parts.push_back(Encoded(part));
    part.Rows.clear();
    ++part.Part;
    used = TSearchResultPart::HeaderSize;
  };
  for (const TSongSummary& s : songs) {
    ml::TSearchRow row;
    row.Name = WireText(s.FileName);
    row.Digest = s.Digest;
    row.Sources = s.Holders;
    row.Size = int32_t(std::min<int64_t>(s.Size, INT32_MAX));
    row.DurationSeconds = uint16_t(std::clamp(s.DurationMs / 1000, 0, 65535));
    row.Artist = WireText(s.Artist);
    const size_t size = ml::SearchRowSize(row);
    if (used + size > ml::Envelope::MaxPayload && !part.Rows.empty()) {
      if (part.Part + 1 >= TSearchResultPart::MaxParts) break;
      close();
    }
    part.Rows.push_back(std::move(row));
    used += size;
  }
  if (!part.Rows.empty() || parts.empty()) close();
  return parts;
}

}  // namespace

TSearchRole::TSearchRole(TServiceContext& ctx) : ctx_(ctx), requests_(ctx.Config.SearchRate, ctx.Config.SearchBurst) {}

bool TSearchRole::Admit(const TRequest& r) {
  if (requests_.Allow(r.IP, ctx_.NowMs())) return true;
  ++ctx_.Counters.RateLimited;
  ctx_.Note(r, "dropped, over the search rate of its address");
  return false;
}

TSearchRole::TResult& TSearchRole::Ranked(const std::unique_lock<std::mutex>&, const std::string& folded) {
  const int64_t version = ctx_.Catalogue.Version();
  if (version != version_) {
    lru_.clear();
    byKeyword_.clear();
    bytes_ = 0;
    version_ = version;
  }
  if (auto it = byKeyword_.find(folded); it != byKeyword_.end()) {
    lru_.splice(lru_.begin(), lru_, it->second);
    return *it->second->second;
  }
  auto result = std::make_shared<TResult>();
  result->IDs = ctx_.Catalogue.Search(folded);
  result->Bytes = folded.size() + result->IDs.size() * sizeof(int64_t) + 128;
  while (!lru_.empty() && (bytes_ + result->Bytes > CacheBytes || lru_.size() >= kMaxCachedKeywords)) {
    bytes_ -= lru_.back().second->Bytes;
    byKeyword_.erase(lru_.back().first);
    lru_.pop_back();
  }
  lru_.emplace_front(folded, result);
  byKeyword_[folded] = lru_.begin();
  bytes_ += result->Bytes;
  return *result;
}

const std::vector<std::vector<uint8_t>>& TSearchRole::Page(const std::unique_lock<std::mutex>&, TResult& result,
                                                           uint32_t page) {
  if (auto it = result.Pages.find(page); it != result.Pages.end()) return it->second;
  const auto total = int32_t(std::min<size_t>(result.IDs.size(), INT32_MAX));
  std::vector<std::vector<uint8_t>> parts;
  if (total == 0) {
    TSearchResultPart none;
    parts.push_back(Encoded(none));
  } else {
    // Page p begins with result 20p + 1; a page past the last has no rows.
    const int64_t first = int64_t(page) * PageRows + 1;
    if (first > total) {
      pastLast_ = EncodePage(total, first, {});
      return pastLast_;
    }
    const auto begin = result.IDs.begin() + (first - 1);
    const auto end = result.IDs.begin() + std::min<int64_t>(first - 1 + PageRows, total);
    parts = EncodePage(total, first, ctx_.Catalogue.Songs(std::vector<int64_t>(begin, end)));
  }
  size_t bytes = 0;
  for (const auto& p : parts) bytes += p.size() + sizeof p;
  result.Bytes += bytes;
  bytes_ += bytes;
  return result.Pages.emplace(page, std::move(parts)).first->second;
}

void TSearchRole::Search(const TRequest& r) {
  ml::TSearchRequest req;
  if (!ml::ReadSearchRequest(r.Payload, r.Length, req)) return;
  if (!Admit(r)) return;
  const TReach reach = ctx_.ReachOf(r, req.UserID);
  const std::string folded = FoldedWireText(req.Keyword);
  uint8_t out[ml::Envelope::MaxPayload];
  int sent = 0, total = 0;
  try {
    std::unique_lock lock(mutex_);
    TResult& result = Ranked(lock, folded);
    const auto& parts = Page(lock, result, req.Page);
    total = int(result.IDs.size());
    for (size_t p = 0; p < parts.size(); ++p) {
      if (!(req.PartsWanted >> p & 1) || parts[p].empty()) continue;
      std::memcpy(out, parts[p].data(), parts[p].size());
      ml::StoreLE32(out + 2, uint32_t(req.SearchNumber));
      if (!ctx_.Answer(r, out, parts[p].size(), reach)) {
        ctx_.Note(r, "search stopped after %d parts, over the reply budget", sent);
        return;
      }
      ++sent;
    }
  } catch (const std::exception& e) {
    ctx_.Log.Write(TLogLevel::Warning, "search failed: %s", e.what());
    return;
  }
  ctx_.Note(r, "searched, %d songs, page %u, %d parts sent", total, unsigned(req.Page), sent);
}

void TSearchRole::Lookup(const TRequest& r) {
  ml::TSongLookupRequest req;
  if (!ml::ReadSongLookupRequest(r.Payload, r.Length, req)) return;
  if (!Admit(r)) return;
  ml::TSongLookupReply reply;
  try {
    if (const auto song = ctx_.Catalogue.Lookup(std::string(ml::Trim(ml::GbkToUtf8(req.Name))))) {
      const size_t dot = song->FileName.rfind('.');
      const bool hasExtension = dot != std::string::npos && dot > 0;
      reply.FileName = WireText(hasExtension ? song->FileName.substr(0, dot) : song->FileName);
      reply.Extension = hasExtension ? WireText(song->FileName.substr(dot)) : "";
      reply.Digest = song->Digest;
      reply.FileSize = reply.SizeHeld = int32_t(std::min<int64_t>(song->Size, INT32_MAX));
      reply.BitRateKbps = uint16_t(std::clamp(song->BitrateKbps, 0, 65535));
      reply.DurationSeconds = uint16_t(std::clamp(song->DurationMs / 1000, 0, 65535));
    }
  } catch (const std::exception& e) {
    ctx_.Log.Write(TLogLevel::Warning, "song lookup failed: %s", e.what());
    return;
  }
  const std::vector<uint8_t> out = Written(ml::WriteSongLookupReply, reply);
  if (out.empty() || !ctx_.Answer(r, out.data(), out.size())) return;
  ctx_.Note(r, "looked up a song, %s", reply.FileName.empty() ? "none" : "found");
}

void TSearchRole::Suggest(const TRequest& r) {
  ml::TSuggestRequest req;
  if (!ml::ReadSuggestRequest(r.Payload, r.Length, req)) return;
  if (!Admit(r)) return;
  const TReach reach = ctx_.ReachOf(r, req.UserID);
  struct TScored {
    std::string Word;
    int64_t Searches;
    int32_t Results;
  };
  std::vector<TScored> scored;
  try {
    std::unordered_set<std::string> seen;
    for (TSuggestionCandidate& c : ctx_.Catalogue.SuggestionCandidates(FoldedWireText(req.Text), kMaxSuggestions)) {
      const std::string folded = FoldCase(c.Word);
      if (!seen.insert(folded).second) continue;
      std::unique_lock lock(mutex_);
      const size_t results = Ranked(lock, folded).IDs.size();
      if (results > 0) scored.push_back({WireText(c.Word), c.Searches, int32_t(std::min<size_t>(results, INT32_MAX))});
    }
  } catch (const std::exception& e) {
    ctx_.Log.Write(TLogLevel::Warning, "keyword suggestions failed: %s", e.what());
    return;
  }
  // The most searched first, then those with the most results.
  std::sort(scored.begin(), scored.end(), [](const TScored& a, const TScored& b) {
    return std::tuple(-a.Searches, -int64_t(a.Results), a.Word) < std::tuple(-b.Searches, -int64_t(b.Results), b.Word);
  });
  ml::TSuggestReply reply;
  size_t size = ml::TSuggestReply::FixedSize;
  for (const TScored& s : scored) {
    if (reply.Entries.size() >= kMaxSuggestions || size + 5 + s.Word.size() > ml::Envelope::MaxPayload) break;
    reply.Entries.push_back({s.Word, s.Results});
    size += 5 + s.Word.size();
  }
  const std::vector<uint8_t> out = Written(ml::WriteSuggestReply, reply);
  if (out.empty() || !ctx_.Answer(r, out.data(), out.size(), reach)) return;
  ctx_.Note(r, "suggested %zu words", reply.Entries.size());
}

}  // namespace mlsvc
