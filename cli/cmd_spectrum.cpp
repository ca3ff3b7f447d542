// minilirra-cli spectrum FILE --at MS [--json]: the spectrum display's 32 columns for the audio
// at that point of the song, as the player's analysis and the display's bars compute them on a
// 40-pixel-high display (column 0 is the lowest frequencies; the display draws it at the right).
#include "cli/CliCommand.h"
#include "cli/CliJson.h"
#include "dsp/visSpectrum.h"
#include "playback/DecoderRegistry.h"
#include "playback/uPlayerModule.h"

#include <array>
#include <climits>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr int kWidth = 128, kHeight = 40;
// As much of the song as the player hands the spectrum on one tick.
constexpr uint32_t kBlockBytes = 8192;

struct TSpectrumOptions {
  std::string FileName;
  int64_t AtMs = 0;
  bool Json = false;
};

int Run(const TSpectrumOptions& o) {
  const auto decoders = ml::CreateDecoders();
  std::string why;
  const int index = ml::OpenWithFirstDecoder(decoders, o.FileName, false, why);
  if (index < 0) {
    std::fprintf(stderr, "cannot read %s: %s\n", o.FileName.c_str(),
                 why.empty() ? "not an audio file this player can decode" : why.c_str());
    return 1;
  }
  ml::TDecoderModule& d = *decoders[size_t(index)];
  ml::TDecoderFormat f;
  d.GetFormat(f);
  if (f.DurationMs <= 0 || o.AtMs >= f.DurationMs) {
    std::fprintf(stderr, "%s is %s long: nothing plays at %lld ms\n", o.FileName.c_str(),
                 ml::FormatTimeText(f.DurationMs / 1000).c_str(), static_cast<long long>(o.AtMs));
    return 1;
  }
  if (o.AtMs > 0) d.Seek(float(double(o.AtMs) / f.DurationMs));
  const int32_t at = d.GetPositionMs();
  std::vector<uint8_t> block(kBlockBytes);
  uint32_t filled = 0;
  // A decoder may hand back nothing now and then (a frame it skips); one that keeps doing so is
  // at its end for our purpose.
  for (int idle = 0; filled < kBlockBytes && idle < 64;) {
    uint32_t n = kBlockBytes - filled;
    const bool more = d.Read(block.data() + filled, n);
    filled += n;
    if (!more) break;
    idle = n == 0 ? idle + 1 : 0;
  }
  d.GetFormat(f);
  d.Close();

  ml::TDCSpectrum spectrum;
  spectrum.UsePlayerSettings();
  spectrum.Process(block.data(), filled, false, f.Channels(), f.BitsPerSample);
  std::array<float, ml::SpectrumLevelCount> levels;
  ml::SpectrumLevels(spectrum.Data(), levels);
  ml::TSpectrumBars bars(kWidth, kHeight);
  bars.ShowLevels(levels);

  std::vector<int> heights;
  int loudest = 0;
  for (int c = 0; c < bars.ColumnCount(); ++c) {
    heights.push_back(bars.Bar(c));
    if (bars.Bar(c) > bars.Bar(loudest)) loudest = c;
  }
  const double binHz = double(f.SampleRate) / spectrum.SampleSkip() / ml::FFTSizeInt(spectrum.FFTSize());
  const double columnHz = binHz * bars.BinsPerColumn();
  if (o.Json) {
    mlcli::PrintJson({{"file", o.FileName},
                      {"at_ms", at},
                      {"height", kHeight},
                      {"column_hz", columnHz},
                      {"columns", heights},
                      {"loudest_column", loudest}});
    return 0;
  }
  std::printf("%s at %d ms: %d columns of %.0f Hz, 0 the lowest, heights out of %d\n", o.FileName.c_str(), at,
              bars.ColumnCount(), columnHz, kHeight);
  for (int row = kHeight; row > 0; row -= 5) {
    std::string line = "  ";
    for (int h : heights) line += h >= row ? "#" : h > row - 5 ? "." : " ";
    std::printf("%s\n", line.c_str());
  }
  std::string numbers = " ";
  for (int h : heights) numbers += " " + std::to_string(h);
  std::printf("%s\n", numbers.c_str());
  return 0;
}

mlcli::CliRun Setup(CLI::App& app, mlcli::CliContext&) {
  auto o = std::make_shared<TSpectrumOptions>();
  app.add_option("FILE", o->FileName, "the audio file")->required();
  app.add_option("--at", o->AtMs, "the point of the song, in milliseconds")
      ->required()
      ->check(CLI::Range(int64_t(0), int64_t(INT32_MAX)))
      ->type_name("MS");
  app.add_flag("--json", o->Json, "print JSON");
  return [o] { return Run(*o); };
}

const mlcli::CliCommand kSpectrum("spectrum", "show the spectrum display's columns at a point of a song", Setup);

}  // namespace
