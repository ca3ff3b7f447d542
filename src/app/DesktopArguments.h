#pragma once
// The desktop program's own command line, before the start-up core reads it: files named
// without a command word become "/open" (the first) and "/list" (the rest), so "minilirra a.mp3
// b.mp3" plays a.mp3 and queues b.mp3, in this instance or the one already running. The command
// words ("/open", "/list", "/link", "/MainMode", "/MiniMode", "/update") and "--data-dir DIR"
// pass through as they are.
#include "playback/OutputRegistry.h"

#include <string>
#include <vector>

namespace ml {

struct TDesktopArguments {
  std::vector<std::string> StartupArgs;  // for TStartupOptions::args
  bool Help = false;
  bool HaveOutput = false;
  TOutputTarget Output;
  std::string Error;  // a usage error, said as is
};

TDesktopArguments ParseDesktopArguments(const std::vector<std::string>& args);

}  // namespace ml
