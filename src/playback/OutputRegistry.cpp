#include "playback/OutputRegistry.h"

#include "playback/uDSoundOutput.h"
#include "playback/uNullOutput.h"
#include "playback/uSoundDeviceEnum.h"
#include "playback/uWavFileOutput.h"
#include "playback/uWaveOutput.h"

namespace ml {

namespace {

std::vector<TOutputDevice> PulseDevices() {
  std::vector<TOutputDevice> list;
  for (const TDSDeviceItem& d : DSDeviceList()) list.push_back({d.Id, d.Description});
  return list;
}

std::vector<TOutputDevice> AlsaDevices() {
  std::vector<TOutputDevice> list;
  for (const TWaveOutDeviceItem& d : WaveOutDeviceList()) list.push_back({d.Name, d.Description});
  return list;
}

}  // namespace

const std::vector<TOutputEntry>& OutputRegistry() {
  static const std::vector<TOutputEntry> table = {
      {TOutputKind::Pulse, "pulse", "PulseAudio", "default sink", TOutputDeviceArg::Optional, "SINK",
       [](const std::string& sink) -> std::unique_ptr<TOutputModule> { return std::make_unique<TDSoundOutput>(sink); },
       PulseDevices},
      {TOutputKind::Alsa, "alsa", "ALSA", "default", TOutputDeviceArg::Optional, "PCM",
       [](const std::string& pcm) -> std::unique_ptr<TOutputModule> { return std::make_unique<TWaveOutput>(pcm); },
       AlsaDevices},
      {TOutputKind::WavFile, "wav", "WAV file", "", TOutputDeviceArg::Required, "PATH",
       [](const std::string& path) -> std::unique_ptr<TOutputModule> { return std::make_unique<TWavFileOutput>(path); },
       nullptr},
      {TOutputKind::Null, "null", "null output", "", TOutputDeviceArg::None, "",
       [](const std::string&) -> std::unique_ptr<TOutputModule> { return std::make_unique<TNullOutput>(); }, nullptr},
  };
  return table;
}

const TOutputEntry* FindOutput(TOutputKind kind) {
  for (const TOutputEntry& e : OutputRegistry())
    if (e.Kind == kind) return &e;
  return nullptr;
}

bool ParseOutputTarget(const std::string& text, TOutputTarget& target) {
  const auto colon = text.find(':');
  const std::string name = text.substr(0, colon);
  const bool hasDevice = colon != std::string::npos;
  const std::string device = hasDevice ? text.substr(colon + 1) : "";
  for (const TOutputEntry& e : OutputRegistry()) {
    if (name != e.Name) continue;
    if (e.DeviceArg == TOutputDeviceArg::Required && device.empty()) return false;
    if (e.DeviceArg == TOutputDeviceArg::None && hasDevice) return false;
    target = {e.Kind, device};
    return true;
  }
  return false;
}

std::string OutputTargetForms() {
  const auto& table = OutputRegistry();
  std::string out;
  for (size_t i = 0; i < table.size(); ++i) {
    const TOutputEntry& e = table[i];
    if (i > 0) out += i + 1 == table.size() ? " or " : ", ";
    out += e.Name;
    if (e.DeviceArg == TOutputDeviceArg::Optional) out += std::string("[:") + e.DeviceWord + "]";
    if (e.DeviceArg == TOutputDeviceArg::Required) out += std::string(":") + e.DeviceWord;
  }
  return out;
}

std::string DescribeOutputTarget(const TOutputTarget& target) {
  const TOutputEntry* e = FindOutput(target.Kind);
  if (!e) return "";
  const std::string device = target.DeviceIndex >= 0 ? "device " + std::to_string(target.DeviceIndex)
                             : target.Device.empty() ? e->DefaultDevice
                                                     : target.Device;
  return device.empty() ? e->Label : std::string(e->Label) + " " + device;
}

}  // namespace ml
