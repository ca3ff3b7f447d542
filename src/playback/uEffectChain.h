#pragma once
// The stages the engine runs on every block before it is queued: amplifier, equalizer, 3D sound
// and the DSP plug-ins, in that order. Stages are set from the main thread and run on the engine
// thread; each block runs with the stages that were set when it started.
#include <array>
#include <cstdint>
#include <memory>
#include <mutex>

namespace ml {

class TEffectStage {
public:
  virtual ~TEffectStage() = default;
  // Works in place on interleaved little-endian PCM; may change the length (a DSP plug-in can
  // stretch or shorten a block), never beyond capacity bytes.
  virtual void Process(uint8_t* block, uint32_t& length, uint32_t capacity, int sampleRate, int channels, int bits) = 0;
  // The stream jumps (another song, a seek): what a stage carries from block to block is stale.
  virtual void Reset() {}
};

enum class TEffectSlot { Amplifier = 0, Equalizer = 1, Sound3D = 2, DSPPlugins = 3 };

class TEffectChain {
public:
  void SetStage(TEffectSlot slot, std::shared_ptr<TEffectStage> stage);
  std::shared_ptr<TEffectStage> Stage(TEffectSlot slot) const;
  void Process(uint8_t* block, uint32_t& length, uint32_t capacity, int sampleRate, int channels, int bits) const;
  void Reset() const;

private:
  std::array<std::shared_ptr<TEffectStage>, 4> Stages() const;

  mutable std::mutex mutex_;
  std::array<std::shared_ptr<TEffectStage>, 4> stages_;
};

}  // namespace ml
