// minilirra-cli demo [--output OUTPUT]: makes the demo tune, keeps it in AppDir and plays it.
#include "base/FileUtil.h"
#include "cli/CliCommand.h"
#include "cli/DemoTune.h"
#include "cli/PlaySession.h"

#include <cstdio>
#include <memory>

namespace {

mlcli::CliRun Setup(CLI::App& app, mlcli::CliContext& ctx) {
  auto output = std::make_shared<std::string>();
  mlcli::AddOutputOption(app, *output);
  return [&ctx, output] {
    mlcli::TPlaySessionOptions o;
    o.HaveOutput = !output->empty();
    if (o.HaveOutput) ml::ParseOutputTarget(*output, o.Output);
    const std::string folder = ctx.AppDir() + "Demo";
    std::string error;
    if (!ml::EnsureDirectory(folder) ||
        !ml::WriteFileAtomic(folder + "/demo.wav", mlcli::MakeDemoTuneWav(), 0644, &error)) {
      std::fprintf(stderr, "demo: cannot save %s/demo.wav: %s\n", folder.c_str(), error.c_str());
      return 1;
    }
    o.FileName = folder + "/demo.wav";
    return mlcli::RunPlaySession(o);
  };
}

const mlcli::CliCommand kDemo("demo", "play a short tune made on the spot (and keep it in the data folder)", Setup);

}  // namespace
