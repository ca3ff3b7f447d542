#pragma once
// Playing a song while it downloads. Every 100 ms the glue reads how far the download has come
// ahead of the play position, lets TOnlinePlayBuffer decide (start, pause, resume, give up),
// and tells the download where the player is, so the blocks just ahead of it come first.
//
// The player reads the download's temporary file through its file descriptor, clipped to what
// has arrived (the file is made at full size first, so its size says nothing): a read that
// would meet missing bytes waits in the engine instead of ending the song. When the download
// completes it renames the temporary file into place; the open descriptor goes on reading the
// same bytes, so the song plays on without a gap and without being opened again.
#include "app/MainWindowRules.h"
#include "base/Dispatcher.h"
#include "media/MediaSource.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace ml {

class TDownFile;
class TPlayer;

// What the player needs of a song's download. ArrivedFrom (any thread): the bytes present
// without a gap from an offset.
class IPlayableDownload : public IArrivedBytes {
public:
  virtual int64_t FileSize() const = 0;  // 0 while unknown
  // Verified and moved to its place.
  virtual bool Complete() const = 0;
  // Where the bytes are now: the temporary file while downloading, the final one after.
  virtual std::string FilePath() const = 0;
  // The player's place in the file (-1: none), for the download to fetch what comes next first.
  virtual void SetListenPosition(int64_t bytes) = 0;
};

// A download job of the transfer manager as the player sees it.
class TJobDownload final : public IPlayableDownload {
public:
  explicit TJobDownload(std::shared_ptr<TDownFile> job) : job_(std::move(job)) {}
  uint64_t ArrivedFrom(uint64_t offset) const override;
  int64_t FileSize() const override;
  bool Complete() const override;
  std::string FilePath() const override;
  void SetListenPosition(int64_t bytes) override;

private:
  std::shared_ptr<TDownFile> job_;
};

class TOnlinePlayback {
public:
  static constexpr Millis kTick{100};

  // The player and the dispatcher outlive this object.
  TOnlinePlayback(Dispatcher& dispatcher, TPlayer& player, std::shared_ptr<IPlayableDownload> download);
  ~TOnlinePlayback();
  TOnlinePlayback(const TOnlinePlayback&) = delete;
  TOnlinePlayback& operator=(const TOnlinePlayback&) = delete;

  // Waits for the song's first bytes; it starts once enough has come (a short song: once whole).
  void Start();
  // Stops watching; the player is left as it is.
  void Stop();

  const TOnlinePlayBuffer& Buffer() const { return buffer_; }
  bool Opened() const { return opened_; }
  // Waited 20 s in vain: the front end plays the next song.
  std::function<void()> OnSkipToNext;

private:
  void Tick();
  void OpenSong();

  Dispatcher& dispatcher_;
  TPlayer& player_;
  std::shared_ptr<IPlayableDownload> download_;
  TOnlinePlayBuffer buffer_;
  TimerId timer_ = 0;
  bool opened_ = false;
  bool pausedForData_ = false;  // the glue paused the player, not the user
};

}  // namespace ml
