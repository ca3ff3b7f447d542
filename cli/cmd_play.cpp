// minilirra-cli play FILE [--output OUTPUT] [--seek MS] [--volume N] [--quiet]
//                  [--spectrum] [--eq PRESET|B1,...,B10] [--preamp DB] [--balance N] [--3d N] [--dsp PATH [--dsp-module N]]
#include "cli/CliCommand.h"
#include "app/uSettingMgr.h"
#include "cli/CliLibrary.h"
#include "cli/PlaySession.h"
#include "playback/DecoderRegistry.h"

#include <climits>
#include <cstdio>
#include <filesystem>
#include <memory>

namespace {

mlcli::CliRun Setup(CLI::App& app, mlcli::CliContext& context) {
  auto o = std::make_shared<mlcli::TPlaySessionOptions>();
  auto output = std::make_shared<std::string>();
  auto quiet = std::make_shared<bool>(false);
  app.add_option("FILE", o->FileName, "the audio file to play")->required();
  mlcli::AddOutputOption(app, *output);
  app.add_option("--seek", o->SeekMs, "start this many milliseconds into the song")
      ->check(CLI::Range(int64_t(0), int64_t(INT32_MAX)))
      ->type_name("MS");
  app.add_option("--volume", o->Volume, "volume, 0 to 100 (default 100)")->check(CLI::Range(0, 100))->type_name("N");
  app.add_flag("--quiet", *quiet, "print no progress line");
  app.add_flag("--spectrum", o->Spectrum, "show the spectrum on the progress line (on a terminal)");
  mlcli::AddEffectOptions(app, o->Effects);
  return [o, output, quiet, &context] {
    // The equalizer, 3D and plug-ins the player saved; the options given here override them.
    const auto saved = mlcli::LoadPlayerSettings(context);
    o->SavedEffects = saved.get();
    o->Progress = !*quiet;
    o->HaveOutput = !output->empty();
    if (o->HaveOutput) ml::ParseOutputTarget(*output, o->Output);
    // A kind of file that no decoder or plug-in claims is refused by its name, with the reason.
    std::error_code ec;
    if (std::string why = ml::NotPlayableReason(o->FileName); !why.empty() && std::filesystem::exists(o->FileName, ec)) {
      std::fprintf(stderr, "cannot play %s: %s\n", o->FileName.c_str(), why.c_str());
      return 1;
    }
    return mlcli::RunPlaySession(*o);
  };
}

const mlcli::CliCommand kPlay("play", "play an audio file to its end", Setup);

}  // namespace
