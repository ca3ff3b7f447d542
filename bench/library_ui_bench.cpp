// The playlist box with 100,000 songs: giving it the list (model and layout), its first paint,
// and a page of scrolling painted (offscreen).
#include "library/ui/uLuiPlayListBox.h"

#include <QApplication>

#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <vector>

namespace {

constexpr int kSongs = 100'000;

const std::vector<ml::TPlayListBoxRow>& Rows() {
  static const std::vector<ml::TPlayListBoxRow> rows = [] {
    std::vector<ml::TPlayListBoxRow> r;
    r.reserve(kSongs);
    for (int i = 0; i < kSongs; ++i)
      r.push_back({"Singer " + std::to_string(i % 977) + " - Song number " + std::to_string(i), 60'000 + i % 240'000, false, true});
    return r;
  }();
  return rows;
}

std::unique_ptr<ml::TLuiPlayListBox> MakeBox() {
  auto box = std::make_unique<ml::TLuiPlayListBox>();
  box->resize(310, 280);
  box->Model().SetSource([] { return Rows().size(); }, [](size_t i) { return Rows()[i]; });
  box->doItemsLayout();
  return box;
}

void BM_PlayListBoxModelAndLayout(benchmark::State& state) {
  Rows();
  for (auto _ : state) benchmark::DoNotOptimize(MakeBox());
}
BENCHMARK(BM_PlayListBoxModelAndLayout)->Unit(benchmark::kMillisecond);

void BM_PlayListBoxFirstPaint(benchmark::State& state) {
  Rows();
  for (auto _ : state) {
    auto box = MakeBox();
    benchmark::DoNotOptimize(box->grab());
  }
}
BENCHMARK(BM_PlayListBoxFirstPaint)->Unit(benchmark::kMillisecond);

void BM_PlayListBoxScrollAPage(benchmark::State& state) {
  auto box = MakeBox();
  box->grab();
  int top = 0;
  for (auto _ : state) {
    top = (top + box->VisibleRowCount()) % (kSongs - 100);
    box->SetTopRow(top);
    benchmark::DoNotOptimize(box->grab());
  }
}
BENCHMARK(BM_PlayListBoxScrollAPage)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
