#include "playback/uPlayer.h"

#include "media/uTagInfo.h"
#include "playback/uOutputModuleFactory.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <stdexcept>
#include <sys/stat.h>
#include <type_traits>

namespace ml {

namespace {

float ClampFraction(float f) {
  if (!(f >= 0.0f)) return 0.0f;  // NaN too
  return std::min(f, 1.0f);
}

}  // namespace

namespace {

// The effect chain's stages over the player's effects. Each holds its effect, so an engine that
// outlives the player still has what it runs.
template <class TEffect>
class TEffectStageOf final : public TEffectStage {
public:
  explicit TEffectStageOf(std::shared_ptr<TEffect> effect) : effect_(std::move(effect)) {}
  void Process(uint8_t* block, uint32_t& length, uint32_t, int, int channels, int bits) override {
    effect_->Process(block, length, false, channels, bits);
  }
  void Reset() override {
    if constexpr (std::is_same_v<TEffect, TDCEqualizer>) effect_->ResetOverlap();
  }

private:
  std::shared_ptr<TEffect> effect_;
};

class TDSPPluginStage final : public TEffectStage {
public:
  explicit TDSPPluginStage(std::shared_ptr<TDSPThreadedPluginList> list) : list_(std::move(list)) {}
  void Process(uint8_t* block, uint32_t& length, uint32_t capacity, int sampleRate, int channels, int bits) override {
    length = list_->ProcessBuffer(block, length, capacity, false, sampleRate, channels, bits);
  }

private:
  std::shared_ptr<TDSPThreadedPluginList> list_;
};

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
  // The effects start switched off; the equalizer works on 2048-point transforms in chunks of
  // 2048 frames, the spectrum on every third frame with a display range of 0..60.
  Equalizer_->SetFFTSize(TDCFFTSize::fts2048);
  Equalizer_->SampleSize = 2048;
  Spectrum_.UsePlayerSettings();
  Spectrum_.OnSpectrumData = [this](const int32_t* data, int32_t, int32_t, int, int) {
    std::array<float, SpectrumLevelCount> levels;
    SpectrumLevels(data, levels);
    if (OnNewFFTData) OnNewFFTData(*this, levels.data());
  };
  std::weak_ptr<TPlayer*> self = Self_;
  Dispatcher* main = &Dispatcher_;
  DSPPlugins_->OnPluginDropped = [self, main](const std::string& message) {
    main->Post([self, message] {
      if (auto p = self.lock(); p && (*p)->OnDSPPluginDropped) (*p)->OnDSPPluginDropped(**p, message);
    });
  };
  Shared_->Effects.SetStage(TEffectSlot::Amplifier, std::make_shared<TEffectStageOf<TDCAmplify>>(Amplify_));
  Shared_->Effects.SetStage(TEffectSlot::Equalizer, std::make_shared<TEffectStageOf<TDCEqualizer>>(Equalizer_));
  Shared_->Effects.SetStage(TEffectSlot::Sound3D, std::make_shared<TEffectStageOf<TDCSound3D>>(Sound3D_));
  Shared_->Effects.SetStage(TEffectSlot::DSPPlugins, std::make_shared<TDSPPluginStage>(DSPPlugins_));
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

void TPlayer::SetSound3DVolume(int value) {
  Sound3DVolume_ = std::clamp(value, 0, 100);
  Sound3D_->SetLevel(Sound3DVolume_);
}

void TPlayer::SetEQEnabled(bool on) {
  if (on == EQEnabled_) return;
  EQEnabled_ = on;
  Equalizer_->SetEnabled(on);
  Amplify_->Enabled = on;
}

bool TPlayer::SetEQBand(int band, int db) {
  if (band < 0 || band >= EQBandCount) return false;
  EQBands_[size_t(band)] = Equalizer_->SetBandDb(band, db);
  return true;
}

void TPlayer::SetEQPreset(int index) {
  const TEQPreset& preset = EQPresets[size_t(std::clamp(index, 0, int(EQPresets.size()) - 1))];
  for (int band = 0; band < EQBandCount; ++band) SetEQBand(band, preset.Gains[size_t(band)]);
}

bool TPlayer::SetPreamp(int value) {
  Preamp_ = std::clamp(value, -12, 12);
  Amplify_->SetPreamp(Preamp_);
  return true;
}

bool TPlayer::SetDSPPluginDirectory(const std::string& path) {
  DSPPlugins_->SetDirectory(path);
  return true;
}

void TPlayer::GetDSPPluginNames(std::vector<std::string>& names) const {
  for (size_t i = 0; i < DSPPlugins_->Count(); ++i)
    if (auto item = DSPPlugins_->Item(i)) names.push_back(item->PluginName());
}

void TPlayer::GetDSPPluginModules(int plugin, std::vector<std::string>& modules) const {
  if (plugin < 0) return;
  if (auto item = DSPPlugins_->Item(size_t(plugin)))
    for (int m = 0; m < item->ModuleCount(); ++m) modules.push_back(item->ModuleName(m));
}

bool TPlayer::StartDSPPlugin(int plugin, int module) {
  return plugin >= 0 && DSPPlugins_->StartPlugin(size_t(plugin), module);
}

bool TPlayer::StartDSPPluginByName(const std::string& fileName, int module) {
  return StartDSPPlugin(DSPPlugins_->IndexOf(fileName), module);
}

void TPlayer::StopDSPPlugin(int plugin) {
  if (plugin >= 0) DSPPlugins_->StopPlugin(size_t(plugin));
}

void TPlayer::ConfigDSPPlugin(int plugin) {
  if (plugin >= 0) DSPPlugins_->ConfigurePlugin(size_t(plugin));
}

bool TPlayer::SetOutputDevice(int kind, int index) {
  Output_ = TOutputModuleFactory::TargetFor(kind, index);
  return true;
}

void TPlayer::GetDeviceNames(std::vector<std::string>& names, int kind) const {
  if (kind != 0 && kind != 1) return;
  for (const TOutputDevice& d : FindOutput(static_cast<TOutputKind>(kind))->Devices()) names.push_back(d.Description);
}

bool TPlayer::OpenFile(const std::string& fileName, bool shareWrite) { return Open(fileName, shareWrite, nullptr); }

bool TPlayer::OpenDownloading(const std::string& fileName, std::shared_ptr<const IArrivedBytes> arrived) {
  return Open(fileName, true, std::move(arrived));
}

bool TPlayer::Open(const std::string& fileName, bool shareWrite, std::shared_ptr<const IArrivedBytes> arrived) {
  MediaTagInfo_ = {};
  struct stat st {};
  if (::stat(fileName.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  MediaTagInfo_.FileSize = static_cast<uint64_t>(st.st_size);
  FileName_ = fileName;
  RefreshMediaInfo();
  HalfReached_ = false;
  TEngineMessage m;
  m.Kind = TEngineMsg::Open;
  m.Serial = ++OpenSerial_;
  m.FileName = fileName;
  m.ShareWrite = shareWrite;
  m.Arrived = std::move(arrived);
  m.Output = Output_;
  m.Volume = Volume_;
  m.Balance = Balance_;
  m.Mute = Mute_;
  Engine_->Post(std::move(m));
  return true;
}

void TPlayer::RefreshMediaInfo() {
  // The tags come from the tag readers; the decoder refines the technical fields once it opens.
  TMediaInfo tags;
  if (FileName_.empty() || !ReadMediaInfo(FileName_, tags)) return;
  if (MediaTagInfo_.Format.empty()) {  // not yet opened: the tag reader's facts until the decoder's
    MediaTagInfo_.SampleRate = tags.SampleRate;
    MediaTagInfo_.BitRate = tags.Bitrate;
    MediaTagInfo_.Duration = tags.Duration;
    MediaTagInfo_.Channels = tags.Channels;
  }
  MediaTagInfo_.Title = tags.Title;
  MediaTagInfo_.Artist = tags.Artist;
  MediaTagInfo_.Album = tags.Album;
  MediaTagInfo_.Year = tags.Year;
  MediaTagInfo_.Genre = tags.Genre;
  MediaTagInfo_.Track = tags.Track ? std::to_string(tags.Track) : std::string();
  MediaTagInfo_.Comment = tags.Comment;
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

void TPlayer::VisualTick() {
  const bool wanted = Shared_->VisualEnabled && OnNewFFTData;
  Shared_->VisualWanted = wanted;
  if (!wanted) return;
  int channels = 0, bits = 0;
  if (GetVisualData(VisualBlock_, channels, bits) && bits >= 8) {
    Spectrum_.Process(VisualBlock_.data(), uint32_t(VisualBlock_.size()), false, channels, bits);
  } else {
    Spectrum_.Clear();  // nothing being heard: the display falls to zero
    Spectrum_.OnSpectrumData(Spectrum_.Data(), Spectrum_.MinY, Spectrum_.MaxY, 0, 1);
  }
}

void TPlayer::ProgressTick() {
  VisualTick();
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
