#include "playback/uEffectChain.h"

#include <algorithm>

namespace ml {

void TEffectChain::SetStage(TEffectSlot slot, std::shared_ptr<TEffectStage> stage) {
  std::lock_guard lock(mutex_);
  stages_[static_cast<size_t>(slot)] = std::move(stage);
}

std::shared_ptr<TEffectStage> TEffectChain::Stage(TEffectSlot slot) const {
  std::lock_guard lock(mutex_);
  return stages_[static_cast<size_t>(slot)];
}

std::array<std::shared_ptr<TEffectStage>, 4> TEffectChain::Stages() const {
  std::lock_guard lock(mutex_);
  return stages_;
}

void TEffectChain::Reset() const {
  for (const auto& s : Stages())
    if (s) s->Reset();
}

void TEffectChain::Process(uint8_t* block, uint32_t& length, uint32_t capacity, int sampleRate, int channels,
                           int bits) const {
  for (const auto& s : Stages()) {
    if (!s || length == 0) continue;
    uint32_t n = length;
    s->Process(block, n, capacity, sampleRate, channels, bits);
    // A stage that reports nothing left the block as it was (as DSP plug-ins do).
    if (n != 0) length = std::min(n, capacity);
  }
}

}  // namespace ml
