#pragma once
// Plays one file through the real player from start (or a given point) to its end, on a small
// event loop of its own: what the command line's "play" and "demo" do.
#include "cli/EffectOptions.h"
#include "playback/OutputRegistry.h"

#include <cstdint>
#include <cstdio>
#include <string>

namespace ml {
class TSettingMgr;
}

namespace mlcli {

struct TPlaySessionOptions {
  std::string FileName;
  bool HaveOutput = false;  // false: the default device, or the null output when none opens
  ml::TOutputTarget Output;
  int64_t SeekMs = 0;
  int Volume = 100;
  // The effects saved in the settings, set before Effects (which override them); none when null.
  const ml::TSettingMgr* SavedEffects = nullptr;
  TEffectOptions Effects;
  bool Progress = true;  // print the progress line
  bool Spectrum = false;  // the spectrum display on the progress line (a terminal's)
  FILE* Out = stdout;
  FILE* Err = stderr;
};

// 0 when the song played to its end; 1 when no decoder opens the file, an effect option cannot be
// applied, the seek point is beyond it, or the output does not open or stops taking audio (each said on Err); 130 when interrupted
// (SIGINT/SIGTERM). "wav:-" writes the song to standard output, and every message to Err.
int RunPlaySession(const TPlaySessionOptions& options);

}  // namespace mlcli
