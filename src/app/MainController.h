#pragma once
// The main window's controller without the window: it ties the user's commands (buttons, bars,
// hotkeys, the command line, remotes) to the player, the playlists and the lyrics, and tells the
// window what to show through IMainView. Everything runs on the main thread; the player's
// reports arrive as its events there. The Qt window is a thin view: it forwards clicks here and
// draws what it is told.
#include "app/CommandLine.h"
#include "app/MainWindowRules.h"
#include "app/OnlinePlayback.h"
#include "app/PlayerRemote.h"
#include "app/ServicesShell.h"
#include "library/PlayListController.h"
#include "lyrics/LRScrollLRC.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace ml {

class Dispatcher;
class TDownLRC;
class TLRCParse;
class TPlayer;
class TSettingMgr;
struct TAppInfo;
struct TSearchResult;

// What the window shows. Every call carries the whole value, so a view may redraw from it alone.
class IMainView {
public:
  virtual ~IMainView() = default;
  // Pause shown while playing, Play otherwise.
  virtual void ShowPlaying(bool playing) = 0;
  virtual void ShowTitle(const std::string& title) = 0;
  virtual void ShowInfo(const std::string& text) = 0;
  // "128" and "44" (kHz); empty texts clear the labels.
  virtual void ShowRates(const std::string& bitrate, const std::string& sampleRate) = 0;
  // The time display: the position in the song, its length, and whether it shows the time left.
  virtual void ShowTime(int64_t positionMs, int64_t durationMs, bool remaining) = 0;
  // The position bar (0..kProgressMax) and its download mark.
  virtual void ShowProgress(int position, int downloadMark) = 0;
  virtual void ShowMute(bool muted) = 0;
  virtual void ShowVolume(int volume) = 0;
  virtual void ShowModes(int loopMode, int orderMode) = 0;
  // The shown list's songs, selection or playing row changed.
  virtual void ShowPlaylist() = 0;
  // New lyrics were loaded (or cleared): the display starts again with this length.
  virtual void ShowLyrics(int32_t durationMs) = 0;
  virtual void ShowLyricPosition(int32_t ms) = 0;
  // The 512 levels of the spectrum, or nullptr to clear it.
  virtual void ShowSpectrum(const float* levels) = 0;
  virtual void ShowNotice(const TNotice& notice) = 0;
  // Whether the window is the active one (the "now playing" notice is for when it is not).
  virtual bool IsActiveWindow() const = 0;
};

struct TMainControllerParts {
  TPlayer* Player = nullptr;
  TMusicFileMgr* Library = nullptr;
  TSettingMgr* Settings = nullptr;
  const TAppInfo* Info = nullptr;
  Dispatcher* dispatcher = nullptr;
  TLRCParse* Lyrics = nullptr;  // the parser the lyric display shows
  IMainView* View = nullptr;
  uint32_t RandomSeed = 0;      // the random order; 0: from the clock
  // A song of the service without a local copy: its download, started for playing (null when
  // it could not start). None: such songs cannot be played. Also called, its answer dropped, to
  // fetch the next song ahead once the playing one passes 80 %.
  std::function<std::shared_ptr<IPlayableDownload>(TShareFileInfo& entry)> DownloadForPlay;
  // A local song started: the service's usage report of what was played (none: not reported).
  std::function<void(const std::string& caption)> ReportPlayed;
};

class TMainController final : public IPlayListHost, public ICommandLineTarget, public IPlayerRemote {
public:
  static constexpr int kProgressMax = 10000;
  static constexpr Millis kTick{100};
  static constexpr int kVolumeStep = 5;

  explicit TMainController(const TMainControllerParts& parts);
  ~TMainController() override;
  TMainController(const TMainController&) = delete;
  TMainController& operator=(const TMainController&) = delete;

  TPlayListController& PlayList() { return *playList_; }
  // After the window exists: the saved volume, mute and modes are shown, and with AutoPlay the
  // saved song plays.
  void Start();
  // Before the window goes: the player stops, the playlist's place is written to the settings.
  void Close();

  // ---- commands of the window ----
  void Play();
  void Pause();
  void Stop();
  void Next();
  void Previous();
  void ToggleMute();
  void SetVolume(int volume);
  void VolumeUp() { SetVolume(Volume() + kVolumeStep); }
  void VolumeDown() { SetVolume(Volume() - kVolumeStep); }
  // The position bar was let go at `position` (0..kProgressMax).
  void SeekReleased(int position);
  // A click on the time display.
  void ToggleTimeMode();
  void ClickLoopButton() { SetLoop(NextLoopMode(playList_->LoopMode())); }
  void ClickOrderButton() { SetOrder(NextOrderMode(playList_->OrderMode())); }
  // Files chosen in the open dialog, dropped on the window or given by a remote: added to the
  // current list; the first plays unless a song is playing or paused (always with playFirst).
  void OpenFiles(const std::vector<std::string>& paths, bool playFirst = false);
  // A double click on a row of the shown list.
  void PlayRow(size_t row);
  // A lyric drag ended at `ms` (the lyric frame has decided it seeks). The player seeks only
  // while it plays.
  void SeekToMs(int64_t ms);
  // What the lyric frame asks before a drag moves the lyrics or seeks to ms.
  TLyricSeekState LyricSeekState(int32_t ms) const;
  // The playing song's lyric file: a new one is loaded and kept with the song; an empty path
  // drops the association and clears the display.
  void AssociateLyricFile(const std::string& path);

