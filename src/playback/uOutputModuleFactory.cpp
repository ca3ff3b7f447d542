#include "playback/uOutputModuleFactory.h"

#include <algorithm>

namespace ml {

std::unique_ptr<TOutputModule> TOutputModuleFactory::Create(const TOutputTarget& target) {
  const TOutputEntry* e = FindOutput(target.Kind);
  if (!e) return nullptr;
  if (target.DeviceIndex < 0 || !e->Devices) return e->Create(target.Device);
  const std::vector<TOutputDevice> devices = e->Devices();
  const auto i = static_cast<size_t>(target.DeviceIndex);
  return e->Create(i < devices.size() ? devices[i].Id : "");
}

TOutputTarget TOutputModuleFactory::TargetFor(int kind, int deviceIndex) {
  return {kind == 0 ? TOutputKind::Pulse : TOutputKind::Alsa, "", std::max(deviceIndex, -1)};
}

bool TOutputModuleFactory::Probe(const TOutputTarget& target) {
  const TOutputEntry* e = FindOutput(target.Kind);
  if (!e) return false;
  // The outputs without hardware always play (a file output needs its path).
  if (!e->Devices) return e->DeviceArg != TOutputDeviceArg::Required || !target.Device.empty();
  auto out = Create(target);
  TSilentSource silence;
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
