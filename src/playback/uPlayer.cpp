#include "playback/uPlayer.h"

#include "media/uTagInfo.h"

#include "base/DebugTrace.h"
#include "base/FileUtil.h"
#include "playback/uMPEGDecoder.h"
#include "playback/uSoundDeviceEnum.h"
#include "playback/uWAVDecoder.h"

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

// With one channel chosen, both speakers carry it: acLeft copies each frame's right sample over
// its left one, acRight the left over the right.
void RewriteChannels(uint8_t* block, uint32_t length, int bits, TAudioChannel channel) {
  const int bytes = bits / 8;
  if (bytes <= 0) return;
  const uint32_t frame = 2u * bytes;
  for (uint32_t at = 0; at + frame <= length; at += frame) {
    uint8_t* left = block + at;
    uint8_t* right = left + bytes;
    if (channel == TAudioChannel::acLeft)
      std::memmove(left, right, size_t(bytes));
    else
      std::memmove(right, left, size_t(bytes));
  }
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Engine

TPlayerEngine::TPlayerEngine(Dispatcher& dispatcher, std::weak_ptr<TPlayer*> player, TEngineShared& shared,
                             TOutputFactoryFn factory, TOutputTarget initialOutput)
    : dispatcher_(dispatcher), player_(std::move(player)), shared_(shared), factory_(std::move(factory)),
      outputTarget_(std::move(initialOutput)) {
  decoders_[kMPEG] = std::make_unique<TMPEGDecoder>();
  decoders_[kWAV] = std::make_unique<TWAVDecoder>();
  output_ = factory_(outputTarget_);
  thread_ = std::thread([this] { Run(); });
}

TPlayerEngine::~TPlayerEngine() {
  TEngineMessage quit;
  quit.Kind = TEngineMsg::Quit;
  Post(std::move(quit));
  if (thread_.joinable()) thread_.join();
}

void TPlayerEngine::Post(TEngineMessage msg) {
  {
    std::lock_guard lock(queueMutex_);
    queue_.push_back(std::move(msg));
  }
  wait_.Signal(kMessageBit);
}

bool TPlayerEngine::NextMessage(TEngineMessage& msg) {
  std::lock_guard lock(queueMutex_);
  if (queue_.empty()) return false;
  msg = std::move(queue_.front());
  queue_.pop_front();
  return true;
}

bool TPlayerEngine::LaterQueued(TEngineMsg kind) {
  std::lock_guard lock(queueMutex_);
  return std::any_of(queue_.begin(), queue_.end(), [kind](const TEngineMessage& m) { return m.Kind == kind; });
}

void TPlayerEngine::PostToPlayer(std::function<void(TPlayer&)> fn) {
  dispatcher_.post([weak = player_, fn = std::move(fn)] {
    if (auto p = weak.lock()) fn(**p);
  });
}

void TPlayerEngine::PostState(TPlayerState state) {
  TDecoderFormat format;
  std::string name;
  const bool withFormat = state == psOpen && decoderIndex_ >= 0;
  if (withFormat) {
    decoders_[decoderIndex_]->GetFormat(format);
    name = decoderIndex_ == kMPEG ? "MPEG" : decoderIndex_ == kWAV ? "WAV" : "";
  }
  PostToPlayer([state, format, name, withFormat](TPlayer& p) {
    p.OnEngineState(state, withFormat ? &format : nullptr, name);
  });
}

void TPlayerEngine::PublishPosition() {
  if (decoderIndex_ >= 0) shared_.PositionMs = decoders_[decoderIndex_]->GetPositionMs();
}

int TPlayerEngine::DecoderForExtension(const std::string& fileName) {
  const auto dot = fileName.find_last_of('.');
  const auto slash = fileName.find_last_of('/');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return -1;
  std::string ext = fileName.substr(dot);
  std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return char(std::tolower(c)); });
  if (ext == ".mp3" || ext == ".mp2" || ext == ".mp1" || ext == ".mpga") return kMPEG;
  if (ext == ".wma") return kWMA;
  if (ext == ".wav") return kWAV;
  return -1;
}

int TPlayerEngine::ChooseDecoder(const std::string& fileName, bool shareWrite) {
  const int first = DecoderForExtension(fileName);
  if (first >= 0 && decoders_[first]) {
    if (decoders_[first]->Open(fileName, shareWrite)) return first;
    decoders_[first]->Close();
  }
  for (int i = 0; i < kDecoderCount; ++i) {
    if (i == first || !decoders_[i]) continue;
    if (decoders_[i]->Open(fileName, shareWrite)) return i;
    decoders_[i]->Close();
  }
  return -1;
}

