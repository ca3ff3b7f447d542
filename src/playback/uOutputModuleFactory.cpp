#include "playback/uOutputModuleFactory.h"

#include "playback/uSoundDeviceEnum.h"

namespace ml {

std::unique_ptr<TOutputModule> TOutputModuleFactory::Create(const TOutputTarget& target) {
  const TOutputEntry* e = FindOutput(target.Kind);
  return e ? e->Create(target.Device) : nullptr;
}

TOutputTarget TOutputModuleFactory::TargetFor(int kind, int deviceIndex) {
  const TOutputKind k = kind == 0 ? TOutputKind::Pulse : TOutputKind::Alsa;
  const auto devices = FindOutput(k)->Devices();
  const bool known = deviceIndex >= 0 && static_cast<size_t>(deviceIndex) < devices.size();
  return {k, known ? devices[static_cast<size_t>(deviceIndex)].Id : ""};
}

namespace {

// The probe's source: nothing to play.
class TSilence final : public TAudioSource {
public:
  TPullResult Pull(uint8_t*, uint32_t) override { return {0, true}; }
  void RoomAvailable() override {}
};

}  // namespace

bool TOutputModuleFactory::Probe(const TOutputTarget& target) {
  const TOutputEntry* e = FindOutput(target.Kind);
  if (!e) return false;
  // The outputs without hardware always play (a file output needs its path).
  if (!e->Devices) return e->DeviceArg != TOutputDeviceArg::Required || !target.Device.empty();
  auto out = e->Create(target.Device);
  TSilence silence;
  out->SetSource(&silence, TWaveFormat::Pcm(2, 44100, 16));
  const bool ok = out->HasDevice();
  out->Stop();
  return ok;
}

TOutputTarget TOutputModuleFactory::DefaultTarget(std::string& message) {
  message.clear();
  for (const TOutputEntry& e : OutputRegistry()) {
    if (!e.Devices) continue;  // a device-less output is the fallback, not a choice
    const TOutputTarget target{e.Kind, ""};
    if (Probe(target)) return target;
  }
  message = "no sound device opens here; playing to the null output (silently, in real time)";
  return {TOutputKind::Null, ""};
}

}  // namespace ml
