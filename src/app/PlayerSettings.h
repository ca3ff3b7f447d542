#pragma once
// The player's effects as the settings keep them: the equalizer (switch, ten bands, the
// preamplifier), 3D sound, and the DSP plug-ins (their folder and the modules to start, each
// "library file name|module index"). Balance stays with the window that owns its slider.
#include <string>
#include <vector>

namespace ml {

class TPlayer;
class TSettingMgr;

// Sets the player from the settings. A plug-in module that cannot be started is skipped and
// said in problems (when given): "dsp_x.so|2: no such DSP plug-in in FOLDER".
void ApplyEffectSettings(TPlayer& player, const TSettingMgr& settings, std::vector<std::string>* problems = nullptr);

}  // namespace ml
