// The search server on one thread: searches answered per second, with p50 and p99 latency, on a
// catalogue of 100,000 songs with generated Chinese names, for keywords of 1, 2, 3 and 6
// characters. Each search goes through the role table as a datagram would: the record read, the
// ranked result (cached per keyword), the page's rows, the parts written to a counting sender.
// BM_CatalogueQuery measures the catalogue's queries alone (the ranked list of a keyword and one
// page of rows), which is what every search would cost without the cache.
//
// The catalogue is generated once into /tmp/ml-search-bench-100k.db (about a minute) and kept.
#include <benchmark/benchmark.h>

#include <arpa/inet.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "base/GbkText.h"
#include "net/SearchRecords.h"
#include "service/Catalogue.h"
#include "service/ServiceCore.h"
#include "service/ServiceStore.h"
#include "service/WorkPool.h"
#include "tests/net/NetTestTools.h"

namespace {

using namespace mlsvc;

constexpr int kSongs = 100000;
constexpr int kKeywords = 1000;  // distinct keywords of each length, cycled
const char* const kDbPath = "/tmp/ml-search-bench-100k.db";

// Common characters of song titles and names.
const char32_t kPool[] =
    U"爱你我的心中天空夜星光月亮风雨花开梦想远方回家路上时间记忆青春故事城市海边山谷温柔"
    U"寂静孤独快乐幸福永远思念离别相遇等待约定季节春夏秋冬雪落云飞鸟歌声音乐舞蹈眼泪微笑"
    U"明天昨日今晚清晨黄昏彩虹阳光大地河流森林草原世界朋友恋人家人母亲父亲孩子少年姑娘英雄"
    U"自由希望勇气力量追逐奔跑飞翔燃烧沉默呼吸拥抱告别守护陪伴遇见忘记相信唱给听见看见红蓝白";
const char32_t kSurnames[] = U"王李张刘陈杨黄赵周吴徐孙马朱胡郭何林罗高";

struct TCounter final : TDatagramSender {
  int64_t Datagrams = 0;
  bool Send(uint8_t, ml::TLRGUID, const void*, size_t, uint32_t, uint16_t, uint32_t) override {
    ++Datagrams;
    return true;
  }
};

std::string Pick(std::mt19937& rng, const char32_t* pool, size_t poolSize, int n) {
  std::string s;
  for (int i = 0; i < n; ++i) ml::AppendUtf8(s, pool[rng() % poolSize]);
  return s;
}

void Generate(const std::string& path) {
  std::filesystem::remove(path);
  TServiceStore store(path, true);
  TCatalogue catalogue(path);
  std::mt19937 rng(20261210);
  const size_t pool = std::size(kPool) - 1, surnames = std::size(kSurnames) - 1;
  std::vector<TCatalogueSong> batch;
  for (int i = 0; i < kSongs; ++i) {
    TCatalogueSong s;
    for (int b = 0; b < 4; ++b) reinterpret_cast<uint32_t*>(s.Digest.data())[b] = uint32_t(rng());
    s.Artist = Pick(rng, kSurnames, surnames, 1) + Pick(rng, kPool, pool, 1 + int(rng() % 2));
    s.Title = Pick(rng, kPool, pool, 4 + int(rng() % 7));
    s.Album = Pick(rng, kPool, pool, 4);
    s.FileName = s.Artist + " - " + s.Title + ".mp3";
    s.Path = "/music/" + s.FileName;
    s.Size = 3'000'000 + int64_t(rng() % 5'000'000);
    s.DurationMs = 180'000 + int32_t(rng() % 120'000);
    s.BitrateKbps = 128;
    batch.push_back(std::move(s));
    if (batch.size() == 5000) {
      catalogue.Add(batch);
      batch.clear();
    }
  }
  catalogue.Add(batch);
}

