// How fast the player reads a lyric file and finds the line for a play position.
//   BM_Parse*/1048576: a 1 MB LRC file, parsed from memory and from disk (goal: 5 ms).
//   BM_ReferenceGbkDecode: the base converter alone over the same GBK file, for a load-free ratio.
//   BM_SystemGbkDecode: glibc's iconv over the same file, what the base converter's table beats.
//   BM_LineLookup/N: GetLineAt on a file of N lines at random positions (goal: O(log n)).
#include "base/GbkText.h"
#include "lyrics/LRCParse.h"
#include "tests/support/IconvReference.h"

#include <benchmark/benchmark.h>
#include <cstdio>
#include <random>
#include <string>
#include <unistd.h>

namespace {

// A realistic lyric: title tags, then timed lines of mixed Chinese and Latin text, some lines
// with two or three time tags (repeated choruses), every tenth word-timed.
std::string MakeLrc(size_t targetBytes) {
  std::string s = "[ti:测试歌曲]\r\n[ar:测试歌手]\r\n[al:专辑]\r\n[by:bench]\r\n[offset:0]\r\n";
  const char* words[] = {"我们", "一起", "走过", "the", "night", "风雨", "里的", "歌声", "love", "明天"};
  int line = 0;
  while (s.size() < targetBytes) {
    int ms = line * 2370;
    char tag[32];
    std::snprintf(tag, sizeof tag, "[%02d:%02d.%02d]", ms / 60000, ms / 1000 % 60, ms % 1000 / 10);
    s += tag;
    if (line % 7 == 3) {
      std::snprintf(tag, sizeof tag, "[%02d:%02d.%02d]", (ms + 600000) / 60000, ms / 1000 % 60, ms % 1000 / 10);
      s += tag;
    }
    for (int w = 0; w < 6; ++w) {
      if (line % 10 == 0) {
        std::snprintf(tag, sizeof tag, "<%02d:%02d.%02d>", ms / 60000, ms / 1000 % 60, w * 30);
        s += tag;
      }
      s += words[(line + w * 3) % 10];
      s += ' ';
    }
    s += "\r\n";
    ++line;
  }
  return s;
}

const std::string& Utf8Lrc() {
  static const std::string s = MakeLrc(1 << 20);
  return s;
}

void RunParse(benchmark::State& state, const std::string& bytes) {
  ml::TLRCParse p;
  for (auto _ : state) {
    if (!p.LoadFromBytes(bytes)) state.SkipWithError("parse failed");
    benchmark::DoNotOptimize(p.Lines.data());
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(bytes.size()));
  state.counters["lines"] = p.Count();
}

void BM_ParseUtf8(benchmark::State& state) { RunParse(state, Utf8Lrc()); }
void BM_ParseGbk(benchmark::State& state) {
  static const std::string gbk = ml::Utf8ToGbk(Utf8Lrc());
  RunParse(state, gbk);
}
void BM_ParseUtf16(benchmark::State& state) {
  static const std::string u16 = "\xFF\xFE" + ml::Utf8ToUtf16LE(Utf8Lrc());
  RunParse(state, u16);
}

// The yardstick measured in the same run: one pass of the base GBK converter over the same
// file, the least any reader of a GBK lyric must spend. Parse time over this time is a figure
// that does not move with the machine's load the way milliseconds do.
void BM_ReferenceGbkDecode(benchmark::State& state) {
  static const std::string gbk = ml::Utf8ToGbk(Utf8Lrc());
  for (auto _ : state) {
    std::string utf8 = ml::GbkToUtf8(gbk);
    benchmark::DoNotOptimize(utf8.data());
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(gbk.size()));
}

void BM_SystemGbkDecode(benchmark::State& state) {
  static const std::string gbk = ml::Utf8ToGbk(Utf8Lrc());
  for (auto _ : state) {
    std::string utf8 = mltest::IconvGb18030ToUtf8(gbk);
    benchmark::DoNotOptimize(utf8.data());
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(gbk.size()));
}

void BM_LoadFromFileGbk(benchmark::State& state) {
  const std::string gbk = ml::Utf8ToGbk(Utf8Lrc());
  char path[] = "/tmp/lyrics-bench-XXXXXX";
  int fd = mkstemp(path);
  if (fd < 0 || write(fd, gbk.data(), gbk.size()) != static_cast<ssize_t>(gbk.size())) {
    state.SkipWithError("cannot write the test file");
    return;
  }
  close(fd);
  ml::TLRCParse p;
  for (auto _ : state) {
    if (!p.LoadFromFile(path)) state.SkipWithError("load failed");
  }
  unlink(path);
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(gbk.size()));
}

void BM_LineLookup(benchmark::State& state) {
  const int64_t n = state.range(0);
  std::string lrc;
  for (int64_t i = 1; i <= n; ++i) {  // one line a second
    char line[64];
    std::snprintf(line, sizeof line, "[%lld:%02lld]x\n", static_cast<long long>(i / 60),
                  static_cast<long long>(i % 60));
    lrc += line;
  }
  ml::TLRCParse p;
  if (!p.LoadFromBytes(lrc) || p.Count() != n) {
    state.SkipWithError("fixture did not parse");
    return;
  }
  std::mt19937 rng(42);
  std::uniform_int_distribution<int32_t> pos(0, static_cast<int32_t>(n * 1000 + 1000));
  std::vector<int32_t> positions(4096);
  for (auto& t : positions) t = pos(rng);
  size_t k = 0;
  ml::TLineInfo info;
  for (auto _ : state) {
    p.GetLineAt(positions[k++ & 4095], info);
    benchmark::DoNotOptimize(info.Index);
  }
  state.SetComplexityN(n);
}

}  // namespace

BENCHMARK(BM_ParseUtf8)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ParseGbk)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ParseUtf16)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadFromFileGbk)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReferenceGbkDecode)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SystemGbkDecode)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LineLookup)->RangeMultiplier(8)->Range(64, 262144)->Complexity(benchmark::oLogN);
