// minilirra-cli demo [--output OUTPUT]: makes the demo tune, keeps it in AppDir and plays it.
#include "cli/CliCommand.h"

#include "base/FileUtil.h"
#include "cli/PlaySession.h"
#include "cli/DemoTune.h"

#include <cstdio>

namespace {

int Demo(mlcli::CliContext& ctx) {
  mlcli::TPlaySessionOptions o;
  const auto& a = ctx.args;
  for (size_t i = 0; i < a.size(); ++i) {
    if (a[i] == "--output" && i + 1 < a.size()) {
      if (!ml::ParseOutputTarget(a[++i], o.Output)) {
        std::fprintf(stderr, "demo: --output takes alsa[:DEVICE], pulse[:SINK], wav:PATH or null\n");
        return 2;
      }
      o.HaveOutput = true;
    } else {
      std::fprintf(stderr, "usage: minilirra-cli demo [--output OUTPUT]\n");
      return 2;
    }
  }
  const std::string folder = ctx.appDir() + "Demo";
  std::string error;
  if (!ml::EnsureDirectory(folder) || !ml::WriteFileAtomic(folder + "/demo.wav", mlcli::MakeDemoTuneWav(), 0644, &error)) {
    std::fprintf(stderr, "demo: cannot save %s/demo.wav: %s\n", folder.c_str(), error.c_str());
    return 1;
  }
  o.FileName = folder + "/demo.wav";
  return mlcli::RunPlaySession(o);
}

const mlcli::CliCommand kDemo("demo", "[--output OUTPUT]  play a short tune made on the spot", Demo);

}  // namespace
