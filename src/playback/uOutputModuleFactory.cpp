#include "playback/uDSoundOutput.h"
#include "playback/uNullOutput.h"
#include "playback/uOutputModule.h"
#include "playback/uSoundDeviceEnum.h"
#include "playback/uWaveOutput.h"

namespace ml {

std::unique_ptr<TOutputModule> TOutputModuleFactory::Create(const TOutputTarget& target) {
  switch (target.Kind) {
    case TOutputKind::Pulse: return std::make_unique<TDSoundOutput>(target.Device);
    case TOutputKind::Alsa: return std::make_unique<TWaveOutput>(target.Device);
    case TOutputKind::WavFile: return std::make_unique<TWavFileOutput>(target.Device);
    case TOutputKind::Null: return std::make_unique<TNullOutput>();
  }
  return nullptr;
}

TOutputTarget TOutputModuleFactory::TargetFor(int kind, int deviceIndex) {
  if (kind == 0) {
    const auto& list = DSDeviceList();
    const bool known = deviceIndex >= 0 && static_cast<size_t>(deviceIndex) < list.size();
    return {TOutputKind::Pulse, known ? list[static_cast<size_t>(deviceIndex)].Id : ""};
  }
  const auto& list = WaveOutDeviceList();
  const bool known = deviceIndex >= 0 && static_cast<size_t>(deviceIndex) < list.size();
  return {TOutputKind::Alsa, known ? list[static_cast<size_t>(deviceIndex)].Name : ""};
}

namespace {

// One second of CD-quality silence to open the device with.
class TProbeDecoder : public TDecoderModule {
public:
  TProbeDecoder() { Format = {1000, 176400, 44100, 1, 16}; }
  bool Open(const std::string&, bool) override { return true; }
  void Close() override {}
  void Seek(float) override {}
  int32_t GetPositionMs() override { return 0; }
  bool Read(uint8_t*, uint32_t& count) override {
    count = 0;
    return false;
  }
};

}  // namespace

bool TOutputModuleFactory::Probe(const TOutputTarget& target) {
  if (target.Kind == TOutputKind::Null) return true;
  if (target.Kind == TOutputKind::WavFile) return !target.Device.empty();
  auto out = Create(target);
  TProbeDecoder d;
  out->SetDecoder(&d);
  const bool ok = out->HasDevice();
  out->Stop();
  return ok;
}

}  // namespace ml
