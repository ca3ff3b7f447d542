#pragma once
// TDownLRC: the lyric search and download without their windows. One search and one download
// are tracked at a time; starting another replaces the one before, and late answers are told
// apart by their request and lyric numbers. Requests go out once without waiting; a one-second
// timer sends again after 2 s without an answer, three times, and then gives up (timed out).
//
// It runs on a dispatcher's main thread: its timer is a dispatcher timer, and the answers (29
// and 30) are handed to TakeSearchReply and TakeLyricPart on that thread by whoever routes them
// (the UDP worker waits meanwhile, as for the search results).
//
// The lyric is written only once every part has arrived, to a temporary file renamed over the
// target, so an existing lyric survives a download that never completes.
#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "base/Clock.h"
#include "base/Dispatcher.h"

namespace ml {

class TLRUDPClient;
class TServerListManager;
class TUserInfo;

struct TLRCResult {
  int32_t LyricID = 0;
  std::string Title, Singer;  // UTF-8
};

struct TSearchResult {
  int32_t RequestID = 0;
  std::string Text;  // the query: the song name, or singer + "-" + song
  std::vector<TLRCResult> Results;
};

enum class TLyricState : uint8_t { Idle = 0, Running = 1, TimedOut = 2, Done = 255 };

class TDownLRC {
public:
  static constexpr Millis RetryInterval{2000};
  static constexpr int32_t MaxRetries = 3;
  static constexpr size_t MaxSongNameBytes = 128;  // GBK
  static constexpr size_t MinLyricBytes = 21;      // a download of fewer bytes is never written
  // Sends a request record (29, 129 or 30); false when it could not go out.
  using TSendRequest = std::function<bool(const uint8_t* record, int32_t length)>;

  TDownLRC(Dispatcher& dispatcher, TSendRequest send);
  ~TDownLRC();
  TDownLRC(const TDownLRC&) = delete;
  TDownLRC& operator=(const TDownLRC&) = delete;

  // Ignored when requestID <= 0, or the name is empty or over MaxSongNameBytes as GBK.
  void SearchBySong(int32_t requestID, const std::string& songName, int32_t durationMs);
  // Ignored when requestID <= 0; the singer may be empty.
  void SearchBySingerAndSong(int32_t requestID, const std::string& singer, const std::string& song);
  void Download(int32_t requestID, int32_t lyricID, const std::string& path);

  // The answers, as records from their command word on.
  void TakeSearchReply(const uint8_t* record, int32_t length);
  void TakeLyricPart(const uint8_t* record, int32_t length);

  // The loop its timer and events run on; a client's own timers (the dialog's countdown) belong
  // there too.
  Dispatcher& GetDispatcher() const { return dispatcher_; }

  TLyricState SearchState() const { return searchState_; }
  TLyricState DownloadState() const { return downloadState_; }
  // Requests sent again so far for the current search or download.
  int32_t SearchRetries() const { return searchRetries_; }
  int32_t DownloadRetries() const { return downloadRetries_; }

  std::function<void(int32_t requestID, const std::string& text)> OnSearchBegan;
  std::function<void(const TSearchResult& result)> OnSearchDone;
  std::function<void(int32_t requestID, const std::string& text)> OnSearchTimedOut;
  std::function<void(int32_t requestID, int32_t lyricID)> OnDownloadBegan;
  std::function<void(int32_t requestID, const std::string& path, int32_t lyricID)> OnDownloadDone;
  std::function<void(int32_t requestID, int32_t lyricID)> OnDownloadTimedOut;
  // The complete lyric could not be written (the reason); the previous file is untouched.
  std::function<void(int32_t requestID, const std::string& error)> OnDownloadFailed;

  // The file name a hit is saved under: "singer - title.lrc", or "title.lrc" without a singer,
  // made safe for a file name.
  static std::string LyricFileName(const TLRCResult& hit);
  // A lyric already in folder for a caption, before the service is asked: "singer - song.lrc"
  // as the caption parser finds them, else the caption itself with ".lrc", compared without
  // case. Empty when there is none.
  static std::string FindLocalLyric(const std::string& folder, const std::string& caption);

private:
  void StartSearch(int32_t requestID, std::vector<uint8_t> record, const std::string& text);
  void Tick();
  void UpdateTimer();

  Dispatcher& dispatcher_;
  TSendRequest send_;
  TimerId timer_ = 0;

  // The running search.
  int32_t searchID_ = 0;
  std::string searchText_;
  std::vector<uint8_t> searchRecord_;
  Millis searchSent_{};
  int32_t searchRetries_ = 0;
  TLyricState searchState_ = TLyricState::Idle;

  // The running download: the parts in their places, a mask of those still missing.
  int32_t downloadID_ = 0, lyricID_ = 0;
  std::string path_;
  std::vector<uint8_t> downloadRecord_;
  std::array<std::string, 16> parts_;
  uint32_t missing_ = 0;
  bool maskSet_ = false;
  Millis downloadSent_{};
  int32_t downloadRetries_ = 0;
  TLyricState downloadState_ = TLyricState::Idle;
};

// The lyric requests' sender over the real client: the lyric server the server list names for
// the request's command, a keyed envelope. No server: false.
TDownLRC::TSendRequest LyricSender(TLRUDPClient& udp, const TServerListManager& servers, const TUserInfo& user);

}  // namespace ml
