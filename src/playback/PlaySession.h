#pragma once
// Plays one file through the real player from start (or a given point) to its end, on a small
// event loop of its own: what the command line's "play" and "demo" do.
#include "playback/uOutputModule.h"

#include <cstdint>
#include <cstdio>
#include <string>

namespace ml {

struct TPlaySessionOptions {
  std::string FileName;
  bool HaveOutput = false;  // false: the default device, or the null output when none opens
  TOutputTarget Output;
  int64_t SeekMs = 0;
  int Volume = 100;
  bool Progress = true;  // print the progress line
  FILE* Out = stdout;
  FILE* Err = stderr;
};

// The sound server if one answers, else the sound card's default PCM, else the null output
// (message says so; empty when a device was found).
TOutputTarget DefaultOutputTarget(std::string& message);

// 0 when the song played to its end; 1 when no decoder opens the file or the seek point is
// beyond it; 130 when interrupted (SIGINT/SIGTERM).
int RunPlaySession(const TPlaySessionOptions& options);

}  // namespace ml