void TPlayerEngine::CloseDecoder() {
  if (decoderIndex_ >= 0) decoders_[decoderIndex_]->Close();
  decoderIndex_ = -1;
}

void TPlayerEngine::ResetOutput(const TOutputTarget& target) {
  if (output_) {
    output_->SetPaused(true);
    playing_ = false;
    CloseDecoder();
    output_->Stop();
    output_->Decoder = nullptr;
  }
  if (!output_ || !(target == outputTarget_)) {
    output_.reset();
    outputTarget_ = target;
    output_ = factory_(target);
  }
  output_->Notify = &outputEvent_;
}

void TPlayerEngine::HandleOpen(const TEngineMessage& msg) {
  if (LaterQueued(TEngineMsg::Open)) return;  // superseded by a newer request
  ResetOutput(msg.Output);
  decoderIndex_ = ChooseDecoder(msg.FileName, msg.ShareWrite);
  playing_ = false;
  if (decoderIndex_ < 0) {
    shared_.DurationMs = shared_.SampleRate = shared_.BytesPerSecond = shared_.PositionMs = 0;
    PostToPlayer([](TPlayer& p) { p.OnEngineOpenFailed(); });
    return;
  }
  TDecoderModule& d = *decoders_[decoderIndex_];
  TDecoderFormat f;
  d.GetFormat(f);
  shared_.DurationMs = f.DurationMs;
  shared_.SampleRate = f.SampleRate;
  shared_.BytesPerSecond = f.SampleRate * f.BlockAlign();
  shared_.PositionMs = 0;
  output_->ProcessCallback = &TPlayerEngine::ProcessBlock;
  output_->ProcessData = &shared_;
  output_->SetDecoder(&d);
  output_->SetVolume(msg.Mute ? 0 : msg.Volume);
  output_->SetBalance(msg.Balance);
  PostState(psOpen);
}

void TPlayerEngine::Handle(const TEngineMessage& msg) {
  switch (msg.Kind) {
    case TEngineMsg::Open:
      HandleOpen(msg);
      break;
    case TEngineMsg::Play:
      // Nothing open (never opened, stopped, or the open failed): nothing to play.
      if (decoderIndex_ < 0) break;
      if (!playing_) {
        playing_ = true;
        fed_ = true;
      }
      if (msg.Fraction > 0.0f && msg.Fraction < 1.0f && output_->Decoder) {
        output_->Decoder->Seek(msg.Fraction);
        output_->Flush();
        PublishPosition();
      }
      output_->SetPaused(false);
      PostState(psPlaying);
      break;
    case TEngineMsg::Pause:
      if (playing_) {
        output_->SetPaused(true);
        playing_ = false;
      }
      PostState(psPaused);
      break;
    case TEngineMsg::Stop:
      CloseDecoder();
      playing_ = false;
      // Stopping releases the device whether or not it was playing.
      output_->Stop();
      output_->Decoder = nullptr;
      PostState(psStopped);
      break;
    case TEngineMsg::Seek:
      // A seek while paused or stopped is dropped, as is one overtaken by a newer seek.
      if (!playing_ || LaterQueued(TEngineMsg::Seek) || !output_->Decoder) break;
      output_->Decoder->Seek(msg.Fraction);
      output_->Flush();
      PublishPosition();
      fed_ = true;
      break;
    case TEngineMsg::Volume:
      output_->SetVolume(msg.Mute ? 0 : msg.Volume);
      output_->SetBalance(msg.Balance);
      break;
    case TEngineMsg::Quit:
      quit_ = true;
      break;
    case TEngineMsg::Sync:
      if (msg.Done) syncs_.push_back(msg.Done);
      break;
  }
}

void TPlayerEngine::AnswerSyncs() {
  for (auto& fn : syncs_) dispatcher_.post(std::move(fn));
  syncs_.clear();
}