  // The service's lyric search and download (null: none, and before the window goes). A song
  // that starts without a lyric is searched for by its caption and duration when AutoShowLRC is
  // set; the first hit is downloaded into the lyric folder and becomes the song's lyric.
  void SetLyricService(TDownLRC* lyrics);
  // A new lyric request for the playing song (the lyric search dialog's searches count here
  // too): what answers an older one is dropped, and a lyric the current one downloads becomes
  // the song's while it still plays.
  int32_t NewLyricRequest();
  // While the lyric search dialog is open, a search with more than one hit waits for the user.
  void SetLyricDialogOpen(bool open) { lyricDialogOpen_ = open; }
  // Where downloaded lyrics go (the setting LRCSavePath, with a trailing "/").
  std::string LyricFolder() const;

  bool Playing() const;
  bool Paused() const;
  bool ShowsRemaining() const { return remaining_; }
  int Volume() const;
  bool Muted() const;
  TShareFileInfo* PlayingEntry() const { return playing_; }
  // The song playing while it downloads (null when the song is a local file).
  const TOnlinePlayback* OnlinePlay() const { return online_.get(); }

  // Actions of the key map (0..20, and the media keys 1001..1004); false for one the window
  // runs itself (options, mini mode, the lyric window, the playlist's own actions, realign).
  bool RunAction(int action);
  // The raise and quit asks of remotes go to the window.
  std::function<void()> OnRaise, OnQuit;

  // ---- IPlayListHost ----
  void PlayEntryRequested(TShareFileInfo* entry) override;
  // The playlist stops the player before every song it starts, and for the Stop command.
  void StopRequested() override;
  bool ConfirmDeleteFiles(int count) override;
  std::function<bool(int count)> OnConfirmDeleteFiles;

  // ---- ICommandLineTarget ----
  void ClearPlaylistSelection() override;
  void AddFileFromCommandLine(const std::string& path, bool play) override;

  // ---- IPlayerRemote ----
  TRemoteStatus RemoteStatus() const override;
  int64_t RemotePositionMs() override;
  void RemotePlay() override { Play(); }
  void RemotePause() override;
  void RemotePlayPause() override;
  void RemoteStop() override { Stop(); }
  void RemoteNext() override { Next(); }
  void RemotePrevious() override { Previous(); }
  void RemoteSeekTo(int64_t positionMs) override;
  void RemoteSetVolume(int volume) override { SetVolume(volume); }
  void RemoteSetLoopMode(int mode) override { SetLoop(mode); }
  void RemoteSetOrderMode(int mode) override { SetOrder(mode); }
  void RemoteOpen(const std::vector<std::string>& paths) override { OpenFiles(paths, true); }
  void RemoteRaise() override;
  void RemoteQuit() override;
  void AddRemoteListener(IPlayerRemoteListener* listener) override;
  void RemoveRemoteListener(IPlayerRemoteListener* listener) override;

private:
  void ConnectPlayer();
  void OnStateChange(int cur);
  // Next or previous in play order of the list being played (else the shown list's first).
  void PlayNeighbour(bool next);
  void OnFinished();
  void OnOpenError(const std::string& why);
  bool StartOnlinePlay(TShareFileInfo& entry);
  void StopOnlinePlay();
  double DownloadedFraction() const;
  bool Downloading() const;  // a song of the service still arriving
  // Whether a seek to fraction is allowed now (in a song still arriving: only into what has come).
  bool SeekAllowedTo(double fraction) const;
  void OnProgress(int32_t pos, int32_t dur, double pct);
  void Tick();
  // False when the entry has no lyric here (none associated, none beside it or in the folder).
  bool LoadLyricsFor(TShareFileInfo& entry);
  void SearchLyricsFor(TShareFileInfo& entry);
  void LyricSearchDone(const TSearchResult& result);
  void LyricDownloaded(int32_t requestID, const std::string& path);
  void PrefetchNext();
  void ClearLyrics();
  void SetLoop(int mode);
  void SetOrder(int mode);
  void NotifyRemotes();
  void NotifySeeked(int64_t ms);

  TMainControllerParts parts_;
  TPlayer& player_;
  TSettingMgr& settings_;
  IMainView& view_;
  std::unique_ptr<TPlayListController> playList_;
  TShareFileInfo* playing_ = nullptr;
  std::string title_;
  std::string scrollTitle_;
  bool remaining_ = false;
  int progressReports_ = 0;
  bool stopped_ = true;  // Stop was the last word: no song is loaded
  TimerId tick_ = 0;
  std::shared_ptr<IPlayableDownload> download_;
  std::unique_ptr<TOnlinePlayback> online_;
  std::vector<IPlayerRemoteListener*> remotes_;
  TRemoteStatus lastStatus_;
  bool prefetched_ = false;  // the playing song has passed 80 % once
  TDownLRC* lyricService_ = nullptr;
  int32_t lyricRequest_ = 0;
  TShareFileInfo* lyricEntry_ = nullptr;  // the song the current lyric request is for
  bool lyricDialogOpen_ = false;
};

}  // namespace ml
