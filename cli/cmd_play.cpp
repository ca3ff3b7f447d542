// minilirra-cli play FILE [--output OUTPUT] [--seek MS] [--volume N]
#include "cli/CliCommand.h"

#include "cli/PlaySession.h"
#include "base/StrUtil.h"

#include <cstdint>
#include <cstdio>

namespace {

int Play(mlcli::CliContext& ctx) {
  mlcli::TPlaySessionOptions o;
  const auto& a = ctx.args;
  for (size_t i = 0; i < a.size(); ++i) {
    const bool hasValue = i + 1 < a.size();
    if (a[i] == "--output" && hasValue) {
      if (!ml::ParseOutputTarget(a[++i], o.Output)) {
        std::fprintf(stderr, "play: --output takes alsa[:DEVICE], pulse[:SINK], wav:PATH or null\n");
        return 2;
      }
      o.HaveOutput = true;
    } else if (a[i] == "--seek" && hasValue) {
      const auto v = ml::ParseInt(a[++i]);
      if (!v || *v < 0 || *v > INT32_MAX) {
        std::fprintf(stderr, "play: --seek takes a position in milliseconds\n");
        return 2;
      }
      o.SeekMs = *v;
    } else if (a[i] == "--volume" && hasValue) {
      const auto v = ml::ParseInt(a[++i]);
      if (!v || *v < 0 || *v > 100) {
        std::fprintf(stderr, "play: --volume takes 0 to 100\n");
        return 2;
      }
      o.Volume = static_cast<int>(*v);
    } else if (a[i] == "--quiet") {
      o.Progress = false;
    } else if (o.FileName.empty() && !a[i].empty() && a[i][0] != '-') {
      o.FileName = a[i];
    } else {
      std::fprintf(stderr, "play: unexpected %s\n", a[i].c_str());
      return 2;
    }
  }
  if (o.FileName.empty()) {
    std::fprintf(stderr, "usage: minilirra-cli play FILE [--output OUTPUT] [--seek MS] [--volume N] [--quiet]\n");
    return 2;
  }
  return mlcli::RunPlaySession(o);
}

const mlcli::CliCommand kPlay("play", "FILE [--output alsa[:DEV]|pulse[:SINK]|wav:PATH|null] [--seek MS] [--volume N]",
                              Play);

}  // namespace
