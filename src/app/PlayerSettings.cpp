#include "app/PlayerSettings.h"

#include "app/uSettingMgr.h"
#include "playback/uPlayer.h"

#include <charconv>

namespace ml {

void ApplyEffectSettings(TPlayer& player, const TSettingMgr& settings, std::vector<std::string>* problems) {
  for (int band = 0; band < EQBandCount; ++band) player.SetEQBand(band, settings.EQBandsData[size_t(band)]);
  player.SetPreamp(settings.Preamp);
  player.SetEQEnabled(settings.EQEnable);
  player.SetSound3DVolume(settings.Sound3D);
  if (settings.PluginPath.empty()) return;
  player.SetDSPPluginDirectory(settings.PluginPath);
  for (const std::string& entry : settings.PluginModules) {
    const size_t bar = entry.find('|');
    int module = 0;
    const std::string name = entry.substr(0, bar);
    if (bar != std::string::npos) {
      const char* first = entry.data() + bar + 1;
      std::from_chars(first, entry.data() + entry.size(), module);  // not a number: module 0
    }
    if (player.StartDSPPluginByName(name, module) || !problems) continue;
    const int index = player.DSPPluginList().IndexOf(name);
    const auto item = index >= 0 ? player.DSPPluginList().Item(size_t(index)) : nullptr;
    problems->push_back(entry + ": " + (item ? item->Error() : "no such DSP plug-in in " + settings.PluginPath));
  }
}

}  // namespace ml
