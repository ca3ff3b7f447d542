#include "app/MainController.h"

#include "app/AppInfo.h"
#include "app/uSettingMgr.h"
#include "base/Dispatcher.h"
#include "base/FileUtil.h"
#include "base/LRMD5.h"
#include "base/TimeText.h"
#include "lyrics/LRCParse.h"
#include "online/uDownLRC.h"
#include "playback/uPlayer.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <limits>

namespace ml {

namespace {

TPlayListSettings PlayListSettingsOf(const TSettingMgr& s) {
  TPlayListSettings p;
  p.ActivePlayList = s.ActivePlayList;
  p.ActivePlayIndex = s.ActivePlayIndex;
  p.PlayListLoopType = s.PlayListLoopType;
  p.PlayListOrderType = s.PlayListOrderType;
  p.DisableDelFile = s.DisableDelFile;
  p.EnablePlaylistDrag = s.EnablePlaylistDrag;
  return p;
}

// A stable name of an entry for remotes, which must not change while the song plays: the digest
// of a song of the service (its one name), the path of a local file (whose digest comes later).
std::string SongIdOf(const TShareFileInfo& e) {
  return e.Encrypt ? LRMD5::MD5DigestToStr(e.FileHash) : e.FileName;
}

}  // namespace

TMainController::TMainController(const TMainControllerParts& parts)
    : parts_(parts), player_(*parts.Player), settings_(*parts.Settings), view_(*parts.View) {
  playList_ = std::make_unique<TPlayListController>(*parts.Library, *this, PlayListSettingsOf(settings_),
                                                    parts.RandomSeed);
  playList_->OnModeChanged = [this] {
    view_.ShowModes(playList_->LoopMode(), playList_->OrderMode());
    NotifyRemotes();
  };
  ConnectPlayer();
}

TMainController::~TMainController() {
  SetLyricService(nullptr);
  if (tick_) parts_.dispatcher->StopTimer(tick_);
  player_.OnPlayerStateChange = nullptr;
  player_.OnFileFinishPlay = nullptr;
  player_.OnOpenFileError = nullptr;
  player_.OnPlayError = nullptr;
  player_.OnPlayProgress = nullptr;
  player_.OnNewFFTData = nullptr;
}

void TMainController::ConnectPlayer() {
  player_.OnPlayerStateChange = [this](TPlayerModule&, TPlayerState cur, TPlayerState) { OnStateChange(cur); };
  player_.OnFileFinishPlay = [this](TPlayerModule&) { OnFinished(); };
  player_.OnOpenFileError = [this](TPlayerModule&) { OnOpenError(player_.ErrorText()); };
  player_.OnPlayError = [this](TPlayerModule&) {
    view_.ShowInfo(player_.ErrorText().empty() ? parts_.Info->AppSlogan : player_.ErrorText());
  };
  player_.OnPlayProgress = [this](TPlayerModule&, int32_t pos, int32_t dur, double pct) { OnProgress(pos, dur, pct); };
  player_.OnNewFFTData = [this](TPlayerModule&, const float* levels) { view_.ShowSpectrum(levels); };
}

void TMainController::Start() {
  player_.SetVolume(std::clamp(settings_.Volume, 0, 100));
  player_.SetMute(settings_.Mute);
  view_.ShowVolume(player_.Volume());
  view_.ShowMute(player_.Mute());
  view_.ShowModes(playList_->LoopMode(), playList_->OrderMode());
  view_.ShowInfo(parts_.Info->AppSlogan);
  view_.ShowTitle(parts_.Info->AppTitle);
  view_.ShowPlaying(false);
  view_.ShowPlaylist();
  if (settings_.AutoPlay) {
    const auto& songs = playList_->Songs();
    const int index = settings_.ActivePlayIndex;
    if (index >= 0 && size_t(index) < songs.size()) PlayRow(size_t(index));
  }
}

void TMainController::Close() {
  if (tick_) parts_.dispatcher->StopTimer(tick_);
  tick_ = 0;
  player_.Stop();
  const TPlayListSettings p = playList_->SettingsToSave();
  settings_.ActivePlayList = p.ActivePlayList;
  settings_.ActivePlayIndex = p.ActivePlayIndex;
  settings_.PlayListLoopType = p.PlayListLoopType;
  settings_.PlayListOrderType = p.PlayListOrderType;
  settings_.Volume = player_.Volume();
  settings_.Mute = player_.Mute();
}

// ---- commands ---------------------------------------------------------------------------------

void TMainController::Play() {
  if (player_.CurPlayState() == psPaused) {
    player_.Resume();
  } else if (TShareFileInfo* e = playList_->SelectedEntry()) {
    playList_->PlayEntry(playList_->ShownList(), e);
  } else if (playList_->CurrentEntry() && playList_->PlayingList()) {
    playList_->PlayEntry(playList_->PlayingList(), playList_->CurrentEntry());
  } else {
    playList_->PlayEntry(playList_->ShownList(), nullptr);
  }
}

void TMainController::Pause() {
  if (player_.CurPlayState() != psPlaying) return;
  player_.Pause();
  view_.ShowTitle(PlayingTitle(title_, parts_.Info->AppTitle));
}

void TMainController::Stop() {
  playList_->StopPlaying();
  view_.ShowPlaying(false);
  view_.ShowInfo(parts_.Info->AppSlogan);
  view_.ShowRates("", "");
  ClearLyrics();
  view_.ShowSpectrum(nullptr);
  NotifyRemotes();
}

void TMainController::StopRequested() {
  StopOnlinePlay();
  if (tick_) parts_.dispatcher->StopTimer(tick_);
  tick_ = 0;
  stopped_ = true;
  remaining_ = false;
  player_.Stop();
}

void TMainController::PlayNeighbour(bool next) {
  TPlayList* playing = playList_->PlayingList();
  if (!playing) return playList_->PlayEntry(playList_->ShownList(), nullptr);
  if (TShareFileInfo* e = next ? playList_->NextEntry(false) : playList_->PreviousEntry(false))
    playList_->PlayEntry(playing, e);
}

void TMainController::Next() {
  PlayNeighbour(true);
  if (settings_.GlobalHotKeyActionMsg && playing_ && !view_.IsActiveWindow()) {
    char text[512];
    std::snprintf(text, sizeof text, "正在播放歌曲为：%s, 时间：%s", title_.c_str(),
                  FormatTimeText(playing_->Duration / 1000, true).c_str());
    view_.ShowNotice({"迷你琴鸟", text, "", false, 5000});
  }
}

void TMainController::Previous() { PlayNeighbour(false); }

void TMainController::ToggleMute() {
  player_.SetMute(!player_.Mute());
  settings_.Mute = player_.Mute();
  view_.ShowMute(player_.Mute());
  NotifyRemotes();
}

void TMainController::SetVolume(int volume) {
  volume = std::clamp(volume, 0, 100);
  if (volume == player_.Volume()) return;
  player_.SetVolume(volume);
  settings_.Volume = volume;
  view_.ShowVolume(volume);
  NotifyRemotes();
}

void TMainController::SeekReleased(int position) {
  const double fraction = std::clamp(position, 0, kProgressMax) / double(kProgressMax);
  if (!SeekAllowedTo(fraction)) return;
  player_.SeekFraction(float(fraction));
  NotifySeeked(int64_t(std::llround(fraction * player_.GetDurationMs())));
}

void TMainController::SeekToMs(int64_t ms) {
  const int32_t duration = player_.GetDurationMs();
  if (duration <= 0 || ms < 0 || ms > duration) return;
  player_.SeekMs(ms);
  NotifySeeked(ms);
}

TLyricSeekState TMainController::LyricSeekState(int32_t ms) const {
  TLyricSeekState s;
  s.Playing = player_.CurPlayState() == psPlaying;
  s.DragSetsPosition = settings_.DragLRCSetPlayPosition;
  s.Duration = player_.GetDurationMs();
  s.HasLines = parts_.Lyrics && parts_.Lyrics->Count() > 0;
  s.Downloading = Downloading();
  if (s.Downloading && s.Duration > 0) s.PositionDownloaded = SeekAllowedTo(double(ms) / s.Duration);
  return s;
}

void TMainController::AssociateLyricFile(const std::string& path) {
  if (!playing_ || !parts_.Lyrics) return;
  if (path.empty()) {
    parts_.Library->SetLRCFileName(playing_, path);
    ClearLyrics();
    return;
  }
  // A file without a single timed line is no lyric: the one shown before stays, and stays the
  // song's.
  const std::string previous = parts_.Lyrics->Count() > 0 ? parts_.Lyrics->FileName : std::string();
  parts_.Lyrics->LoadFromFile(path);
  if (parts_.Lyrics->Count() == 0) {
    if (!previous.empty()) parts_.Lyrics->LoadFromFile(previous);
    return;
  }
  parts_.Library->SetLRCFileName(playing_, path);
  view_.ShowLyrics(player_.GetDurationMs() > 0 ? player_.GetDurationMs() : playing_->Duration);
}

void TMainController::SetLyricService(TDownLRC* lyrics) {
  if (lyricService_) {
    lyricService_->OnSearchDone = nullptr;
    lyricService_->OnDownloadDone = nullptr;
  }
  lyricService_ = lyrics;
  if (!lyrics) return;
  lyrics->OnSearchDone = [this](const TSearchResult& result) { LyricSearchDone(result); };
  lyrics->OnDownloadDone = [this](int32_t requestID, const std::string& path, int32_t) {
    LyricDownloaded(requestID, path);
  };
}

int32_t TMainController::NewLyricRequest() {
  lyricEntry_ = playing_;
  // Request numbers are positive: the downloader ignores 0 and below.
  if (lyricRequest_ == std::numeric_limits<int32_t>::max()) lyricRequest_ = 0;
  return ++lyricRequest_;
}

std::string TMainController::LyricFolder() const {
  std::string folder = settings_.LRCSavePath;
  if (!folder.empty() && folder.back() != '/') folder += '/';
  return folder;
}

void TMainController::SearchLyricsFor(TShareFileInfo& entry) {
  if (!lyricService_) return;
  lyricService_->SearchBySong(NewLyricRequest(), entry.Caption, entry.Duration);
}

void TMainController::LyricSearchDone(const TSearchResult& result) {
  if (!lyricService_ || result.RequestID != lyricRequest_ || result.Results.empty()) return;
  // With the dialog open the user picks among several hits; a single one is taken at once.
  if (lyricDialogOpen_ && result.Results.size() > 1) return;
  const TLRCResult& first = result.Results.front();
  lyricService_->Download(result.RequestID, first.LyricID, LyricFolder() + TDownLRC::LyricFileName(first));
}

void TMainController::LyricDownloaded(int32_t requestID, const std::string& path) {
  // Only the latest request's lyric, and only while its song still plays. A download the user
  // chose in the dialog is wanted whatever AutoShowLRC says; the automatic search runs only
  // with it set.
  if (requestID != lyricRequest_ || !playing_ || playing_ != lyricEntry_ || stopped_) return;
  AssociateLyricFile(path);
}

void TMainController::ToggleTimeMode() {
  if (stopped_) return;
  remaining_ = !remaining_;
}

void TMainController::SetLoop(int mode) {
  if (mode < 0 || mode > 2) return;
  playList_->SetLoopMode(mode);
  settings_.PlayListLoopType = mode;
}

void TMainController::SetOrder(int mode) {
  if (mode < 0 || mode > 1) return;
  playList_->SetOrderMode(mode);
  settings_.PlayListOrderType = mode;
}

void TMainController::OpenFiles(const std::vector<std::string>& paths, bool playFirst) {
  TShareFileInfo* first = nullptr;
  for (const auto& path : paths) {
    TAddResult r = playList_->AddFile(path, false);
    if (r.Entry && !first) first = r.Entry;
  }
  view_.ShowPlaylist();
  const bool busy = player_.CurPlayState() == psPlaying || player_.CurPlayState() == psPaused;
  if (first && (playFirst || !busy)) playList_->PlayEntry(playList_->ShownList(), first);
}

void TMainController::PlayRow(size_t row) {
  if (row >= playList_->Songs().size()) return;
  playList_->Select({row});
  playList_->PlaySelected();
}

bool TMainController::Playing() const { return player_.CurPlayState() == psPlaying; }
bool TMainController::Paused() const { return player_.CurPlayState() == psPaused; }
int TMainController::Volume() const { return player_.Volume(); }
bool TMainController::Muted() const { return player_.Mute(); }

bool TMainController::RunAction(int action) {
  switch (HotkeyAction(action)) {
    case 1:
      if (Playing()) Pause();
      else Play();
      return true;
    case 2: Previous(); return true;
    case 3: Next(); return true;
    case 4: Stop(); return true;
    case 6: VolumeUp(); return true;
    case 7: VolumeDown(); return true;
    case 8: ToggleMute(); return true;
    default: return false;
  }
}

bool TMainController::ConfirmDeleteFiles(int count) {
  return OnConfirmDeleteFiles && OnConfirmDeleteFiles(count);
}

// ---- playing an entry -------------------------------------------------------------------------

void TMainController::PlayEntryRequested(TShareFileInfo* entry) {
  player_.Stop();
  playing_ = entry;
  if (!entry) return;
  title_ = entry->Caption;
  scrollTitle_ = PlayingTitle(title_, parts_.Info->AppTitle);
  progressReports_ = 0;
  prefetched_ = false;
  stopped_ = false;
  if (!tick_) tick_ = parts_.dispatcher->StartTimer(kTick, [this] { Tick(); });
  ClearLyrics();
  // Without a lyric here the lyric page offers the search (the cleared display shows the link)
  // while the service is asked.
  if (settings_.AutoShowLRC && !LoadLyricsFor(*entry)) SearchLyricsFor(*entry);
  view_.ShowPlaylist();
  if (entry->Encrypt && (entry->FileName.empty() || !FileExists(entry->FileName))) {
    if (!StartOnlinePlay(*entry)) OnOpenError("cannot download " + entry->Caption + " from the service");
    return;
  }
  if (!player_.OpenFile(entry->FileName, false)) {
    // The engine reports what it cannot decode; a file that is not there never reaches it.
    OnOpenError("cannot open " + entry->FileName + ": no such file");
    return;
  }
  player_.Play(0);
  NotifySeeked(0);
  if (parts_.ReportPlayed) parts_.ReportPlayed(entry->Caption);
}

bool TMainController::LoadLyricsFor(TShareFileInfo& entry) {
  if (!parts_.Lyrics) return true;
  std::string path = entry.LRCFileName;
  if (path.empty() || !FileExists(path)) {
    // A lyric of the song's name beside it or in the lyric folder is the song's own: it is
    // associated at once, before anyone asks the service.
    path.clear();
    const std::string folder = std::filesystem::path(entry.FileName).parent_path().string();
    for (const std::string& f : {folder, settings_.LRCSavePath})
      if (path.empty() && !f.empty()) path = TDownLRC::FindLocalLyric(f, entry.Caption);
    if (path.empty()) return false;
    parts_.Library->SetLRCFileName(&entry, path);
  }
  parts_.Lyrics->LoadFromFile(path);
  view_.ShowLyrics(entry.Duration);
  return true;
}

void TMainController::ClearLyrics() {
  if (!parts_.Lyrics) return;
  parts_.Lyrics->ClearLines();
  view_.ShowLyrics(0);
}

// ---- the player's reports ---------------------------------------------------------------------

void TMainController::OnStateChange(int cur) {
  switch (cur) {
    case psPlaying:
      view_.ShowTitle(PlayingTitle(title_, parts_.Info->AppTitle));
      view_.ShowInfo(PlayingInfo(title_, player_.GetDurationMs()));
      view_.ShowPlaying(true);
      break;
    case psPaused:
      view_.ShowPlaying(false);
      break;
    case psOpen: {
      const TPlaybackMediaInfo& info = player_.MediaTagInfo();
      view_.ShowRates(info.BitRate > 0 ? std::to_string(info.BitRate) : "",
                      info.SampleRate > 0 ? std::to_string(info.SampleRate / 1000) : "");
      if (parts_.Lyrics && parts_.Lyrics->Count() > 0) view_.ShowLyrics(player_.GetDurationMs());
      break;
    }
    default:
      view_.ShowTitle(parts_.Info->AppTitle);
      view_.ShowTime(0, 0, remaining_);
      view_.ShowProgress(0, 0);
      view_.ShowPlaying(false);
      break;
  }
  playList_->PlayerStateChanged(cur, player_.GetDurationMs(), nullptr);
  NotifyRemotes();
}

void TMainController::OnFinished() {
  if (playList_->LoopMode() == plSinglePlay) {
    Stop();
    return;
  }
  if (TShareFileInfo* e = playList_->NextEntry(true)) {
    if (e == playList_->ResumeEntry()) playList_->ClearResumeEntry();
    playList_->PlayEntry(playList_->PlayingList(), e);
  } else {
    Stop();
  }
}

void TMainController::OnOpenError(const std::string& why) {
  view_.ShowSpectrum(nullptr);
  ClearLyrics();
  if (!why.empty()) view_.ShowInfo(why);
  // A song that cannot be opened is skipped unless the user asked to stop on errors or plays
  // one song only. The skip goes through the loop so a list of unreadable files does not recurse.
  if (playList_->LoopMode() == plLoopAll && !settings_.AutoStopWhenError)
    parts_.dispatcher->Post([this] { Next(); });
}

void TMainController::OnProgress(int32_t pos, int32_t dur, double pct) {
  view_.ShowTime(pos, dur, remaining_);
  view_.ShowProgress(int(std::lround(kProgressMax * std::clamp(pct, 0.0, 1.0))),
                    download_ ? int(std::lround(DownloadedFraction() * kProgressMax)) : 0);
  if (++progressReports_ % 3 == 0 && settings_.TaskBarScrollText) {
    scrollTitle_ = RotateTitle(scrollTitle_);
    view_.ShowTitle(scrollTitle_);
  }
  if (pct > 0.8 && !prefetched_ && !Downloading()) {
    prefetched_ = true;
    PrefetchNext();
  }
}

void TMainController::PrefetchNext() {
  // The song that follows this one by itself, fetched while this one ends; nothing follows a
  // song played alone.
  if (!parts_.DownloadForPlay || playList_->LoopMode() == plSinglePlay) return;
  TShareFileInfo* next = playList_->NextEntry(true);
  if (!next || next == playing_ || !next->Encrypt || (!next->FileName.empty() && FileExists(next->FileName))) return;
  // The job runs on in the transfer manager; playing the song later finds it there.
  parts_.DownloadForPlay(*next);
}

void TMainController::Tick() {
  if (player_.CurPlayState() == psPlaying && player_.GetDurationMs() > 0)
    view_.ShowLyricPosition(player_.GetPositionMs());
  if (!online_) return;
  const int mark = int(std::lround(DownloadedFraction() * kProgressMax));
  if (!online_->Opened()) view_.ShowProgress(0, mark);
  // While it waits for bytes the information label says how far the buffer has come.
  if (!online_->Buffer().Status().empty()) view_.ShowInfo(online_->Buffer().Status());
  else if (player_.CurPlayState() == psPlaying && online_->Opened()) view_.ShowInfo(PlayingInfo(title_, player_.GetDurationMs()));
}

// ---- songs of the service ---------------------------------------------------------------------

bool TMainController::StartOnlinePlay(TShareFileInfo& entry) {
  if (!parts_.DownloadForPlay) return false;
  download_ = parts_.DownloadForPlay(entry);
  if (!download_) return false;
  online_ = std::make_unique<TOnlinePlayback>(*parts_.dispatcher, player_, download_);
  // Twenty seconds without enough of the song: the next one is played (from the loop, not from
  // inside the glue's own tick).
  online_->OnSkipToNext = [this] { parts_.dispatcher->Post([this] { Next(); }); };
  online_->Start();
  view_.ShowProgress(0, 0);
  return true;
}

void TMainController::StopOnlinePlay() {
  if (online_) online_->Stop();
  online_.reset();
  download_.reset();
}

bool TMainController::Downloading() const { return download_ && !download_->Complete(); }

bool TMainController::SeekAllowedTo(double fraction) const {
  const bool downloading = Downloading();
  return SeekAllowed(downloading, downloading ? download_->FileSize() : 0, DownloadedFraction(), fraction,
                     player_.CurPlayState() == psPlaying);
}

double TMainController::DownloadedFraction() const {
  if (!download_) return 0;
  if (download_->Complete()) return 1;
  const int64_t size = download_->FileSize();
  return size > 0 ? std::min(1.0, double(download_->ArrivedFrom(0)) / double(size)) : 0;
}

// ---- the command line -------------------------------------------------------------------------

void TMainController::ClearPlaylistSelection() {
  playList_->DeselectAll();
  view_.ShowPlaylist();
}

void TMainController::AddFileFromCommandLine(const std::string& path, bool play) {
  TAddResult r = playList_->AddFile(path, play);
  if (!r.Entry) view_.ShowInfo(r.Refusal.empty() ? path : path + ": " + r.Refusal);
  view_.ShowPlaylist();
}

// ---- remotes ----------------------------------------------------------------------------------

TRemoteStatus TMainController::RemoteStatus() const {
  TRemoteStatus s;
  const TPlayerState state = player_.CurPlayState();
  s.Playback = state == psPlaying ? TRemotePlayback::Playing
               : state == psPaused ? TRemotePlayback::Paused
                                   : TRemotePlayback::Stopped;
  if (playing_ && !stopped_) {
    s.SongId = SongIdOf(*playing_);
    s.Title = playing_->Title.empty() ? playing_->Caption : playing_->Title;
    s.Artist = playing_->Artist;
    s.Album = playing_->Album;
    if (!playing_->Encrypt) s.FileName = playing_->FileName;
    s.LengthMs = player_.GetDurationMs() > 0 ? player_.GetDurationMs() : std::max(playing_->Duration, 0);
  }
  s.Volume = player_.Volume();
  s.Muted = player_.Mute();
  s.LoopMode = playList_->LoopMode();
  s.OrderMode = playList_->OrderMode();
  const bool haveSongs = !playList_->Songs().empty() || playList_->PlayingList();
  s.CanGoNext = s.CanGoPrevious = s.CanPlay = haveSongs;
  // The player seeks only while it plays (as the position bar does).
  s.CanSeek = state == psPlaying;
  return s;
}

int64_t TMainController::RemotePositionMs() {
  const TPlayerState state = player_.CurPlayState();
  return state == psPlaying || state == psPaused ? player_.GetPositionMs() : 0;
}

void TMainController::RemotePause() {
  if (Playing()) Pause();
}

void TMainController::RemotePlayPause() {
  if (Playing()) Pause();
  else Play();
}

void TMainController::RemoteSeekTo(int64_t positionMs) {
  if (!Playing()) return;
  SeekToMs(positionMs);
}

void TMainController::RemoteRaise() {
  if (OnRaise) OnRaise();
}

void TMainController::RemoteQuit() {
  if (OnQuit) OnQuit();
}

void TMainController::AddRemoteListener(IPlayerRemoteListener* listener) {
  if (listener && std::find(remotes_.begin(), remotes_.end(), listener) == remotes_.end())
    remotes_.push_back(listener);
}

void TMainController::RemoveRemoteListener(IPlayerRemoteListener* listener) {
  remotes_.erase(std::remove(remotes_.begin(), remotes_.end(), listener), remotes_.end());
}

void TMainController::NotifyRemotes() {
  const TRemoteStatus now = RemoteStatus();
  if (now == lastStatus_) return;
  lastStatus_ = now;
  for (IPlayerRemoteListener* l : std::vector<IPlayerRemoteListener*>(remotes_)) l->RemoteStatusChanged();
}

void TMainController::NotifySeeked(int64_t ms) {
  for (IPlayerRemoteListener* l : std::vector<IPlayerRemoteListener*>(remotes_)) l->RemoteSeeked(ms);
}

}  // namespace ml
