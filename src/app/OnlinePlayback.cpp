#include "app/OnlinePlayback.h"

#include "playback/uPlayer.h"
#include "transfer/uDownFile.h"

#include <algorithm>

namespace ml {

uint64_t TJobDownload::ArrivedFrom(uint64_t offset) const {
  return uint64_t(std::max<int64_t>(0, job_->ArrivedFrom(int64_t(std::min<uint64_t>(offset, INT64_MAX)))));
}

int64_t TJobDownload::FileSize() const { return job_->FileSize(); }

bool TJobDownload::Complete() const { return job_->State() == dsComplete; }

std::string TJobDownload::FilePath() const { return Complete() ? job_->DestFileName() : job_->TempFileName(); }

void TJobDownload::SetListenPosition(int64_t bytes) { job_->SetListenPosition(bytes); }

TOnlinePlayback::TOnlinePlayback(Dispatcher& dispatcher, TPlayer& player, std::shared_ptr<IPlayableDownload> download)
    : dispatcher_(dispatcher), player_(player), download_(std::move(download)) {}

TOnlinePlayback::~TOnlinePlayback() { Stop(); }

void TOnlinePlayback::Start() {
  Stop();
  buffer_.Reset();
  opened_ = pausedForData_ = false;
  timer_ = dispatcher_.StartTimer(kTick, [this] { Tick(); });
}

void TOnlinePlayback::Stop() {
  if (timer_) dispatcher_.StopTimer(timer_);
  timer_ = 0;
  download_->SetListenPosition(-1);
}

void TOnlinePlayback::OpenSong() {
  const std::string path = download_->FilePath();
  // A complete song is an ordinary file; one still downloading reads only what has arrived.
  const bool ok = download_->Complete() ? player_.OpenFile(path, false) : player_.OpenDownloading(path, download_);
  if (!ok) {
    // The file moved under us (the download completed between the two questions): next tick.
    buffer_.Reset();
    return;
  }
  opened_ = true;
  player_.Play(0);
}

void TOnlinePlayback::Tick() {
  TOnlinePlayBuffer::TTick t;
  t.Size = download_->FileSize();
  t.Complete = download_->Complete();
  if (!opened_) {
    t.Downloaded = t.Complete ? t.Size : int64_t(download_->ArrivedFrom(0));
    switch (buffer_.Tick(t)) {
      case TOnlinePlayBuffer::TAction::StartPlayback: return OpenSong();
      case TOnlinePlayBuffer::TAction::SkipToNext: if (OnSkipToNext) OnSkipToNext(); return;
      default: return;
    }
  }
  const int32_t durationMs = player_.GetDurationMs();
  t.PlayFraction = durationMs > 0 ? std::clamp(double(player_.GetPositionMs()) / durationMs, 0.0, 1.0) : 0.0;
  const int64_t at = int64_t(t.PlayFraction * double(t.Size));
  download_->SetListenPosition(t.Complete ? -1 : at);
  // Ahead of the play position counts only what can be read from it without a gap.
  t.Downloaded = t.Complete ? t.Size : at + int64_t(download_->ArrivedFrom(uint64_t(at)));
  t.UserPaused = player_.CurPlayState() == psPaused && !pausedForData_;
  switch (buffer_.Tick(t)) {
    case TOnlinePlayBuffer::TAction::Pause:
      pausedForData_ = true;
      player_.Pause();
      break;
    case TOnlinePlayBuffer::TAction::Resume:
      pausedForData_ = false;
      player_.Resume();
      break;
    case TOnlinePlayBuffer::TAction::SkipToNext:
      if (OnSkipToNext) OnSkipToNext();
      break;
    default: break;
  }
}

}  // namespace ml
