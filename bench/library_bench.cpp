// Library load and save at 100,000 songs, adding a folder of tagged files, and digest
// throughput beside md5sum on the same files in the same run.
#include "base/FileUtil.h"
#include "library/MusicFileMgr.h"

#include <benchmark/benchmark.h>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <malloc.h>
#include <memory>
#include <string>

using namespace ml;
namespace fs = std::filesystem;

namespace {

const fs::path& WorkDir() {
  static const fs::path dir = [] {
    char tmpl[] = "/tmp/ml-library-bench-XXXXXX";
    return fs::path(mkdtemp(tmpl));
  }();
  return dir;
}

// A library of n local songs as a real collection looks: long paths, tags, one big list. The
// songs live under root; with createFiles each gets an (empty) file there, unchanged since it
// was hashed, so loading finds every file in place.
void Fill(TMusicFileMgr& mgr, int n, const std::string& root, bool createFiles) {
  TPlayList* list = mgr.NewPlayList("[默认]");
  for (int i = 0; i < n; ++i) {
    TShareFileInfo e;
    const std::string folder = root + "/歌手" + std::to_string(i % 500) + "/专辑" + std::to_string(i / 500 % 37);
    e.FileName = folder + "/" + std::to_string(i) + " - 一首很好听的歌.mp3";
    if (createFiles) {
      fs::create_directories(folder);
      std::ofstream(e.FileName, std::ios::binary).flush();
      e.LastWriteTime = StatFile(e.FileName).lastWriteTime;
    }
    e.FileSize = 4000000 + static_cast<uint64_t>(i);
    e.FileHash = LRMD5::MD5String(std::to_string(i));
    e.Caption = std::to_string(i) + " - 一首很好听的歌";
    e.Title = "一首很好听的歌";
    e.Artist = "歌手" + std::to_string(i % 500);
    e.Album = "专辑" + std::to_string(i % 37);
    e.Duration = 240000;
    e.Bitrate = 192;
    e.SampleRate = 44100;
    e.Channels = 2;
    e.FileNameCount = 1;
    list->Items.push_back(mgr.AddCopy(e));
  }
}

// The library of songs on a disk that is not mounted (their folders are missing, so they are
// kept without a look at each file), or of songs whose files are all there.
const std::string& LibraryFile(bool filesPresent) {
  static const std::string unmounted = [] {
    std::string p = (WorkDir() / "MusicFiles.xml").string();
    TMusicFileMgr mgr;
    Fill(mgr, 100000, "/media/music-not-mounted", false);
    mgr.Save(p);
    return p;
  }();
  static const std::string present = [] {
    std::string p = (WorkDir() / "MusicFilesPresent.xml").string();
    TMusicFileMgr mgr;
    Fill(mgr, 100000, (WorkDir() / "songs").string(), true);
    mgr.Save(p);
    return p;
  }();
  return filesPresent ? present : unmounted;
}

void BM_Load100k(benchmark::State& state) {
  const std::string path = LibraryFile(state.range(0) != 0);
  for (auto _ : state) {
    auto mgr = std::make_unique<TMusicFileMgr>();
    const size_t before = mallinfo2().uordblks;
    mgr->Load(path);
    state.counters["bytes_per_song"] = double(mallinfo2().uordblks - before) / double(mgr->EntryCount());
    benchmark::DoNotOptimize(mgr->EntryCount());
    state.PauseTiming();  // freeing the library is not part of loading it
    mgr.reset();
    state.ResumeTiming();
  }
  state.counters["file_MB"] = double(fs::file_size(path)) / 1e6;
}
BENCHMARK(BM_Load100k)->ArgName("files_present")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_Save100k(benchmark::State& state) {
  TMusicFileMgr mgr;
  mgr.Load(LibraryFile(false));
  const std::string out = (WorkDir() / "Saved.xml").string();
  for (auto _ : state) benchmark::DoNotOptimize(mgr.Save(out));
}
BENCHMARK(BM_Save100k)->Unit(benchmark::kMillisecond)->Iterations(3);

// 5,000 small MP3 files with their own ID3v2 tags, made from one lame encode.
const std::vector<std::string>& TaggedFiles() {
  static const std::vector<std::string> files = [] {
    const fs::path dir = WorkDir() / "tagged";
    fs::create_directories(dir);
    const std::string seed = (WorkDir() / "seed.mp3").string();
    std::system(("sox -n -r 44100 -c 2 -t wav - synth 2 sine 330 2>/dev/null | lame --quiet - " + seed).c_str());
    std::ifstream in(seed, std::ios::binary);
    const std::string audio((std::istreambuf_iterator<char>(in)), {});
    std::vector<std::string> out;
    for (int i = 0; i < 5000; ++i) {
      auto frame = [](const char* id, const std::string& text) {
        std::string body = "\x03" + text;  // UTF-8
        std::string f = id;
        for (int s = 3; s >= 0; --s) f += static_cast<char>((body.size() >> (8 * s)) & 0xFF);
        return f + std::string("\0\0", 2) + body;
      };
      std::string frames = frame("TIT2", "歌曲 " + std::to_string(i)) + frame("TPE1", "歌手 " + std::to_string(i % 50)) +
                           frame("TALB", "专辑");
      std::string tag = "ID3\x04";
      tag += std::string("\0\0", 2);
      for (int s = 3; s >= 0; --s) tag += static_cast<char>((frames.size() >> (7 * s)) & 0x7F);
      std::string path = (dir / (std::to_string(i) + ".mp3")).string();
      std::ofstream(path, std::ios::binary) << tag << frames << audio;
      out.push_back(path);
    }
    return out;
  }();
  return files;
}

void BM_AddTaggedFiles(benchmark::State& state) {
  const auto& files = TaggedFiles();
  for (auto _ : state) {
    TMusicFileMgr mgr;
    for (const auto& f : files) benchmark::DoNotOptimize(mgr.AddFile(f));
  }
  state.counters["files_per_s"] = benchmark::Counter(double(files.size()), benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_AddTaggedFiles)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

void BM_DigestLRMD5(benchmark::State& state) {
  const auto& files = TaggedFiles();
  uint64_t bytes = 0;
  for (auto _ : state)
    for (const auto& f : files) {
      benchmark::DoNotOptimize(LRMD5::MD5File(f));
      bytes += fs::file_size(f);
    }
  state.SetBytesProcessed(static_cast<int64_t>(bytes));
}
BENCHMARK(BM_DigestLRMD5)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

void BM_DigestMd5sum(benchmark::State& state) {
  const auto& files = TaggedFiles();
  uint64_t bytes = 0;
  for (const auto& f : files) bytes += fs::file_size(f);
  const std::string cmd = "cd " + (WorkDir() / "tagged").string() + " && md5sum *.mp3 > /dev/null";
  for (auto _ : state) benchmark::DoNotOptimize(std::system(cmd.c_str()));
  state.SetBytesProcessed(static_cast<int64_t>(bytes * state.iterations()));
}
BENCHMARK(BM_DigestMd5sum)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  fs::remove_all(WorkDir());
}
