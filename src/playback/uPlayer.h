#pragma once
// The playback controller and its engine thread. The main thread calls TPlayer; TPlayer hands
// every request to the engine as a message carrying all it needs, and the engine reports back
// through the dispatcher, so every event is raised on the main thread. The main thread never
// touches a decoder or an output.
#include "playback/uEffectChain.h"
#include "playback/uOutputModule.h"
#include "playback/uPlayerModule.h"

#include "base/Dispatcher.h"

#include <atomic>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace ml {

class TPlayer;

// Requests to the engine (their numbers are the ones the engine's log lines show).
enum class TEngineMsg : uint16_t { Open = 0x2400, Play = 0x2401, Pause = 0x2402, Stop = 0x2403, Seek = 0x2404,
                                   Quit = 0x2405, Volume = 0x2406, Sync = 0x2407 };

struct TEngineMessage {
  TEngineMsg Kind = TEngineMsg::Quit;
  float Fraction = 0.0f;  // Play: start fraction (0 = where it is), Seek: the target
  std::string FileName;   // Open
  bool ShareWrite = false;
  TOutputTarget Output;  // Open: the output to play on
  int Volume = 100, Balance = 50;
  bool Mute = false;
  std::function<void()> Done;  // Sync: runs on the main thread after the engine's next pass
};

using TOutputFactoryFn = std::function<std::unique_ptr<TOutputModule>(const TOutputTarget&)>;

// Facts the engine publishes for the main thread to read at any time.
struct TEngineShared {
  std::atomic<int32_t> PositionMs{0};
  std::atomic<int32_t> DurationMs{0};
  std::atomic<int32_t> SampleRate{0};
  std::atomic<int32_t> BytesPerSecond{0};
  std::atomic<int> AudioChannel{0};
  std::atomic<bool> VisualEnabled{true};
  std::mutex VisualMutex;
  std::vector<uint8_t> Visual;  // the latest block before effects
  int VisualChannels = 0, VisualBits = 0;
  TEffectChain Effects;
};

class TPlayerEngine {
public:
  // index of each decoder; the slots of decoders that are not built in stay empty
  enum { kMPEG = 0, kWMA = 1, kWAV = 2, kExtend = 3, kDecoderCount = 4 };

  TPlayerEngine(Dispatcher& dispatcher, std::weak_ptr<TPlayer*> player, TEngineShared& shared,
                TOutputFactoryFn factory, TOutputTarget initialOutput);
  ~TPlayerEngine();  // posts Quit and joins

  void Post(TEngineMessage msg);
  // Which decoder a file name is tried with first: the extension's, else -1.
  static int DecoderForExtension(const std::string& fileName);

private:
  void Run();
  bool NextMessage(TEngineMessage& msg);
  bool LaterQueued(TEngineMsg kind);
  void Handle(const TEngineMessage& msg);
  void HandleOpen(const TEngineMessage& msg);
  void ResetOutput(const TOutputTarget& target);
  int ChooseDecoder(const std::string& fileName, bool shareWrite);
  void CloseDecoder();
  void PublishPosition();
  void PostState(TPlayerState state);
  void PostToPlayer(std::function<void(TPlayer&)> fn);
  void AnswerSyncs();
  static void ProcessBlock(void* data, TOutputModule* output, uint8_t* block, int sampleRate, int channels, int bits,
                           uint32_t* length);

  Dispatcher& dispatcher_;
  std::weak_ptr<TPlayer*> player_;
  TEngineShared& shared_;
  TOutputFactoryFn factory_;

  static constexpr unsigned kMessageBit = 1, kOutputBit = 2;
  TWaitSet wait_;
  TAutoResetEvent outputEvent_{wait_, kOutputBit};
  std::mutex queueMutex_;
  std::deque<TEngineMessage> queue_;

  // Engine thread only from here on.
  std::unique_ptr<TDecoderModule> decoders_[kDecoderCount];
  int decoderIndex_ = -1;
  bool playing_ = false;
  bool fed_ = false;
  bool quit_ = false;
  std::vector<std::function<void()>> syncs_;
  TOutputTarget outputTarget_;
  std::unique_ptr<TOutputModule> output_;
  std::thread thread_;
};

class TPlayer : public TPlayerModule {
public:
  // The dispatcher of the main thread (MainDispatcher() when null). factory builds outputs; the
  // default one builds the real outputs.
  explicit TPlayer(Dispatcher* dispatcher = nullptr, TOutputFactoryFn factory = nullptr);
  ~TPlayer() override;
  TPlayer(const TPlayer&) = delete;
  TPlayer& operator=(const TPlayer&) = delete;

  void SetVolume(int value) override;
  void SetBalance(int value) override;
  void SetMute(bool mute) override;
  void SetAudioChannel(TAudioChannel channel) override;
  bool OpenFile(const std::string& fileName, bool shareWrite) override;
  bool Play(float startFraction) override;
  bool Stop() override;
  bool Pause() override;
  bool Resume() override;
  void SeekFraction(float fraction) override;
  void SeekMs(int64_t positionMs) override;
  void GetMediaInfo(TPlaybackMediaInfo& info) const override { info = MediaTagInfo_; }
  int32_t GetBytesPerSecond() const override { return Shared_.BytesPerSecond; }
  int32_t GetSampleRate() const override { return Shared_.SampleRate; }
  int32_t GetDurationMs() const override { return Shared_.DurationMs; }
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

  TPlayerState CurPlayState() const { return CurState_; }
  TPlayerState OldPlayState() const { return OldState_; }
  bool VisualEnabled() const { return Shared_.VisualEnabled; }
  void SetVisualEnabled(bool on) { Shared_.VisualEnabled = on; }
  // The latest block the engine queued, before effects, for the spectrum display.
  bool GetVisualData(std::vector<uint8_t>& data, int& channels, int& bits);
  TEffectChain& Effects() { return Shared_.Effects; }
  const std::string& FileName() const { return FileName_; }
  // Runs fn on the main thread once the engine has handled every request made before and has
  // acted on whatever woke it by then (tests and the command line use it to settle).
  void Sync(std::function<void()> fn);

private:
  friend class TPlayerEngine;
  void OnEngineState(TPlayerState state, const TDecoderFormat* format, const std::string& decoderName);
  void OnEngineEndOfSong();
  void OnEngineOpenFailed();
  void ProgressTick();
  void StartProgress();
  void StopProgress();
  void PostVolume();

  Dispatcher& Dispatcher_;
  std::shared_ptr<TPlayer*> Self_;
  TEngineShared Shared_;
  std::string FileName_;
  TOutputTarget Output_;
  TPlayerState CurState_ = psReady, OldState_ = psReady;
  bool HalfReached_ = false;
  TimerId ProgressTimer_ = 0;
  Millis LastProgress_{-1000000};
  std::unique_ptr<TPlayerEngine> Engine_;
};

}  // namespace ml
