#include "playback/uPlayer.h"

#include "media/uTagInfo.h"
#include "playback/uOutputModuleFactory.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <stdexcept>
#include <sys/stat.h>

namespace ml {

std::string FormatTimeText(int64_t seconds, bool shortForm) {
  if (seconds < 0) return "";
  const int64_t m = seconds / 60, s = seconds % 60;
  char buf[32];
  if (shortForm)
    std::snprintf(buf, sizeof buf, "%.1d:%.2d", int(m), int(s));
  else if (m >= 100)
    std::snprintf(buf, sizeof buf, "%.3d:%.2d", int(m), int(s));
  else
    std::snprintf(buf, sizeof buf, "%.2d:%.2d", int(m), int(s));
  return buf;
}

namespace {

float ClampFraction(float f) {
  if (!(f >= 0.0f)) return 0.0f;  // NaN too
  return std::min(f, 1.0f);
}

}  // namespace

namespace {
Dispatcher& DispatcherOrMain(Dispatcher* d) {
  if (!d) d = MainDispatcher();
  if (!d) throw std::logic_error("TPlayer needs the main thread's dispatcher");
  return *d;
}
}  // namespace

TPlayer::TPlayer(Dispatcher* dispatcher, TOutputFactoryFn factory)
    : Dispatcher_(DispatcherOrMain(dispatcher)), Self_(std::make_shared<TPlayer*>(this)) {
  if (!factory) factory = [](const TOutputTarget& target) { return TOutputModuleFactory::Create(target); };
  Output_ = {TOutputKind::Pulse, ""};
  Engine_ = std::make_unique<TPlayerEngine>(Dispatcher_, Self_, Shared_, std::move(factory), Output_);
}

TPlayer::~TPlayer() {
  StopProgress();
  Self_.reset();  // events still queued for us are dropped
  TPlayerEngine::Shutdown(std::move(Engine_), kEngineQuitLimit);
}

void TPlayer::PostVolume() {
  TEngineMessage m;
  m.Kind = TEngineMsg::Volume;
  m.Volume = Volume_;
  m.Balance = Balance_;
  m.Mute = Mute_;
  Engine_->Post(std::move(m));
}

void TPlayer::SetVolume(int value) {
  Volume_ = std::clamp(value, 0, 100);
  PostVolume();
}

void TPlayer::SetBalance(int value) {
  Balance_ = std::clamp(value, 0, 100);
  PostVolume();
}

void TPlayer::SetMute(bool mute) {
  Mute_ = mute;
  PostVolume();
}

void TPlayer::SetAudioChannel(TAudioChannel channel) {
  AudioChannel_ = channel;
  Shared_->AudioChannel = static_cast<int>(channel);
}

bool TPlayer::SetOutputDevice(int kind, int index) {
  Output_ = TOutputModuleFactory::TargetFor(kind, index);
  return true;
}

void TPlayer::GetDeviceNames(std::vector<std::string>& names, int kind) const {
  if (kind != 0 && kind != 1) return;
  for (const TOutputDevice& d : FindOutput(static_cast<TOutputKind>(kind))->Devices()) names.push_back(d.Description);
}

bool TPlayer::OpenFile(const std::string& fileName, bool shareWrite) {
  MediaTagInfo_ = {};
  struct stat st {};
  if (::stat(fileName.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  MediaTagInfo_.FileSize = static_cast<uint64_t>(st.st_size);
  // The tags come from the tag readers; the decoder refines the technical fields once it opens.
  TMediaInfo tags;
  if (ReadMediaInfo(fileName, tags)) {
    MediaTagInfo_.SampleRate = tags.SampleRate;
    MediaTagInfo_.BitRate = tags.Bitrate;
    MediaTagInfo_.Duration = tags.Duration;
    MediaTagInfo_.Channels = tags.Channels;
    MediaTagInfo_.Title = tags.Title;
    MediaTagInfo_.Artist = tags.Artist;
    MediaTagInfo_.Album = tags.Album;
    MediaTagInfo_.Year = tags.Year;
    MediaTagInfo_.Genre = tags.Genre;
    MediaTagInfo_.Track = tags.Track ? std::to_string(tags.Track) : std::string();
    MediaTagInfo_.Comment = tags.Comment;
  }
  HalfReached_ = false;
  FileName_ = fileName;
  TEngineMessage m;
  m.Kind = TEngineMsg::Open;
  m.Serial = ++OpenSerial_;
  m.FileName = fileName;
  m.ShareWrite = shareWrite;
  m.Output = Output_;
  m.Volume = Volume_;
  m.Balance = Balance_;
  m.Mute = Mute_;
  Engine_->Post(std::move(m));
  return true;
}

bool TPlayer::Play(float startFraction) {
  TEngineMessage m;
  m.Kind = TEngineMsg::Play;
  m.Fraction = ClampFraction(startFraction);
  Engine_->Post(std::move(m));
  StartProgress();
  return true;
}

bool TPlayer::Stop() {
  TEngineMessage m;
  m.Kind = TEngineMsg::Stop;
  Engine_->Post(std::move(m));
  StopProgress();
  return true;
}

bool TPlayer::Pause() {
  TEngineMessage m;
  m.Kind = TEngineMsg::Pause;
  Engine_->Post(std::move(m));
  StopProgress();
  return true;
}

bool TPlayer::Resume() { return Play(0.0f); }

void TPlayer::Sync(std::function<void()> fn) {
  TEngineMessage m;
  m.Kind = TEngineMsg::Sync;
  m.Done = std::move(fn);
  Engine_->Post(std::move(m));
}

void TPlayer::SeekFraction(float fraction) {
  TEngineMessage m;
  m.Kind = TEngineMsg::Seek;
  m.Fraction = ClampFraction(fraction);
  Engine_->Post(std::move(m));
}

void TPlayer::SeekMs(int64_t positionMs) {
  const int32_t duration = GetDurationMs();
  if (duration <= 0) return;  // nothing to seek in
  SeekFraction(static_cast<float>(double(positionMs) / duration));
}

int32_t TPlayer::GetPositionMs() {
  const int32_t pos = Current(Shared_->PositionMs);
  if (OnPlayingMiddle && !HalfReached_) {
    const int32_t half = static_cast<int32_t>(std::lround(GetDurationMs() / 2.0));
    if (pos > half) {
      HalfReached_ = true;
      OnPlayingMiddle(*this);
    }
  }
  return pos;
}

double TPlayer::GetProgress() {
  const int32_t d = GetDurationMs();
  if (d < 1) return 0.0;
  return double(GetPositionMs()) / d;
}

std::string TPlayer::GetDurationText() const { return FormatTimeText(GetDurationMs() / 1000); }

std::string TPlayer::GetPositionText() { return FormatTimeText(GetPositionMs() / 1000); }

bool TPlayer::GetVisualData(std::vector<uint8_t>& data, int& channels, int& bits) {
  std::lock_guard lock(Shared_->VisualMutex);
  if (Shared_->Visual.empty()) return false;
  data = Shared_->Visual;
  channels = Shared_->VisualChannels;
  bits = Shared_->VisualBits;
  return true;
}

void TPlayer::StartProgress() {
  if (ProgressTimer_) return;
  ProgressTimer_ = Dispatcher_.StartTimer(Millis(50), [this] { ProgressTick(); });
}

void TPlayer::StopProgress() {
  if (!ProgressTimer_) return;
  Dispatcher_.StopTimer(ProgressTimer_);
  ProgressTimer_ = 0;
}

void TPlayer::ProgressTick() {
  const Millis now = Dispatcher_.Clock().Now();
  if (now - LastProgress_ < Millis(100) || !OnPlayProgress) return;
  const int32_t pos = GetPositionMs(), dur = GetDurationMs();
  LastProgress_ = now;
  OnPlayProgress(*this, pos, dur, dur > 0 ? double(pos) / dur : 0.0);
}

void TPlayer::OnEngineState(TPlayerState state, const TOpenedSong* opened) {
  if (opened) {
    MediaTagInfo_.SampleRate = opened->Format.SampleRate;
    MediaTagInfo_.BitRate = opened->BitRateKbps;
    MediaTagInfo_.Duration = opened->Format.DurationMs;
    MediaTagInfo_.Channels = opened->Format.Channels();
    MediaTagInfo_.BitsPerSample = opened->Format.BitsPerSample;
    MediaTagInfo_.Format = opened->DecoderName;
  }
  OldState_ = CurState_;
  CurState_ = state;
  if (OnPlayerStateChange) OnPlayerStateChange(*this, CurState_, OldState_);
}

void TPlayer::OnEngineEndOfSong() {
  if (OnFileFinishPlay) OnFileFinishPlay(*this);
}

void TPlayer::OnEngineOpenFailed(const std::string& why) {
  ErrorText_ = why;
  if (OnOpenFileError) OnOpenFileError(*this);
  MediaTagInfo_ = {};
}

void TPlayer::OnEngineOutputFailed(const std::string& why) {
  ErrorText_ = why;
  if (OnPlayError) OnPlayError(*this);
}

}  // namespace ml
