#pragma once
// The playback controller. The main thread calls TPlayer; TPlayer hands every request to its
// engine thread (uPlayerEngine) and raises the engine's reports as events on the main thread.
#include "base/Dispatcher.h"
#include "dsp/dspAmplify.h"
#include "dsp/dspEqualizer.h"
#include "dsp/dspSound3D.h"
#include "dsp/uDSPWrapper.h"
#include "dsp/visSpectrum.h"
#include "playback/uPlayerEngine.h"
#include "playback/uPlayerModule.h"

#include <chrono>
#include <memory>
#include <string>
#include <vector>

namespace ml {

class TPlayer : public TPlayerModule {
public:
  // The dispatcher of the main thread (MainDispatcher() when null). factory builds outputs; the
  // default one builds the real outputs.
  explicit TPlayer(Dispatcher* dispatcher = nullptr, TOutputFactoryFn factory = nullptr);
  // Stops the engine, waiting for it no longer than kEngineQuitLimit: an engine stuck in a
  // device that no longer answers is left to end on its own, and the program exits all the same.
  ~TPlayer() override;
  static constexpr std::chrono::milliseconds kEngineQuitLimit{3000};
  TPlayer(const TPlayer&) = delete;
  TPlayer& operator=(const TPlayer&) = delete;

  void SetVolume(int value) override;
  void SetBalance(int value) override;
  void SetMute(bool mute) override;
  void SetAudioChannel(TAudioChannel channel) override;
  void SetSound3DVolume(int value) override;
  void SetEQEnabled(bool on) override;
  bool OpenFile(const std::string& fileName, bool shareWrite) override;
  // Opens a song while it downloads: arrived says how much of the file has come (its size does
  // not: the file is made at full size first). Reads wait for missing bytes instead of ending.
  bool OpenDownloading(const std::string& fileName, std::shared_ptr<const IArrivedBytes> arrived);
  // The song waits for bytes of its download (the sound has stopped, the position holds).
  bool IsStarving() const { return Shared_->Serial.load() == OpenSerial_ && Shared_->Starving; }
  bool Play(float startFraction) override;
  bool Stop() override;
  bool Pause() override;
  bool Resume() override;
  void SeekFraction(float fraction) override;
  void SeekMs(int64_t positionMs) override;
  void GetMediaInfo(TPlaybackMediaInfo& info) const override { info = MediaTagInfo_; }
  int32_t GetBytesPerSecond() const override { return Current(Shared_->BytesPerSecond); }
  int32_t GetSampleRate() const override { return Current(Shared_->SampleRate); }
  int32_t GetDurationMs() const override { return Current(Shared_->DurationMs); }
  int32_t GetPositionMs() override;
  double GetProgress() override;
  std::string GetDurationText() const override;
  std::string GetPositionText() override;

  // kind 0: the sound server, 1: the sound card; index into that kind's device list. Takes
  // effect with the next OpenFile.
  bool SetOutputDevice(int kind, int index);
  // kind 0: the sound server's sinks, kind 1: the sound card PCMs (descriptions, in list order).
  void GetDeviceNames(std::vector<std::string>& names, int kind) const;
  // Any output of the family (the command line's --output).
  void SetOutputTarget(const TOutputTarget& target) { Output_ = target; }
  const TOutputTarget& OutputTarget() const { return Output_; }

  // The equalizer's ten bands in dB (-20..20) and the preamplifier (-12..12), as the settings
  // keep them. Values out of range are clamped; a band or preset index out of range is refused.
  bool SetEQBand(int band, int db);
  int EQBand(int band) const { return band >= 0 && band < EQBandCount ? EQBands_[size_t(band)] : 0; }
  void SetEQPreset(int index);  // 0..18, clamped
  bool SetPreamp(int value);
  int Preamp() const { return Preamp_; }

