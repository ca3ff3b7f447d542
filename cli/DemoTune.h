#pragma once
// A short tune made here from sine partials, for the first run and the demo command: about six
// seconds of a plucked melody over a bass line, 44.1 kHz 16-bit stereo.
#include <string>

namespace mlcli {

// The whole WAV file's bytes.
std::string MakeDemoTuneWav();

}  // namespace mlcli
