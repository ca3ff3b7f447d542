#include "playback/uPlayerEngine.h"

#include "base/DebugTrace.h"
#include "playback/DecoderRegistry.h"
#include "playback/uPlayer.h"

#include <algorithm>
#include <cstring>

namespace ml {

namespace {

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

TPullResult TPlayerEngine::TSource::Pull(uint8_t* block, uint32_t want) {
  if (!decoder_) return {0, true};
  // Nothing rather than a short read, which a decoder takes for the end of the song: the output
  // plays out its queue and asks again at its next tick.
  const bool starving = decoder_->Starving();
  shared_.Starving = starving;
  if (starving) return {0, false};
  uint32_t n = want;
  // Left open at its end: its position stays there for the progress display; the engine closes
  // it with the next song.
  const bool more = decoder_->Read(block, n);
  if (n == 0) return {0, !more};
  const TDecoderFormat& f = decoder_->CurrentFormat();
  const int channels = f.Channels(), bits = f.BitsPerSample;
  const auto ch = static_cast<TAudioChannel>(shared_.AudioChannel.load());
  if (channels > 1 && ch != TAudioChannel::acStereo) RewriteChannels(block, n, bits, ch);
  shared_.Effects.Process(block, n, 2 * want, f.SampleRate, channels, bits);
  // What is heard, for the spectrum; copied only while someone looks at it.
  if (shared_.VisualEnabled && shared_.VisualWanted && n >= 2048) {
    std::lock_guard lock(shared_.VisualMutex);
    shared_.Visual.assign(block, block + std::min<uint32_t>(n, 8192));
    shared_.VisualChannels = channels;
    shared_.VisualBits = bits;
  }
  return {n, !more};
}

TPlayerEngine::TPlayerEngine(Dispatcher& dispatcher, std::weak_ptr<TPlayer*> player,
                             std::shared_ptr<TEngineShared> shared, TOutputFactoryFn factory,
                             TOutputTarget initialOutput)
    : dispatcher_(dispatcher), player_(std::move(player)), sharedOwner_(std::move(shared)), shared_(*sharedOwner_),
      factory_(std::move(factory)), outputTarget_(std::move(initialOutput)) {
  decoders_ = CreateDecoders();
  output_ = factory_(outputTarget_);
  thread_ = std::thread([this] {
    Run();
    bool orphaned;
    {
      std::lock_guard lock(lifeMutex_);
      finished_ = true;
      orphaned = abandoned_;
      lifeEnded_.notify_all();
    }
    if (orphaned) delete this;  // nobody else holds it any more
  });
}

void TPlayerEngine::Shutdown(std::unique_ptr<TPlayerEngine> engine, std::chrono::milliseconds limit) {
  if (!engine) return;
  TEngineMessage quit;
  quit.Kind = TEngineMsg::Quit;
  engine->Post(std::move(quit));
  std::unique_lock lock(engine->lifeMutex_);
  if (engine->lifeEnded_.wait_for(lock, limit, [&] { return engine->finished_; })) {
    lock.unlock();
    return;  // the thread has ended its work; the destructor joins it
  }
  DebugTrace("engine: still busy in its output after %lld ms; left to end on its own",
             static_cast<long long>(limit.count()));
  engine->abandoned_ = true;
  engine->thread_.detach();
  lock.unlock();
  (void)engine.release();  // from here the engine thread owns it
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
  PostToMain([weak = player_, serial = openSerial_, fn = std::move(fn)] {
    if (auto p = weak.lock())
      if ((*p)->IsCurrentOpen(serial)) fn(**p);
  });
}

void TPlayerEngine::PostToMain(std::function<void()> fn) {
  // The dispatcher may be gone once the engine is cut loose, so the check and the post are one.
  std::lock_guard lock(lifeMutex_);
  if (!abandoned_) dispatcher_.Post(std::move(fn));
}

void TPlayerEngine::PostState(TPlayerState state) {
  std::shared_ptr<TOpenedSong> opened;
  if (const TDecoderModule* d = OpenDecoder(); d && state == psOpen) {
    opened = std::make_shared<TOpenedSong>();
    d->GetFormat(opened->Format);
    opened->DecoderName = d->Name();
    opened->BitRateKbps = d->BitRateKbps();
  }
  PostToPlayer([state, opened](TPlayer& p) { p.OnEngineState(state, opened.get()); });
}

void TPlayerEngine::PublishPosition() {
  // The decoder is ahead of the sound by what the output has queued and not yet played.
  if (TDecoderModule* d = OpenDecoder())
    shared_.PositionMs = std::max<int64_t>(0, int64_t(d->GetPositionMs()) - output_->QueuedMs());
}

void TPlayerEngine::CloseDecoder() {
  if (TDecoderModule* d = OpenDecoder()) d->Close();
  decoderIndex_ = -1;
  source_.Attach(nullptr);
}

void TPlayerEngine::ResetOutput(const TOutputTarget& target) {
  if (output_) {
    output_->SetPaused(true);
    playing_ = false;
    CloseDecoder();
    output_->Stop();
  }
  if (!output_ || !(target == outputTarget_)) {
    output_.reset();
    outputTarget_ = target;
    output_ = factory_(target);
  }
}

void TPlayerEngine::HandleOpen(const TEngineMessage& msg) {
  if (LaterQueued(TEngineMsg::Open)) return;  // superseded by a newer request
  openSerial_ = msg.Serial;
  ResetOutput(msg.Output);
  std::string why;
  decoderIndex_ = OpenWithFirstDecoder(decoders_, msg.FileName, msg.ShareWrite, why, msg.Arrived);
  shared_.Starving = false;
  playing_ = false;
  if (decoderIndex_ < 0) {
    shared_.DurationMs = shared_.SampleRate = shared_.BytesPerSecond = shared_.PositionMs = 0;
    shared_.Serial = openSerial_;
    PostToPlayer([why](TPlayer& p) { p.OnEngineOpenFailed(why); });
    return;
  }
  TDecoderModule& d = *OpenDecoder();
  TDecoderFormat f;
  d.GetFormat(f);
  shared_.DurationMs = f.DurationMs;
  shared_.SampleRate = f.SampleRate;
  shared_.BytesPerSecond = f.SampleRate * f.BlockAlign();
  shared_.PositionMs = 0;
  shared_.Serial = openSerial_;
  source_.Attach(&d);
  shared_.Effects.Reset();
  output_->SetSource(&source_, TWaveFormat::Pcm(f.Channels(), f.SampleRate, f.BitsPerSample));
  if (!output_->HasDevice()) return FailOutput();
  sourceEnded_ = false;
  output_->SetVolume(msg.Mute ? 0 : msg.Volume);
  output_->SetBalance(msg.Balance);
  PostState(psOpen);
}

void TPlayerEngine::FailOutput() {
  const std::string why = output_->LastError();
  CloseDecoder();
  playing_ = false;
  output_->Stop();
  PostToPlayer([why](TPlayer& p) { p.OnEngineOutputFailed(why); });
  PostState(psStopped);
}

void TPlayerEngine::SeekTo(float fraction) {
  OpenDecoder()->Seek(fraction);
  shared_.Effects.Reset();
  output_->Flush();
  PublishPosition();
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
      if (msg.Fraction > 0.0f && msg.Fraction < 1.0f && !sourceEnded_) SeekTo(msg.Fraction);
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
      PostState(psStopped);
      break;
    case TEngineMsg::Seek:
      // A seek while paused or stopped is dropped, as is one overtaken by a newer seek, and one
      // after the song's last block was queued.
      if (!playing_ || LaterQueued(TEngineMsg::Seek) || sourceEnded_ || decoderIndex_ < 0) break;
      SeekTo(msg.Fraction);
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
  for (auto& fn : syncs_) PostToMain(std::move(fn));
  syncs_.clear();
}

void TPlayerEngine::Run() {
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
      if (!sourceEnded_) {
        sourceEnded_ = !output_->FillBuffers();
        // The song just ended: look at once whether the queue has played out.
        if (sourceEnded_) fed_ = true;
      } else if (output_->IsFinished() && !output_->Failed()) {
        playing_ = false;
        output_->SetPaused(true);
        if (decoderIndex_ >= 0) PostToPlayer([](TPlayer& p) { p.OnEngineEndOfSong(); });
      }
      if (output_->Failed()) {
        FailOutput();
      } else {
        PublishPosition();
      }
    } catch (const std::exception& e) {
      DebugTrace("engine: output failed: %s", e.what());
    }
  }
  CloseDecoder();
  if (output_) output_->Stop();
  AnswerSyncs();
}

}  // namespace ml
