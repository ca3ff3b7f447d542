// Tag reading speed: TTagInfo over a folder of 2,000 files made from the tool-written fixture
// set (MP3 with ID3v1/ID3v2.3/ID3v2.4, VBR MP3, WMA, Ogg Vorbis, WAV, APE), as when a user adds
// a whole music folder to a playlist. The files are read from the page cache, so this measures
// the readers, not the disk.
#include "media/uSongName.h"
#include "media/APEtag.h"
#include "media/MPEGaudio.h"
#include "media/OggVorbis.h"
#include "media/WAVfile.h"
#include "media/WMAfile.h"
#include "media/uTagInfo.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdlib>
#include <stdexcept>
#include <unistd.h>
#include <filesystem>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr int kFiles = 2000;

struct Folder {
  fs::path dir;
  std::vector<std::string> files;
  Folder() {
    dir = fs::temp_directory_path() / ("ml-bench-media-" + std::to_string(::getpid()));
    fs::create_directories(dir / "templates");
    std::string cmd = "bash '" ML_SOURCE_DIR "/scripts/fixtures/media-tags.sh' '" + (dir / "templates").string() +
                      "' >/dev/null 2>&1";
    if (std::system(cmd.c_str()) != 0) throw std::runtime_error("fixture script failed");
    std::vector<fs::path> templates;
    for (auto& e : fs::directory_iterator(dir / "templates"))
      if (e.path().filename() != "manifest.tsv") templates.push_back(e.path());
    std::sort(templates.begin(), templates.end());
    for (int i = 0; i < kFiles; ++i) {
      const fs::path& t = templates[i % templates.size()];
      fs::path f = dir / (std::to_string(i) + t.extension().string());
      fs::copy_file(t, f);
      files.push_back(f.string());
    }
  }
  ~Folder() { fs::remove_all(dir); }
};

Folder& TheFolder() {
  static Folder folder;
  return folder;
}

void BM_TagInfoFolder(benchmark::State& state) {
  Folder& folder = TheFolder();
  size_t recognised = 0;
  for (auto _ : state) {
    recognised = 0;
    for (const auto& f : folder.files) {
      ml::TTagInfo tags;
      ml::TMediaInfo info;
      if (tags.Load(f) && tags.GetMediaInfo(info)) ++recognised;
      benchmark::DoNotOptimize(info);
    }
  }
  if (recognised != folder.files.size()) state.SkipWithError("a file was not recognised");
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * folder.files.size()));
}
BENCHMARK(BM_TagInfoFolder)->Unit(benchmark::kMillisecond);

void BM_ParseSongName(benchmark::State& state) {
  ml::TSongNameParts parts;
  for (auto _ : state) {
    ml::ParseSongName("王五 - K歌之夜（粤语版）.wma", parts);
    benchmark::DoNotOptimize(parts);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ParseSongName);

}  // namespace
