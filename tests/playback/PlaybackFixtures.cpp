#include "tests/playback/PlaybackFixtures.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

namespace mltest {

const std::string& PlaybackFixtureDir() {
  static std::unique_ptr<TempDir> dir;
  static std::string path;
  if (!dir) {
    dir = std::make_unique<TempDir>();
    path = dir->Path().string();
    int rc = -1;
    const std::string said = RunCapture(SourceDir() + "/scripts/fixtures/playback-make.sh '" + path + "' 2>&1", &rc);
    if (rc != 0) ADD_FAILURE() << "fixture script failed (exit " << rc << "):\n" << said;
  }
  return path;
}

std::string PlaybackFixture(const std::string& name) { return PlaybackFixtureDir() + "/" + name; }

std::vector<int16_t> AsSamples(const std::string& bytes) {
  std::vector<int16_t> s(bytes.size() / 2);
  std::memcpy(s.data(), bytes.data(), s.size() * 2);
  return s;
}

std::vector<int16_t> ReferenceDecode(const std::string& path, int* channels) {
  int rc = -1;
  std::string pcm = RunCapture("mpg123 --no-gapless -q -e s16 -s '" + path + "' 2>/dev/null", &rc);
  if (channels) {
    std::string ch = RunCapture("ffprobe -v error -select_streams a:0 -show_entries stream=channels "
                                "-of csv=p=0 '" + path + "'");
    *channels = std::atoi(ch.c_str());
  }
  return AsSamples(pcm);
}

}  // namespace mltest
