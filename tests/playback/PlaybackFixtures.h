#pragma once
// The generated audio fixtures (scripts/fixtures/playback-make.sh), made once per test binary,
// and the reference decoder's output to judge ours by.
#include "tests/support/TestSupport.h"

#include <cstdint>
#include <string>
#include <vector>

namespace mltest {

// Folder holding the fixtures; generated on first use.
const std::string& PlaybackFixtureDir();
std::string PlaybackFixture(const std::string& name);

// mpg123's decode of the whole file as interleaved 16-bit samples (no gapless trimming).
std::vector<int16_t> ReferenceDecode(const std::string& path, int* channels = nullptr);

// Bytes of a file as 16-bit little-endian samples.
std::vector<int16_t> AsSamples(const std::string& bytes);

}  // namespace mltest
