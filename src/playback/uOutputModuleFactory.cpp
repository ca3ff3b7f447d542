#include "uDSoundOutput.h"
#include "uNullOutput.h"
#include "uOutputModule.h"
#include "uSoundDeviceEnum.h"
#include "uWaveOutput.h"

namespace ml {

std::unique_ptr<TOutputModule> TOutputModuleFactory::Create(const TOutputSpec& spec) {
  switch (spec.Kind) {
    case TOutputKind::Pulse: return std::make_unique<TDSoundOutput>(spec.Device);
    case TOutputKind::Alsa: return std::make_unique<TWaveOutput>(spec.Device);
    case TOutputKind::WavFile: return std::make_unique<TWavFileOutput>(spec.Device);
    case TOutputKind::Null: return std::make_unique<TNullOutput>();
  }
  return nullptr;
}

TOutputSpec TOutputModuleFactory::SpecFor(int kind, int deviceIndex) {
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

bool TOutputModuleFactory::Probe(const TOutputSpec& spec) {
  if (spec.Kind == TOutputKind::Null) return true;
  if (spec.Kind == TOutputKind::WavFile) return !spec.Device.empty();
  auto out = Create(spec);
  TProbeDecoder d;
  out->SetDecoder(&d);
  const bool ok = out->HasDevice();
  out->Stop();
  return ok;
}

}  // namespace ml
