#pragma once
// The song search as the result view sees it, without the view: one keyword, one page at a time.
// A page's request goes out once without waiting; the service answers with one or more result
// parts (command 14), each handed to ShowResultPart on the main thread. Parts still missing after
// 2 s are asked for again with the complement of those received, at most three times.
//
// Also here: what a view draws from a row (size text, availability bars), the page strip, the
// related search words of a row, and the usage report that tells the service what was searched
// or played.
#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "base/Clock.h"
#include "base/Dispatcher.h"
#include "base/LRMD5.h"

namespace ml {

class TLRUDPClient;
class TServerListManager;
class TUserInfo;

// One result row, owned by the search.
struct TSearchResultInfo {
  std::string Name;  // a file name with its extension
  TMD5Digest Digest;
  int32_t Sources = 0;  // how many places hold the file
  int32_t Size = 0;     // bytes
  uint16_t DurationSeconds = 0;
  std::string Artist;
};

enum class TSearchState { Idle, Searching, Finished, TimedOut };

// The page numbers a strip shows: First..Last (1-based) with Current marked; empty when Last < First.
struct TPageStrip {
  int32_t First = 1, Last = 0, Current = 0;
};

class TSongSearch {
public:
  static constexpr int32_t PageStripWidth = 5;
  static constexpr Millis ResendInterval{2000};
  static constexpr int32_t MaxResends = 3;
  // Sends one search request record; false when it could not go out (no server for the search).
  using TSendRequest = std::function<bool(const uint8_t* record, int32_t length)>;

  // Runs on dispatcher's main thread: its timers resend.
  TSongSearch(Dispatcher& dispatcher, TSendRequest send, std::function<int32_t()> userID);
  ~TSongSearch();
  TSongSearch(const TSongSearch&) = delete;
  TSongSearch& operator=(const TSongSearch&) = delete;

  // Starts a search for keyword (UTF-8), or shows another page of it; page < 0 keeps the current
  // page. A new search abandons the one before: its late parts are ignored.
  void Search(const std::string& keyword, int32_t page);
  void PreviousPage() { Search(keyword_, page_ - 1); }
  void NextPage() { Search(keyword_, page_ + 1); }
  // One result datagram's record (the command record, from its command word on).
  void ShowResultPart(const uint8_t* record, int32_t length);

  const std::string& Keyword() const { return keyword_; }
  int32_t SearchNumber() const { return searchNumber_; }
  int32_t Page() const { return page_; }
  int32_t PageCount() const { return pageCount_; }
  uint32_t PartsReceived() const { return partsReceived_; }
  int32_t RowsExpected() const { return rowsExpected_; }
  int32_t Resends() const { return resends_; }
  int32_t Total() const { return total_; }
  // The 1-based number of the page's first song, as the service numbered it.
  int32_t First() const { return first_; }
  TSearchState State() const { return state_; }
  // "正在搜索...", "搜索结束", "搜索超时", or empty before the first search.
  std::string StatusText() const;
  bool PreviousEnabled() const { return prevEnabled_; }
  bool NextEnabled() const { return nextEnabled_; }
  TPageStrip Strip() const { return MakePageStrip(pageCount_, page_, PageStripWidth); }
  const std::vector<TSearchResultInfo>& Rows() const { return rows_; }

  // Rows arrived, a page was started, or the state changed.
  std::function<void()> OnChanged;
  // Every announced row of the page arrived: the keyword, for the main window to keep.
  std::function<void(const std::string& keyword)> OnFinished;

  // The strip around current (0-based page index) of a list of pageCount pages, width numbers wide.
  static TPageStrip MakePageStrip(int32_t pageCount, int32_t current, int32_t width);
  // "%5.2f MB", or "%5.2f GB" above 1 GiB.
  static std::string SizeText(int64_t size);
  // Lines of the availability bar (1 to 6) and the colour of line i (0..5, 0xBBGGRR).
  static int AvailabilityLines(int32_t sources);
  static uint32_t AvailabilityColor(int line);
  // Up to four related search words from a row's name.
  static std::vector<std::string> RelatedKeywords(const std::string& name);

private:
  void SendRequest(uint32_t partsWanted);
  void Resend();
  void RestartTimer();
  void StopTimer();
  void Finish();
  void Changed();

  Dispatcher& dispatcher_;
  TSendRequest send_;
  std::function<int32_t()> userID_;
  std::string keyword_;
  int32_t searchNumber_ = 0;
  int32_t page_ = -1;
  int32_t pageCount_ = 0;
  uint32_t partsReceived_ = 0;
  int32_t rowsExpected_ = 0;
  int32_t rowsReceived_ = 0;
  int32_t resends_ = 0;
  int32_t total_ = 0;
  int32_t first_ = 0;
  bool prevEnabled_ = false, nextEnabled_ = false;
  TSearchState state_ = TSearchState::Idle;
  TimerId timer_ = 0;
  std::vector<TSearchResultInfo> rows_;
};

// The search request's sender over the real client: the search server the server list names
// for the user, a keyed envelope. No server: false.
TSongSearch::TSendRequest SearchSender(TLRUDPClient& udp, const TServerListManager& servers, const TUserInfo& user);

// What the service is told about a search or a played song (command 12), and, in the partner
// edition, the partner service's copy.
class TUsageReporter {
public:
  TUsageReporter(TLRUDPClient& udp, const TServerListManager& servers, const TUserInfo& user, int editionCode = 0);
  // The partner service's address (network order) and port from the login; 0: none.
  void SetPartner(uint32_t ip, uint16_t port);
  // kind: TUsageReport::SongPlayed or KeywordSearched. Never waits, never throws; false when
  // nothing could be sent.
  bool SendUsageReport(const std::string& text, uint16_t kind);

private:
  TLRUDPClient& udp_;
  const TServerListManager& servers_;
  const TUserInfo& user_;
  int editionCode_;
  uint32_t partnerIP_ = 0;
  uint16_t partnerPort_ = 0;
};

// The lower-case GBK form of text cut to at most 255 bytes at a character boundary: what a
// keyword or a report carries.
std::string SearchTextForWire(const std::string& utf8, bool lowerCase);

}  // namespace ml