void TPlayerEngine::Run() {
  output_->Notify = &outputEvent_;
  while (!quit_) {
    TEngineMessage msg;
    while (!quit_ && NextMessage(msg)) {
      try {
        Handle(msg);
      } catch (const std::exception& e) {
        DebugTrace("engine: message %#x failed: %s", unsigned(msg.Kind), e.what());
      }
    }
    if (quit_) break;
    if (!playing_) {
      AnswerSyncs();
      wait_.Wait(kMessageBit, std::chrono::milliseconds(1000));
      continue;
    }
    if (!fed_ && !wait_.Take(kOutputBit)) {
      // Nothing from the output is pending, so whatever woke us before has been acted on.
      AnswerSyncs();
      // Sleep until the output has room or a request comes; never spin.
      const unsigned got = wait_.Wait(kMessageBit | kOutputBit, std::chrono::milliseconds(1000));
      if (!(got & kOutputBit)) continue;
    }
    fed_ = false;
    struct Answer {
      TPlayerEngine* e;
      ~Answer() { e->AnswerSyncs(); }
    } answer{this};
    try {
      if (output_->Decoder) {
        output_->FillBuffers();
        PublishPosition();
        // The decoder just ended: look at once whether the queue has played out.
        if (!output_->Decoder) fed_ = true;
      } else if (output_->IsFinished()) {
        playing_ = false;
        output_->SetPaused(true);
        if (decoderIndex_ >= 0) PostToPlayer([](TPlayer& p) { p.OnEngineEndOfSong(); });
      }
    } catch (const std::exception& e) {
      DebugTrace("engine: output failed: %s", e.what());
    }
  }
  CloseDecoder();
  if (output_) output_->Stop();
  AnswerSyncs();
}

void TPlayerEngine::ProcessBlock(void* data, TOutputModule*, uint8_t* block, int sampleRate, int channels, int bits,
                                 uint32_t* length) {
  auto& shared = *static_cast<TEngineShared*>(data);
  if (shared.VisualEnabled && *length >= 2048) {
    std::lock_guard lock(shared.VisualMutex);
    shared.Visual.assign(block, block + std::min<uint32_t>(*length, 8192));
    shared.VisualChannels = channels;
    shared.VisualBits = bits;
  }
  const auto ch = static_cast<TAudioChannel>(shared.AudioChannel.load());
  if (channels > 1 && ch != TAudioChannel::acStereo) RewriteChannels(block, *length, bits, ch);
  shared.Effects.Process(block, *length, sampleRate, channels, bits);
}

// ---------------------------------------------------------------------------------------------
// Player

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
  Engine_.reset();
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
  Shared_.AudioChannel = static_cast<int>(channel);
}

bool TPlayer::SetOutputDevice(int kind, int index) {
  Output_ = TOutputModuleFactory::TargetFor(kind, index);
  return true;
}

void TPlayer::GetDeviceNames(std::vector<std::string>& names, int kind) const {
  if (kind == 0)
    for (const auto& d : DSDeviceList()) names.push_back(d.Description);
  else if (kind == 1)
    for (const auto& d : WaveOutDeviceList()) names.push_back(d.Description);
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
  const int32_t pos = Shared_.PositionMs;
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
  std::lock_guard lock(Shared_.VisualMutex);
  if (Shared_.Visual.empty()) return false;
  data = Shared_.Visual;
  channels = Shared_.VisualChannels;
  bits = Shared_.VisualBits;
  return true;
}

void TPlayer::StartProgress() {
  if (ProgressTimer_) return;
  ProgressTimer_ = Dispatcher_.startTimer(Millis(50), [this] { ProgressTick(); });
}

void TPlayer::StopProgress() {
  if (!ProgressTimer_) return;
  Dispatcher_.stopTimer(ProgressTimer_);
  ProgressTimer_ = 0;
}

void TPlayer::ProgressTick() {
  const Millis now = Dispatcher_.clock().now();
  if (now - LastProgress_ < Millis(100) || !OnPlayProgress) return;
  const int32_t pos = GetPositionMs(), dur = GetDurationMs();
  LastProgress_ = now;
  OnPlayProgress(*this, pos, dur, dur > 0 ? double(pos) / dur : 0.0);
}

void TPlayer::OnEngineState(TPlayerState state, const TDecoderFormat* format, const std::string& decoderName) {
  if (format) {
    MediaTagInfo_.SampleRate = format->SampleRate;
    MediaTagInfo_.BitRate = format->Rate;
    if (decoderName == "WAV") MediaTagInfo_.BitRate = format->Rate * 8 / 1000;
    MediaTagInfo_.Duration = format->DurationMs;
    MediaTagInfo_.Channels = format->Channels();
    MediaTagInfo_.BitsPerSample = format->BitsPerSample;
    MediaTagInfo_.Format = decoderName;
  }
  OldState_ = CurState_;
  CurState_ = state;
  if (OnPlayerStateChange) OnPlayerStateChange(*this, CurState_, OldState_);
}

void TPlayer::OnEngineEndOfSong() {
  if (OnFileFinishPlay) OnFileFinishPlay(*this);
}

void TPlayer::OnEngineOpenFailed() {
  if (OnOpenFileError) OnOpenFileError(*this);
  MediaTagInfo_ = {};
}

}  // namespace ml
