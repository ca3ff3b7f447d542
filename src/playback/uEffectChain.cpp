#include "playback/uEffectChain.h"

namespace ml {

void TEffectChain::SetStage(TEffectSlot slot, std::shared_ptr<TEffectStage> stage) {
  std::lock_guard lock(mutex_);
  stages_[static_cast<size_t>(slot)] = std::move(stage);
}

std::shared_ptr<TEffectStage> TEffectChain::Stage(TEffectSlot slot) const {
  std::lock_guard lock(mutex_);
  return stages_[static_cast<size_t>(slot)];
}

void TEffectChain::Process(uint8_t* block, uint32_t& length, int sampleRate, int channels, int bits) const {
  std::array<std::shared_ptr<TEffectStage>, 4> stages;
  {
    std::lock_guard lock(mutex_);
    stages = stages_;
  }
  for (const auto& s : stages) {
    if (!s || length == 0) continue;
    uint32_t n = length;
    s->Process(block, n, sampleRate, channels, bits);
    // A stage that reports nothing left the block as it was (as DSP plug-ins do).
    if (n != 0) length = n;
  }
}

}  // namespace ml
