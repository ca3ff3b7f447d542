#pragma once
// Keyword suggestions while the user types in the search box: the latest text is asked of the
// search server (command 80) by a thread of its own, so the box never waits, and what comes back
// is delivered on the main thread. Texts typed while a request runs replace each other: only the
// newest is asked next, and an answer to a text that has since been replaced is not delivered.
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "base/Dispatcher.h"

namespace ml {

class TLRUDPClient;
class TServerListManager;
class TUserInfo;

struct TSuggestion {
  std::string Word;     // UTF-8
  int32_t Results = 0;  // songs the word finds
  bool operator==(const TSuggestion&) const = default;
};

class TKeywordSuggest {
public:
  static constexpr int32_t WaitMs = 1500;
  static constexpr int Tries = 2;

  // Asks the server the server list names for the search (14) for the user; results go to the
  // dispatcher's thread. The client, the list and the user outlive this object.
  TKeywordSuggest(Dispatcher& dispatcher, TLRUDPClient& udp, const TServerListManager& servers, const TUserInfo& user);
  // Stops the thread; a delivery still queued is dropped.
  ~TKeywordSuggest();
  TKeywordSuggest(const TKeywordSuggest&) = delete;
  TKeywordSuggest& operator=(const TKeywordSuggest&) = delete;

  // The search box's text changed (main thread). An empty or blank text asks nothing.
  void Request(const std::string& text);

  // The words for text, best first (an empty list when the server knew none); on the main
  // thread, only while text is still the latest asked for. No answer: nothing is delivered.
  std::function<void(const std::string& text, const std::vector<TSuggestion>& words)> OnSuggestions;

  // One line of the suggestion list: the word, "|", the count with thousands separators and "结果".
  static std::string SuggestionLine(const TSuggestion& s);

private:
  void Run();
  // The server's words for text; nothing when it did not answer or the answer was damaged.
  std::optional<std::vector<TSuggestion>> Ask(const std::string& text);

  Dispatcher& dispatcher_;
  TLRUDPClient& udp_;
  const TServerListManager& servers_;
  const TUserInfo& user_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::optional<std::string> pending_;
  std::string latest_;  // main thread: the last text requested
  bool stop_ = false;
  // Deliveries hold this weakly: one that runs after the object has gone does nothing.
  std::shared_ptr<TKeywordSuggest*> alive_;
  std::thread thread_;
};

}  // namespace ml