  // DSP plug-ins: the folder searched for dsp_*.so, the plug-ins found there (their
  // descriptions) and their modules; a plug-in runs one module at a time.
  bool SetDSPPluginDirectory(const std::string& path);
  void GetDSPPluginNames(std::vector<std::string>& names) const;
  void GetDSPPluginModules(int plugin, std::vector<std::string>& modules) const;
  bool StartDSPPlugin(int plugin, int module);
  // The first plug-in whose library file name (without folder) is fileName.
  bool StartDSPPluginByName(const std::string& fileName, int module);
  void StopDSPPlugin(int plugin);
  void ConfigDSPPlugin(int plugin);
  TDSPThreadedPluginList& DSPPluginList() { return *DSPPlugins_; }
  // A plug-in stopped answering and was switched off (raised on the main thread).
  std::function<void(TPlayer& sender, const std::string& message)> OnDSPPluginDropped;

  // Fills MediaTagInfo's tags again from the file (after its tags were edited, or as a
  // downloading file grows).
  void RefreshMediaInfo();

  // The spectrum: on every 50 ms tick while playing, when VisualEnabled and someone listens to
  // OnNewFFTData, the block being heard is analysed and its 512 levels raised. Nobody listening
  // costs nothing: the engine keeps no copy and no transform runs.
  const TDCSpectrum& Spectrum() const { return Spectrum_; }

  TPlayerState CurPlayState() const { return CurState_; }
  TPlayerState OldPlayState() const { return OldState_; }
  bool VisualEnabled() const { return Shared_->VisualEnabled; }
  void SetVisualEnabled(bool on) { Shared_->VisualEnabled = on; }
  // The latest block the engine queued, after the effects, for the spectrum display.
  bool GetVisualData(std::vector<uint8_t>& data, int& channels, int& bits);
  TEffectChain& Effects() { return Shared_->Effects; }
  const std::string& FileName() const { return FileName_; }
  // Why the last OnOpenFileError or OnPlayError came: "WAV coding ... is not one this player
  // decodes", "cannot open ALSA PCM ...". Empty when the reason is not known.
  const std::string& ErrorText() const { return ErrorText_; }
  // Runs fn on the main thread once the engine has handled every request made before and has
  // acted on whatever woke it by then (tests and the command line use it to settle).
  void Sync(std::function<void()> fn);

private:
  friend class TPlayerEngine;
  // Whether an engine reply about the open of that serial is still of interest: one about a file
  // opened before the latest OpenFile is not.
  bool IsCurrentOpen(uint32_t serial) const { return serial == OpenSerial_; }
  // A fact the engine published, once it has acted on the latest OpenFile (0 until then).
  int32_t Current(const std::atomic<int32_t>& value) const {
    return Shared_->Serial.load() == OpenSerial_ ? value.load() : 0;
  }
  bool Open(const std::string& fileName, bool shareWrite, std::shared_ptr<const IArrivedBytes> arrived);
  void OnEngineState(TPlayerState state, const TOpenedSong* opened);
  void OnEngineEndOfSong();
  void OnEngineOpenFailed(const std::string& why);
  void OnEngineOutputFailed(const std::string& why);
  void ProgressTick();
  void StartProgress();
  void StopProgress();
  void PostVolume();
  void VisualTick();

  Dispatcher& Dispatcher_;
  std::shared_ptr<TPlayer*> Self_;
  // Shared with the engine thread, which may outlive the player when it is stuck in a device.
  std::shared_ptr<TEngineShared> Shared_ = std::make_shared<TEngineShared>();
  std::string FileName_;
  std::string ErrorText_;
  uint32_t OpenSerial_ = 0;
  TOutputTarget Output_;
  TPlayerState CurState_ = psReady, OldState_ = psReady;
  bool HalfReached_ = false;
  TimerId ProgressTimer_ = 0;
  Millis LastProgress_{-1000000};
  // The effects: set here on the main thread, run by the engine thread through the effect chain.
  std::shared_ptr<TDCAmplify> Amplify_ = std::make_shared<TDCAmplify>();
  std::shared_ptr<TDCEqualizer> Equalizer_ = std::make_shared<TDCEqualizer>();
  std::shared_ptr<TDCSound3D> Sound3D_ = std::make_shared<TDCSound3D>();
  std::shared_ptr<TDSPThreadedPluginList> DSPPlugins_ = std::make_shared<TDSPThreadedPluginList>();
  std::array<int, EQBandCount> EQBands_{};
  int Preamp_ = 0;
  TDCSpectrum Spectrum_;
  std::vector<uint8_t> VisualBlock_;
  std::unique_ptr<TPlayerEngine> Engine_;
};

}  // namespace ml