// Keywords of n characters that occur in the catalogue: pieces of titles.
std::vector<std::string> Keywords(int n) {
  std::mt19937 rng{uint32_t(n)};
  std::vector<std::string> out;
  const size_t pool = std::size(kPool) - 1;
  if (n == 1) {
    for (int i = 0; i < kKeywords; ++i) out.push_back(Pick(rng, kPool, pool, 1));
    return out;
  }
  TCatalogue catalogue(kDbPath);
  for (int64_t id = 1; out.size() < size_t(kKeywords); id += 97) {
    const auto songs = catalogue.Songs(std::vector<int64_t>{id});
    if (songs.empty()) break;
    // The title is the file name between " - " and ".mp3".
    std::string name = songs[0].FileName;
    const size_t dash = name.find(" - ");
    std::string title = name.substr(dash + 3, name.size() - dash - 3 - 4);
    std::vector<std::string> chars;
    for (size_t i = 0; i < title.size();) {
      const size_t len = (uint8_t(title[i]) >= 0xE0) ? 3 : 1;
      chars.push_back(title.substr(i, len));
      i += len;
    }
    if (int(chars.size()) < n) continue;
    const size_t at = rng() % (chars.size() - size_t(n) + 1);
    std::string k;
    for (int i = 0; i < n; ++i) k += chars[at + size_t(i)];
    out.push_back(k);
  }
  return out;
}

struct TFixture {
  TServiceConfig cfg;
  ml::ManualClock clock;
  TCounter list, main;
  TServiceLog log{TLogLevel::Error};
  TWorkPool workers{0, 1};
  std::unique_ptr<TServiceStore> store;
  std::unique_ptr<TServiceCore> core;
  TFixture() {
    if (!std::filesystem::exists(kDbPath)) Generate(kDbPath);
    cfg.DbPath = kDbPath;
    cfg.AdvertiseIP = htonl(INADDR_LOOPBACK);
    cfg.AdvertisePort = 8800;
    cfg.SearchRate = cfg.SearchBurst = cfg.ReplyBytesPerSecond = 1e12;
    clock.Set(ml::Millis(1'790'000'000'000));
    store = std::make_unique<TServiceStore>(kDbPath, false);
    core = std::make_unique<TServiceCore>(cfg, *store, clock, list, main, workers, log);
  }
};

TFixture& F() {
  static TFixture f;
  return f;
}

void Report(benchmark::State& state, std::vector<double>& latUs, int64_t datagrams) {
  std::sort(latUs.begin(), latUs.end());
  state.counters["p50_us"] = latUs[latUs.size() / 2];
  state.counters["p99_us"] = latUs[latUs.size() * 99 / 100];
  state.counters["max_us"] = latUs.back();
  state.counters["parts_per_search"] = double(datagrams) / double(latUs.size());
  state.SetItemsProcessed(int64_t(latUs.size()));
}

void BM_SearchRole(benchmark::State& state) {
  TFixture& f = F();
  const auto words = Keywords(int(state.range(0)));
  std::vector<mlnettest::Bytes> records;
  int32_t number = 0;
  for (const std::string& w : words)
    records.push_back(mlnettest::Written(ml::WriteSearchRequest,
                                         ml::TSearchRequest{++number, 5004, 0, ml::Utf8ToGbk(w), 0, ~0u}));
  std::vector<double> latUs;
  const int64_t before = f.main.Datagrams;
  size_t i = 0;
  for (auto _ : state) {
    const auto& rec = records[i++ % records.size()];
    ml::TOpenedEnvelope env;
    env.Kind = ml::Envelope::Keyed;
    env.Payload = rec.data();
    env.PayloadLength = rec.size();
    const auto t0 = std::chrono::steady_clock::now();
    f.core->Dispatch(TServer::Main, env, htonl(0x0A000001), 7000);
    latUs.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - t0).count());
  }
  Report(state, latUs, f.main.Datagrams - before);
}

void BM_CatalogueQuery(benchmark::State& state) {
  TFixture& f = F();
  const auto words = Keywords(int(state.range(0)));
  std::vector<double> latUs;
  size_t i = 0, matches = 0;
  for (auto _ : state) {
    const std::string folded = FoldCase(words[i++ % words.size()]);
    const auto t0 = std::chrono::steady_clock::now();
    const auto ids = f.core->Catalogue().Search(folded);
    const auto rows = f.core->Catalogue().Songs(std::vector<int64_t>(ids.begin(), ids.begin() + std::min<size_t>(20, ids.size())));
    latUs.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - t0).count());
    matches += ids.size();
    benchmark::DoNotOptimize(rows);
  }
  state.counters["matches"] = double(matches) / double(latUs.size());
  Report(state, latUs, 0);
}

}  // namespace

BENCHMARK(BM_SearchRole)->Arg(1)->Arg(2)->Arg(3)->Arg(6)->Iterations(200000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_CatalogueQuery)->Arg(1)->Arg(2)->Arg(3)->Arg(6)->Iterations(3000)->Unit(benchmark::kMicrosecond);
