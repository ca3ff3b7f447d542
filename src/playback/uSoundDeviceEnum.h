#pragma once
// The two device lists the options dialog offers: the sound server's sinks (kind 0) and the sound
// card PCMs (kind 1). Each is read on its first use and kept; Refresh reads them again. The lists
// are handed out as copies, so a refresh on one thread never changes what another holds.
#include <cstdint>
#include <string>
#include <vector>

namespace ml {

struct TDSDeviceItem {
  std::string Id;  // sink name; empty for the default sink, which is always first
  std::string Description;
};

struct TWaveOutDeviceItem {
  int Id = 0;
  std::string Name;  // ALSA PCM name
  std::string Description;
  uint32_t DriverVersion = 0;
};

std::vector<TDSDeviceItem> DSDeviceList();
std::vector<TWaveOutDeviceItem> WaveOutDeviceList();
void RefreshSoundDevices();

// Reading the lists, exposed for the tests.
std::vector<TDSDeviceItem> EnumeratePulseSinks();
std::vector<TWaveOutDeviceItem> EnumerateAlsaPcms();

}  // namespace ml
