#include "online/KeywordSuggest.h"

#include "base/GbkText.h"
#include "base/StrUtil.h"
#include "net/LRCmdStream.h"
#include "net/LRUDPClient.h"
#include "net/SearchRecords.h"
#include "net/WireCodes.h"
#include "net/uServerListManager.h"
#include "online/SongSearch.h"
#include "online/uLogin.h"

namespace ml {

TKeywordSuggest::TKeywordSuggest(Dispatcher& dispatcher, TLRUDPClient& udp, const TServerListManager& servers,
                                 const TUserInfo& user)
    : dispatcher_(dispatcher),
      udp_(udp),
      servers_(servers),
      user_(user),
      alive_(std::make_shared<TKeywordSuggest*>(this)),
      thread_([this] { Run(); }) {}

TKeywordSuggest::~TKeywordSuggest() {
  *alive_ = nullptr;
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  changed_.notify_all();
  thread_.join();
}

void TKeywordSuggest::Request(const std::string& text) {
  latest_ = text;
  if (Trim(text).empty()) return;
  {
    std::lock_guard lock(mutex_);
    pending_ = text;
  }
  changed_.notify_all();
}

std::string TKeywordSuggest::SuggestionLine(const TSuggestion& s) {
  std::string digits = std::to_string(s.Results < 0 ? 0 : s.Results);
  for (int at = int(digits.size()) - 3; at > 0; at -= 3) digits.insert(size_t(at), ",");
  return s.Word + "|" + digits + "结果";
}

void TKeywordSuggest::Run() {
  for (;;) {
    std::string text;
    {
      std::unique_lock lock(mutex_);
      changed_.wait(lock, [&] { return stop_ || pending_; });
      if (stop_) return;
      text = std::move(*pending_);
      pending_.reset();
    }
    auto words = Ask(text);
    if (!words) continue;
    dispatcher_.Post([alive = std::weak_ptr<TKeywordSuggest*>(alive_), text, words = std::move(*words)] {
      const auto self = alive.lock();
      if (!self || !*self) return;
      TKeywordSuggest& me = **self;
      if (text == me.latest_ && me.OnSuggestions) me.OnSuggestions(text, words);
    });
  }
}

std::optional<std::vector<TSuggestion>> TKeywordSuggest::Ask(const std::string& text) {
  uint16_t port = 0;
  uint32_t ip = 0;
  // The search server answers the suggestions too.
  if (!servers_.ServerFor(user_.UserID.load(), Cmd::Search, port, ip) || ip == 0 || port == 0) return std::nullopt;
  uint8_t request[1024];
  TCmdStream s;
  s.InitWrite(request, sizeof request);
  if (!WriteSuggestRequest(s, {user_.UserID.load(), SearchTextForWire(text, false)})) return std::nullopt;
  const int32_t requestLength = s.Size();
  uint8_t reply[2048];
  for (int attempt = 0; attempt < Tries; ++attempt) {
    {
      // A newer text makes this one moot: ask that instead of trying again.
      std::lock_guard lock(mutex_);
      if (stop_ || (attempt > 0 && pending_)) return std::nullopt;
    }
    int32_t replyLength = 0;
    if (!udp_.SendWaitTable(ip, port, WaitMs, 0, replyLength, reply, sizeof reply, requestLength, request)) continue;
    TSuggestReply r;
    if (!ReadSuggestReply(reply, size_t(replyLength), r)) return std::nullopt;
    std::vector<TSuggestion> words;
    words.reserve(r.Entries.size());
    for (const TSuggestReply::TEntry& e : r.Entries) words.push_back({GbkToUtf8(e.Word), e.Results});
    return words;
  }
  return std::nullopt;
}

}  // namespace ml
