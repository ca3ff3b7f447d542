#include "dsp/dspAmplify.h"

#include <algorithm>

#include "dsp/PcmSamples.h"

namespace ml {

TDCAmplify::TDCAmplify() {
  for (auto& v : volumes_) v = Unity;
}

void TDCAmplify::SetVolume(int channel, int32_t volume) {
  if (channel >= 0 && channel < Channels) volumes_[size_t(channel)] = volume;
}

int32_t TDCAmplify::GetVolume(int channel) const {
  return channel >= 0 && channel < Channels ? volumes_[size_t(channel)].load() : 0;
}

void TDCAmplify::SetPreamp(int preamp) { SetVolume(0, Unity + 500 * std::clamp(preamp, -12, 12)); }

void TDCAmplify::Process(uint8_t* buffer, uint32_t byteLength, bool isFloat, int channels, int bitsPerSample) const {
  if (!Enabled || !buffer || channels <= 0) return;
  const int bytes = isFloat ? (bitsPerSample == 32 ? 4 : 0) : pcm::SampleBytes(bitsPerSample);
  if (bytes == 0) return;
  // One read of the volumes per block, so that a block is scaled evenly.
  std::array<int64_t, Channels> volume{};
  const bool separate = Seperate;
  for (int c = 0; c < Channels; ++c) volume[size_t(c)] = volumes_[size_t(separate ? c : 0)].load();
  const uint32_t samples = byteLength / uint32_t(bytes);
  for (uint32_t i = 0; i < samples; ++i) {
    const int channel = int(i % uint32_t(channels));
    const int64_t v = channel < Channels ? volume[size_t(channel)] : volume[0];
    uint8_t* p = buffer + size_t(i) * size_t(bytes);
    if (isFloat) {
      pcm::WriteFloat(p, pcm::ReadFloat(p) * float(v) / float(Unity));
    } else {
      // 64 bits: a full-scale 24- or 32-bit sample times 16000 does not fit in 32.
      pcm::WriteInt(p, bitsPerSample, pcm::ReadInt(p, bitsPerSample) * v / Unity);
    }
  }
}

}  // namespace ml
