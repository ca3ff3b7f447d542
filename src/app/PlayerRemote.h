#pragma once
// What a remote control of the player may read and ask: the desktop's media-player bus interface
// (media keys, desktop widgets, command-line controllers) and the global hotkeys. The main
// window's controller implements it on the main thread; remotes call it there too.
#include <cstdint>
#include <string>
#include <vector>

namespace ml {

enum class TRemotePlayback { Stopped, Playing, Paused };

// The song being played (or about to be) and the player's state, as a remote shows them.
struct TRemoteStatus {
  TRemotePlayback Playback = TRemotePlayback::Stopped;
  // A stable name of the song while it is the current one; empty when there is none.
  std::string SongId;
  std::string Title, Artist, Album;
  std::string FileName;  // a local path; empty for a song that only exists on the service
  std::string ArtUrl;    // "file://..." where a picture is known, else empty
  int64_t LengthMs = 0;  // 0 while unknown
  int Volume = 100;      // 0..100
  bool Muted = false;
  int LoopMode = 0;   // 0 loop all, 1 play one song, 2 repeat one
  int OrderMode = 0;  // 0 sequential, 1 random
  bool CanGoNext = false, CanGoPrevious = false, CanSeek = false, CanPlay = false;
  bool operator==(const TRemoteStatus&) const = default;
};

class IPlayerRemoteListener {
public:
  virtual ~IPlayerRemoteListener() = default;
  // Something in the status changed (the remote compares what it needs).
  virtual void RemoteStatusChanged() = 0;
  // The position jumped (a seek, or a new song started at 0).
  virtual void RemoteSeeked(int64_t positionMs) = 0;
};

class IPlayerRemote {
public:
  virtual ~IPlayerRemote() = default;
  virtual TRemoteStatus RemoteStatus() const = 0;
  virtual int64_t RemotePositionMs() = 0;

  virtual void RemotePlay() = 0;
  virtual void RemotePause() = 0;
  virtual void RemotePlayPause() = 0;
  virtual void RemoteStop() = 0;
  virtual void RemoteNext() = 0;
  virtual void RemotePrevious() = 0;
  // To an absolute position in the current song; ignored when it cannot seek or the position is
  // outside the song.
  virtual void RemoteSeekTo(int64_t positionMs) = 0;
  virtual void RemoteSetVolume(int volume) = 0;  // clamped to 0..100
  virtual void RemoteSetLoopMode(int mode) = 0;
  virtual void RemoteSetOrderMode(int mode) = 0;
  // Adds the files to the current playlist and plays the first (an "open this" from outside).
  virtual void RemoteOpen(const std::vector<std::string>& paths) = 0;
  virtual void RemoteRaise() = 0;  // bring the main window up
  virtual void RemoteQuit() = 0;   // close the player

  virtual void AddRemoteListener(IPlayerRemoteListener* listener) = 0;
  virtual void RemoveRemoteListener(IPlayerRemoteListener* listener) = 0;
};

}  // namespace ml
