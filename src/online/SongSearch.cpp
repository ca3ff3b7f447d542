#include "online/SongSearch.h"

#include <algorithm>
#include <cstdio>

#include "base/DebugTrace.h"
#include "base/GbkText.h"
#include "base/StrUtil.h"
#include "base/Version.h"
#include "media/uSongName.h"
#include "net/LRUDPClient.h"
#include "net/SearchRecords.h"
#include "net/uServerListManager.h"
#include "online/uLogin.h"

namespace ml {

namespace {
constexpr int32_t kRecordBuffer = 1024;
constexpr int kMaxParts = TSearchResultPart::MaxParts;
}  // namespace

std::string SearchTextForWire(const std::string& utf8, bool lowerCase) {
  return Utf8ToGbkTruncated(lowerCase ? ToLowerAscii(utf8) : utf8, 255);
}

TSongSearch::TSongSearch(Dispatcher& dispatcher, TSendRequest send, std::function<int32_t()> userID)
    : dispatcher_(dispatcher), send_(std::move(send)), userID_(std::move(userID)) {}

TSongSearch::~TSongSearch() { StopTimer(); }

std::string TSongSearch::StatusText() const {
  switch (state_) {
    case TSearchState::Searching: return "正在搜索...";
    case TSearchState::Finished: return "搜索结束";
    case TSearchState::TimedOut: return "搜索超时";
    case TSearchState::Idle: break;
  }
  return {};
}

void TSongSearch::Search(const std::string& keyword, int32_t page) {
  rows_.clear();
  if (page >= 0) page_ = page;
  if (keyword != keyword_) pageCount_ = 0;
  keyword_ = keyword;
  partsReceived_ = 0;
  total_ = first_ = 0;
  rowsExpected_ = 0;
  rowsReceived_ = 0;
  resends_ = 0;
  state_ = TSearchState::Searching;
  Changed();
  // The search number tells this page's parts from the late parts of any search before it; it
  // never takes 0, which the parts of no search carry.
  searchNumber_ = searchNumber_ == INT32_MAX ? 1 : searchNumber_ + 1;
  SendRequest(TSearchRequest::AllParts);
  RestartTimer();
}

void TSongSearch::SendRequest(uint32_t partsWanted) {
  TSearchRequest r;
  r.SearchNumber = searchNumber_;
  r.ProgramVersion = ProgramVersion;
  r.UserID = userID_ ? userID_() : 0;
  r.Keyword = SearchTextForWire(keyword_, false);
  r.Page = uint16_t(std::clamp(page_, 0, 65535));
  r.PartsWanted = partsWanted;
  uint8_t buffer[kRecordBuffer];
  TCmdStream s;
  s.InitWrite(buffer, sizeof buffer);
  // Without a server the search still runs its course and ends as timed out.
  if (WriteSearchRequest(s, r) && send_) send_(buffer, s.Size());
}

void TSongSearch::Resend() {
  StopTimer();
  if (resends_ < MaxResends) {
    ++resends_;
    const uint32_t wanted = ~partsReceived_;
    DebugTrace("重新发送搜索请求 %s, %d,%x", keyword_.c_str(), page_, wanted);
    SendRequest(wanted);
    RestartTimer();
  } else {
    state_ = TSearchState::TimedOut;
    Changed();
  }
}

void TSongSearch::RestartTimer() {
  StopTimer();
  timer_ = dispatcher_.StartTimer(ResendInterval, [this] { Resend(); });
}

void TSongSearch::StopTimer() {
  if (timer_) dispatcher_.StopTimer(timer_);
  timer_ = 0;
}

void TSongSearch::ShowResultPart(const uint8_t* record, int32_t length) {
  TSearchResultPart part;
  if (length <= 0 || !ReadSearchResultPart(record, size_t(length), part)) return;
  if (part.SearchNumber == 0 || part.SearchNumber != searchNumber_ || state_ == TSearchState::Finished) return;
  if (part.Total < 0) return;
  total_ = part.Total;
  if (part.Total == 0) {
    pageCount_ = 1;
    page_ = 0;
    prevEnabled_ = nextEnabled_ = false;
    Finish();
    return;
  }
  rowsExpected_ = part.PageRows;
  first_ = part.First;
  prevEnabled_ = part.First > 1;
  nextEnabled_ = int64_t(part.First) + part.PageRows < part.Total;
  // The parts set has 32 bits: a part number beyond it cannot be one of this page's.
  if (part.Part >= kMaxParts) return;
  const uint32_t bit = uint32_t(1) << part.Part;
  if (partsReceived_ & bit) return;

  // The page size follows from where this page starts; the first page (or a server that puts a
  // later first number on page 0) gives it as the page's own row count.
  const int64_t pageSize = part.First == 1 || page_ <= 0 ? part.PageRows : (int64_t(part.First) - 1) / page_;
  pageCount_ = pageSize > 0 ? int32_t(std::min<int64_t>((part.Total + pageSize - 1) / pageSize, INT32_MAX)) : 1;

  partsReceived_ |= bit;
  rowsReceived_ += int32_t(part.Rows.size());
  for (TSearchRow& row : part.Rows) {
    TSearchResultInfo info;
    info.Name = GbkToUtf8(row.Name);
    info.Digest.v = row.Digest;
    info.Sources = row.Sources;
    info.Size = row.Size;
    info.DurationSeconds = row.DurationSeconds;
    info.Artist = GbkToUtf8(row.Artist);
    rows_.push_back(std::move(info));
  }
  if (rowsReceived_ == rowsExpected_) {
    Finish();
  } else {
    Changed();
  }
}

void TSongSearch::Finish() {
  StopTimer();
  state_ = TSearchState::Finished;
  Changed();
  if (OnFinished) OnFinished(keyword_);
}

void TSongSearch::Changed() {
  if (OnChanged) OnChanged();
}

TPageStrip TSongSearch::MakePageStrip(int32_t pageCount, int32_t current, int32_t width) {
  TPageStrip strip;
  if (pageCount <= 0 || current < 0) return strip;
  int64_t start = int64_t(current) - 2;
  if (start + width > pageCount) start = int64_t(pageCount) - width;
  if (start < 0) start = 0;
  strip.First = int32_t(start + 1);
  strip.Last = int32_t(std::min<int64_t>(start + width, pageCount));
  strip.Current = current + 1;
  return strip;
}

std::string TSongSearch::SizeText(int64_t size) {
  char text[32];
  if (size > 1073741824LL) {
    std::snprintf(text, sizeof text, "%5.2f GB", double(size) / 1073741824.0);
  } else {
    std::snprintf(text, sizeof text, "%5.2f MB", double(size) / 1048576.0);
  }
  return text;
}

namespace {
// Each line's upper limit; the fifth has none of its own, so a figure above 1000 shows six lines.
constexpr int32_t kLineLimits[] = {5, 50, 200, 1000};
constexpr uint32_t kLineColors[] = {0x002CFF, 0x008FFF, 0x01C7E7, 0x00CC99, 0x00CC66, 0x009900};
}  // namespace

int TSongSearch::AvailabilityLines(int32_t sources) {
  for (int i = 0; i < int(std::size(kLineLimits)); ++i)
    if (sources <= kLineLimits[i]) return i + 1;
  return 6;
}

uint32_t TSongSearch::AvailabilityColor(int line) {
  return line >= 0 && line < int(std::size(kLineColors)) ? kLineColors[line] : 0;
}

std::vector<std::string> TSongSearch::RelatedKeywords(const std::string& name) {
  // The name is a file name: its extension is no search word.
  std::string caption = name;
  if (const size_t dot = caption.rfind('.'); dot != std::string::npos && caption.find('/', dot) == std::string::npos)
    caption.resize(dot);
  TSongNameParts parts;
  ParseSongName(caption, parts);
  return RelatedSearchWords(parts);
}

TSongSearch::TSendRequest SearchSender(TLRUDPClient& udp, const TServerListManager& servers, const TUserInfo& user) {
  return [&udp, &servers, &user](const uint8_t* record, int32_t length) {
    uint16_t port = 0;
    uint32_t ip = 0;
    if (!servers.ServerFor(user.UserID.load(), 14, port, ip) || ip == 0 || port == 0) return false;
    return udp.SendKeyed(ip, port, 0, 0, length, record);
  };
}

TUsageReporter::TUsageReporter(TLRUDPClient& udp, const TServerListManager& servers, const TUserInfo& user,
                               int editionCode)
    : udp_(udp), servers_(servers), user_(user), editionCode_(editionCode) {}

void TUsageReporter::SetPartner(uint32_t ip, uint16_t port) {
  partnerIP_ = ip;
  partnerPort_ = port;
}

bool TUsageReporter::SendUsageReport(const std::string& text, uint16_t kind) {
  try {
    TUsageReport report{kind, SearchTextForWire(text, true)};
    uint8_t buffer[kRecordBuffer];
    TCmdStream s;
    s.InitWrite(buffer, sizeof buffer);
    if (!WriteUsageReport(s, report)) return false;
    bool sent = false;
    uint16_t port = 0;
    uint32_t ip = 0;
    if (servers_.ServerFor(user_.UserID.load(), 12, port, ip) && ip != 0 && port != 0)
      sent = udp_.SendKeyed(ip, port, 0, 0, s.Size(), buffer);
    if (editionCode_ == 1 && partnerIP_ != 0 && partnerPort_ != 0) {
      // The partner service has codes of its own: 4 for a keyword, 5 for a song, then the text.
      s.InitWrite(buffer, sizeof buffer);
      s.WriteWord(kind == TUsageReport::KeywordSearched ? Cmd::PartnerReportKeyword : Cmd::PartnerReportSong);
      s.WriteShortString(report.Text);
      sent = udp_.SendPlain(partnerIP_, partnerPort_, 0, 0, s.Size(), buffer) || sent;
    }
    return sent;
  } catch (...) {
    // A report is worth nothing to the user; losing it must never disturb what they do.
    return false;
  }
}

}  // namespace ml
