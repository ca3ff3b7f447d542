#pragma once
// The player's engine thread. TPlayer hands it every request as a message carrying all it needs;
// it opens the decoders, feeds the output, and reports back through the dispatcher, so every
// event is raised on the main thread. The main thread never touches a decoder or an output.
#include "base/Dispatcher.h"
#include "base/WaitSet.h"
#include "playback/OutputRegistry.h"
#include "playback/uDecoderModule.h"
#include "playback/uEffectChain.h"
#include "playback/uPlayerModule.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
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
  uint32_t Serial = 0;    // Open: the player's count of its opens; every reply about it carries it
  float Fraction = 0.0f;  // Play: start fraction (0 = where it is), Seek: the target
  std::string FileName;   // Open
  bool ShareWrite = false;
  std::shared_ptr<const IArrivedBytes> Arrived;  // Open, of a download: how far it has come
  TOutputTarget Output;  // Open: the output to play on
  int Volume = 100, Balance = 50;
  bool Mute = false;
  std::function<void()> Done;  // Sync: runs on the main thread after the engine's next pass
};

using TOutputFactoryFn = std::function<std::unique_ptr<TOutputModule>(const TOutputTarget&)>;

// Facts the engine publishes for the main thread to read at any time. Serial names the open they
// belong to: set last, so a reader that finds it current finds that song's facts.
struct TEngineShared {
  std::atomic<uint32_t> Serial{0};
  std::atomic<int32_t> PositionMs{0};  // what is heard: the decoder's place less the output's queue
  std::atomic<int32_t> DurationMs{0};
  std::atomic<int32_t> SampleRate{0};
  std::atomic<int32_t> BytesPerSecond{0};
  std::atomic<int> AudioChannel{0};
  std::atomic<bool> VisualEnabled{true};
  std::atomic<bool> VisualWanted{false};  // someone listens to the spectrum
  // A song still downloading waits for bytes that have not arrived: the sound stops and the
  // position stays until they come.
  std::atomic<bool> Starving{false};
  std::mutex VisualMutex;
  std::vector<uint8_t> Visual;  // the latest block queued, after the effects
  int VisualChannels = 0, VisualBits = 0;
  TEffectChain Effects;
};

// What the engine tells the player when a song opens.
struct TOpenedSong {
  TDecoderFormat Format;
  std::string DecoderName;
  int32_t BitRateKbps = 0;
};

class TPlayerEngine {
public:
  TPlayerEngine(Dispatcher& dispatcher, std::weak_ptr<TPlayer*> player, std::shared_ptr<TEngineShared> shared,
                TOutputFactoryFn factory, TOutputTarget initialOutput);
  ~TPlayerEngine();  // posts Quit and joins

  // Asks the engine to quit and waits at most limit for it. An engine that does not end in time
  // (its thread stuck in a device call) is cut loose: it posts nothing more to the dispatcher,
  // and its thread deletes it when the call returns. Either way engine is gone for the caller.
  static void Shutdown(std::unique_ptr<TPlayerEngine> engine, std::chrono::milliseconds limit);

  void Post(TEngineMessage msg);

private:
  // What the output pulls: the open decoder's PCM through the channel selector and the effect
  // chain, keeping the latest block for the spectrum on the way.
  class TSource final : public TAudioSource {
  public:
    TSource(TEngineShared& shared, TWaitSet& wake, unsigned wakeBit)
        : shared_(shared), wake_(wake), wakeBit_(wakeBit) {}
    void Attach(TDecoderModule* decoder) { decoder_ = decoder; }
    TPullResult Pull(uint8_t* block, uint32_t want) override;
    void RoomAvailable() override { wake_.Signal(wakeBit_); }

  private:
    TEngineShared& shared_;
    TWaitSet& wake_;
    unsigned wakeBit_;
    TDecoderModule* decoder_ = nullptr;
  };

  void Run();
  bool NextMessage(TEngineMessage& msg);
  bool LaterQueued(TEngineMsg kind);
  void Handle(const TEngineMessage& msg);
  void HandleOpen(const TEngineMessage& msg);
  void SeekTo(float fraction);
  void ResetOutput(const TOutputTarget& target);
  void CloseDecoder();
  TDecoderModule* OpenDecoder() const { return decoderIndex_ >= 0 ? decoders_[size_t(decoderIndex_)].get() : nullptr; }
  void PublishPosition();
  void PostState(TPlayerState state);
  // Posts fn to run on the main thread with the player, as a reply about the current open: the
  // player drops it when it has opened another file since.
  void PostToPlayer(std::function<void(TPlayer&)> fn);
  // Every post to the main thread goes through here: none once the engine is cut loose.
  void PostToMain(std::function<void()> fn);
  // The output did not open or stopped taking audio: the song stops, and the player hears why.
  void FailOutput();
  void AnswerSyncs();

  Dispatcher& dispatcher_;
  std::weak_ptr<TPlayer*> player_;
  std::shared_ptr<TEngineShared> sharedOwner_;  // kept alive for an engine that outlives its player
  TEngineShared& shared_;
  TOutputFactoryFn factory_;

  static constexpr unsigned kMessageBit = 1, kOutputBit = 2;
  TWaitSet wait_;
  std::mutex queueMutex_;
  std::deque<TEngineMessage> queue_;

  // The engine thread's end, and whether Shutdown stopped waiting for it.
  std::mutex lifeMutex_;
  std::condition_variable lifeEnded_;
  bool finished_ = false, abandoned_ = false;

  // Engine thread only from here on.
  std::vector<std::unique_ptr<TDecoderModule>> decoders_;  // one per registry row
  int decoderIndex_ = -1;
  uint32_t openSerial_ = 0;  // of the open the engine acts on
  TSource source_{shared_, wait_, kOutputBit};
  bool sourceEnded_ = false;  // the output has queued the song's last block
  bool playing_ = false;
  bool fed_ = false;
  bool quit_ = false;
  std::vector<std::function<void()>> syncs_;
  TOutputTarget outputTarget_;
  std::unique_ptr<TOutputModule> output_;
  std::thread thread_;
};

}  // namespace ml
