#include "cli/EffectOptions.h"

#include "dsp/dspEqualizer.h"
#include "playback/uPlayer.h"

#include <array>
#include <charconv>
#include <filesystem>

namespace mlcli {

namespace {

bool ParseInt(const std::string& text, int& value) {
  const char* end = text.data() + text.size();
  auto [p, ec] = std::from_chars(text.data(), end, value);
  return ec == std::errc() && p == end;
}

// A preset by number or name, or ten bands; bands must be within -20..20 dB.
bool ParseEqualizer(const std::string& text, std::array<int, ml::EQBandCount>& bands, std::string& why) {
  int preset = -1;
  if (!ParseInt(text, preset) || text.find(',') != std::string::npos) {
    for (size_t i = 0; i < ml::EQPresets.size(); ++i)
      if (ml::EQPresets[i].Name == text) preset = int(i);
  }
  if (preset >= 0 && text.find(',') == std::string::npos) {
    if (preset >= int(ml::EQPresets.size())) {
      why = "there are presets 0 to " + std::to_string(ml::EQPresets.size() - 1) + ", not " + text;
      return false;
    }
    for (int b = 0; b < ml::EQBandCount; ++b) bands[size_t(b)] = ml::EQPresets[size_t(preset)].Gains[size_t(b)];
    return true;
  }
  size_t count = 0, start = 0;
  for (;;) {
    const size_t comma = text.find(',', start);
    const std::string item = text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
    int db = 0;
    if (count >= bands.size() || !ParseInt(item, db) || db < -ml::EQMaxBandDb || db > ml::EQMaxBandDb) {
      why = "a preset (0 to 18 or its name) or ten band gains from -20 to 20 dB separated by commas, not \"" + text + "\"";
      return false;
    }
    bands[count++] = db;
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  if (count != bands.size()) {
    why = "ten band gains are needed, not " + std::to_string(count);
    return false;
  }
  return true;
}

}  // namespace

void AddEffectOptions(CLI::App& app, TEffectOptions& o) {
  std::string presets;
  for (size_t i = 0; i < ml::EQPresets.size(); ++i)
    presets += (i ? ", " : "") + std::to_string(i) + " " + std::string(ml::EQPresets[i].Name);
  app.add_option("--eq", o.Equalizer, "switch the equalizer on with a preset (" + presets +
                                          ") or ten band gains in dB, -20 to 20, as b1,...,b10")
      ->type_name("PRESET|B1,...,B10")
      ->check(CLI::Validator(
          [](std::string& text) {
            std::array<int, ml::EQBandCount> bands{};
            std::string why;
            return ParseEqualizer(text, bands, why) ? std::string() : why;
          },
          ""));
  app.add_option("--preamp", o.Preamp,
                 "the equalizer's preamplifier, -12 to 12 in steps of 5 %: -12 is 40 %, 12 is 160 % (switches the "
                 "equalizer on)")
      ->check(CLI::Range(-12, 12))
      ->type_name("N");
  app.add_option("--balance", o.Balance,
                 "the sound device's balance, 0 (left) to 100 (right), 50 the centre (as with --volume, a WAV "
                 "file gets the song without it)")
      ->check(CLI::Range(0, 100))
      ->type_name("N");
  app.add_option("--3d", o.Sound3D, "stereo widening, 0 (off) to 100")->check(CLI::Range(0, 100))->type_name("N");
  app.add_option("--dsp", o.DSPPlugin, "run the block through this DSP plug-in (a dsp_*.so file)")->type_name("PATH");
  app.add_option("--dsp-module", o.DSPModule, "the plug-in's module to run (default 0)")
      ->check(CLI::NonNegativeNumber)
      ->type_name("N");
}

bool ApplyEffectOptions(const TEffectOptions& o, ml::TPlayer& player, std::string& why) {
  // Each option replaces only what it names: a saved band setting stays under a new preamplifier.
  if (!o.Equalizer.empty()) {
    std::array<int, ml::EQBandCount> bands{};
    if (!ParseEqualizer(o.Equalizer, bands, why)) return false;
    for (int band = 0; band < ml::EQBandCount; ++band) player.SetEQBand(band, bands[size_t(band)]);
  }
  if (o.Preamp) player.SetPreamp(*o.Preamp);
  if (!o.Equalizer.empty() || o.Preamp) player.SetEQEnabled(true);
  if (o.Balance) player.SetBalance(*o.Balance);
  if (o.Sound3D) player.SetSound3DVolume(*o.Sound3D);
  if (o.DSPPlugin.empty()) return true;
  const std::filesystem::path path(o.DSPPlugin);
  const std::string name = path.filename().string();
  if (name.rfind("dsp_", 0) != 0 || path.extension() != ".so") {
    why = "--dsp takes a DSP plug-in library named dsp_*.so, not " + o.DSPPlugin;
    return false;
  }
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec)) {
    why = "no DSP plug-in at " + o.DSPPlugin;
    return false;
  }
  player.SetDSPPluginDirectory(path.parent_path().empty() ? "." : path.parent_path().string());
  for (const ml::TDSPRefusal& r : player.DSPPluginList().Refused())
    if (std::filesystem::path(r.FileName).filename() == name) {
      why = o.DSPPlugin + " is not a usable DSP plug-in: it " + r.Reason;
      return false;
    }
  const int index = player.DSPPluginList().IndexOf(name);
  if (!player.StartDSPPluginByName(name, o.DSPModule)) {
    auto item = player.DSPPluginList().Item(size_t(index));
    why = "DSP plug-in " + name + (item ? " " + item->Error() : std::string(" did not load"));
    return false;
  }
  return true;
}

}  // namespace mlcli
