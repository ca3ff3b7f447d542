#pragma once
// The sound effects as the command line sets them: --eq, --preamp, --balance, --3d, --dsp and
// --dsp-module on play (and demo), applied to the player before the song opens.
#include <CLI/CLI.hpp>

#include <optional>
#include <string>

namespace ml {
class TPlayer;
}

namespace mlcli {

struct TEffectOptions {
  std::string Equalizer;  // a preset (number or name) or ten comma-separated dB values
  std::optional<int> Preamp, Balance, Sound3D;
  std::string DSPPlugin;  // a dsp_*.so file
  int DSPModule = 0;
};

void AddEffectOptions(CLI::App& command, TEffectOptions& options);

// Sets the player's effects; false with why (a preset or band list it does not take, a plug-in
// that is refused or will not start).
bool ApplyEffectOptions(const TEffectOptions& options, ml::TPlayer& player, std::string& why);

}  // namespace mlcli
