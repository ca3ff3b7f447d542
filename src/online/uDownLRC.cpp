#include "online/uDownLRC.h"

#include <filesystem>
#include <system_error>

#include "base/FileUtil.h"
#include "base/GbkText.h"
#include "base/StrUtil.h"
#include "media/uSongName.h"
#include "net/LRUDPClient.h"
#include "net/LyricRecords.h"
#include "net/uServerListManager.h"
#include "online/uLogin.h"

namespace ml {

namespace {

template <class T>
std::vector<uint8_t> Record(bool (*write)(TCmdStream&, const T&), const T& record) {
  std::vector<uint8_t> bytes(Envelope::MaxPayload);
  TCmdStream s;
  s.InitWrite(bytes.data(), int32_t(bytes.size()));
  if (!write(s, record)) return {};
  bytes.resize(size_t(s.Size()));
  return bytes;
}

}  // namespace

TDownLRC::TDownLRC(Dispatcher& dispatcher, TSendRequest send) : dispatcher_(dispatcher), send_(std::move(send)) {}

TDownLRC::~TDownLRC() {
  if (timer_) dispatcher_.StopTimer(timer_);
}

void TDownLRC::SearchBySong(int32_t requestID, const std::string& songName, int32_t durationMs) {
  const std::string name = Utf8ToGbk(songName);
  if (requestID <= 0 || name.empty() || name.size() > MaxSongNameBytes) return;
  StartSearch(requestID, Record(WriteLyricSearchRequest, TLyricSearchRequest{requestID, name, durationMs}), songName);
}

void TDownLRC::SearchBySingerAndSong(int32_t requestID, const std::string& singer, const std::string& song) {
  if (requestID <= 0) return;
  const auto record = Record(WriteLyricArtistSearchRequest,
                             TLyricArtistSearchRequest{requestID, Utf8ToGbkTruncated(singer, 255),
                                                       Utf8ToGbkTruncated(song, 255)});
  StartSearch(requestID, record, singer + "-" + song);
}

void TDownLRC::StartSearch(int32_t requestID, std::vector<uint8_t> record, const std::string& text) {
  searchID_ = requestID;
  searchText_ = text;
  searchRecord_ = std::move(record);
  searchSent_ = dispatcher_.Clock().Now();
  searchRetries_ = 0;
  searchState_ = TLyricState::Running;
  UpdateTimer();
  if (OnSearchBegan) OnSearchBegan(requestID, text);
  send_(searchRecord_.data(), int32_t(searchRecord_.size()));
}

void TDownLRC::Download(int32_t requestID, int32_t lyricID, const std::string& path) {
  downloadID_ = requestID;
  lyricID_ = lyricID;
  path_ = path;
  parts_ = {};
  missing_ = 0;
  maskSet_ = false;
  downloadRecord_ = Record(WriteLyricDownloadRequest, TLyricDownloadRequest{requestID, lyricID});
  downloadSent_ = dispatcher_.Clock().Now();
  downloadRetries_ = 0;
  downloadState_ = TLyricState::Running;
  UpdateTimer();
  if (OnDownloadBegan) OnDownloadBegan(requestID, lyricID);
  send_(downloadRecord_.data(), int32_t(downloadRecord_.size()));
}

void TDownLRC::TakeSearchReply(const uint8_t* record, int32_t length) {
  TLyricSearchReply reply;
  if (searchState_ != TLyricState::Running || length <= 0 || !ReadLyricSearchReply(record, size_t(length), reply) ||
      reply.RequestID != searchID_)
    return;
  searchState_ = TLyricState::Done;
  UpdateTimer();
  TSearchResult result{searchID_, searchText_, {}};
  for (const TLyricHit& h : reply.Hits) result.Results.push_back({h.LyricID, GbkToUtf8(h.Title), GbkToUtf8(h.Singer)});
  if (OnSearchDone) OnSearchDone(result);
}

void TDownLRC::TakeLyricPart(const uint8_t* record, int32_t length) {
  TLyricPart part;
  if (downloadState_ != TLyricState::Running || length <= 0 || !ReadLyricPart(record, size_t(length), part) ||
      part.RequestID != downloadID_ || part.LyricID != lyricID_)
    return;
  if (!maskSet_) {
    missing_ = (1u << part.PartCount) - 1;
    maskSet_ = true;
  }
  // A part outside the mask the first part set up (another count) cannot belong to this lyric.
  if (!(missing_ >> part.PartIndex & 1)) return;
  parts_[part.PartIndex] = std::move(part.Data);
  missing_ &= ~(1u << part.PartIndex);
  if (missing_ != 0) return;
  std::string lyric;
  for (const std::string& p : parts_) lyric += p;
  if (lyric.size() < MinLyricBytes) return;  // never written; the retries run out
  downloadState_ = TLyricState::Done;
  UpdateTimer();
  std::string error;
  const std::string folder = std::filesystem::path(path_).parent_path().string();
  if ((!folder.empty() && !EnsureDirectory(folder)) || !WriteFileAtomic(path_, lyric, 0644, &error)) {
    if (OnDownloadFailed) OnDownloadFailed(downloadID_, error.empty() ? "cannot create " + folder : error);
    return;
  }
  if (OnDownloadDone) OnDownloadDone(downloadID_, path_, lyricID_);
}

void TDownLRC::UpdateTimer() {
  const bool running = searchState_ == TLyricState::Running || downloadState_ == TLyricState::Running;
  if (running && !timer_) timer_ = dispatcher_.StartTimer(Millis(1000), [this] { Tick(); });
  if (!running && timer_) {
    dispatcher_.StopTimer(timer_);
    timer_ = 0;
  }
}

void TDownLRC::Tick() {
  const Millis now = dispatcher_.Clock().Now();
  if (searchState_ == TLyricState::Running && now - searchSent_ > RetryInterval) {
    if (searchRetries_ >= MaxRetries) {
      searchState_ = TLyricState::TimedOut;
      if (OnSearchTimedOut) OnSearchTimedOut(searchID_, searchText_);
    } else {
      ++searchRetries_;
      searchSent_ = now;
      send_(searchRecord_.data(), int32_t(searchRecord_.size()));
    }
  }
  if (downloadState_ == TLyricState::Running && now - downloadSent_ > RetryInterval) {
    if (downloadRetries_ >= MaxRetries) {
      downloadState_ = TLyricState::TimedOut;
      if (OnDownloadTimedOut) OnDownloadTimedOut(downloadID_, lyricID_);
    } else {
      ++downloadRetries_;
      downloadSent_ = now;
      send_(downloadRecord_.data(), int32_t(downloadRecord_.size()));
    }
  }
  UpdateTimer();
}

std::string TDownLRC::LyricFileName(const TLRCResult& hit) {
  return MakeSafeFileName(hit.Singer.empty() ? hit.Title + ".lrc" : hit.Singer + " - " + hit.Title + ".lrc");
}

std::string TDownLRC::FindLocalLyric(const std::string& folder, const std::string& caption) {
  TSongNameParts parts;
  ParseSongName(caption, parts);
  std::string singer, song;
  LyricSearchNames(parts, singer, song);
  std::vector<std::string> names;
  if (!song.empty()) names.push_back(MakeSafeFileName(singer.empty() ? song + ".lrc" : singer + " - " + song + ".lrc"));
  names.push_back(MakeSafeFileName(caption + ".lrc"));
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
    if (!entry.is_regular_file(ec)) continue;
    const std::string name = entry.path().filename().string();
    for (const std::string& wanted : names)
      if (EqualsNoCase(name, wanted)) return entry.path().string();
  }
  return {};
}

TDownLRC::TSendRequest LyricSender(TLRUDPClient& udp, const TServerListManager& servers, const TUserInfo& user) {
  return [&udp, &servers, &user](const uint8_t* record, int32_t length) {
    if (length < 2) return false;
    // The lyric server is the one named for 29 for both searches, and for 30 for a download.
    const uint16_t code = record[0] == Cmd::LyricDownload ? Cmd::LyricDownload : Cmd::LyricSearch;
    uint16_t port = 0;
    uint32_t ip = 0;
    if (!servers.ServerFor(user.UserID.load(), code, port, ip) || ip == 0 || port == 0) return false;
    return udp.SendKeyed(ip, port, 0, 0, length, record);
  };
}

}  // namespace ml
