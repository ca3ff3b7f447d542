#include "cli/PlaySession.h"

#include "app/PlayerSettings.h"
#include "base/EventLoop.h"
#include "dsp/visSpectrum.h"
#include "playback/uOutputModuleFactory.h"
#include "playback/uPlayer.h"

#include <atomic>
#include <csignal>
#include <unistd.h>

namespace mlcli {

using namespace ml;

namespace {

std::atomic<bool> g_interrupted{false};

void OnSignal(int) { g_interrupted = true; }

}  // namespace

int RunPlaySession(const TPlaySessionOptions& options) {
  TPlaySessionOptions o = options;
  TOutputTarget target = o.Output;
  if (!o.HaveOutput) {
    std::string message;
    target = TOutputModuleFactory::DefaultTarget(message);
    if (!message.empty()) std::fprintf(o.Err, "%s\n", message.c_str());
  }
  // The song itself goes to standard output: what we say goes to standard error.
  if (target.Kind == TOutputKind::WavFile && target.Device == "-") o.Out = o.Err;

  EventLoop loop;
  TPlayer player(&loop);
  player.SetOutputTarget(target);
  player.SetVolume(o.Volume);
  if (o.SavedEffects) {
    std::vector<std::string> problems;
    ApplyEffectSettings(player, *o.SavedEffects, &problems);
    for (const std::string& p : problems) std::fprintf(o.Err, "saved DSP plug-in %s\n", p.c_str());
  }
  if (std::string why; !ApplyEffectOptions(o.Effects, player, why)) {
    std::fprintf(o.Err, "%s\n", why.c_str());
    return 1;
  }
  player.OnDSPPluginDropped = [&](TPlayer&, const std::string& message) { std::fprintf(o.Err, "%s\n", message.c_str()); };
  int result = -1;
  const bool tty = isatty(fileno(o.Out));
  int lastShownSecond = -1;

  player.OnOpenFileError = [&](TPlayerModule&) {
    const std::string& why = player.ErrorText();
    std::fprintf(o.Err, "cannot play %s: %s\n", o.FileName.c_str(),
                 why.empty() ? "not an audio file this player can decode" : why.c_str());
    result = 1;
    loop.Quit();
  };
  player.OnPlayError = [&](TPlayerModule&) {
    std::fprintf(o.Err, "%scannot play %s on %s: %s\n", tty ? "\n" : "", o.FileName.c_str(),
                 DescribeOutputTarget(target).c_str(), player.ErrorText().c_str());
    result = 1;
    loop.Quit();
  };
  player.OnPlayerStateChange = [&](TPlayerModule& p, TPlayerState cur, TPlayerState) {
    if (cur != psOpen) return;
    const int32_t duration = p.GetDurationMs();
    const auto& info = p.MediaTagInfo();
    std::fprintf(o.Out, "%s: %s, %d Hz, %d channel%s, %d kbit/s, %s, on %s\n", o.FileName.c_str(),
                 info.Format.c_str(), info.SampleRate, info.Channels, info.Channels == 1 ? "" : "s", info.BitRate,
                 FormatTimeText(duration / 1000).c_str(), DescribeOutputTarget(target).c_str());
    std::fflush(o.Out);
    if (o.SeekMs > 0 && o.SeekMs >= duration) {
      std::fprintf(o.Err, "cannot seek to %lld ms: the song lasts %d ms\n", static_cast<long long>(o.SeekMs),
                   duration);
      result = 1;
      loop.Quit();
      return;
    }
    p.Play(o.SeekMs > 0 ? static_cast<float>(double(o.SeekMs) / duration) : 0.0f);
  };
  std::string timeText, spectrumText;
  auto showLine = [&] {
    std::fprintf(o.Out, "\r%s %s", timeText.c_str(), spectrumText.c_str());
    std::fflush(o.Out);
  };
  player.OnPlayProgress = [&](TPlayerModule& p, int32_t pos, int32_t dur, double) {
    if (!o.Progress) return;
    const int second = pos / 1000;
    if (second == lastShownSecond) return;
    lastShownSecond = second;
    timeText = p.GetPositionText() + " / " + FormatTimeText(dur / 1000);
    if (tty) return showLine();
    std::fprintf(o.Out, "%s\n", timeText.c_str());
    std::fflush(o.Out);
  };
  // The display's 32 columns, lowest frequencies on the left, eight steps high.
  TSpectrumBars bars(128, 8);
  if (o.Spectrum)
    player.OnNewFFTData = [&](TPlayerModule&, const float* levels) {
      static const char* const kSteps[] = {" ", "▁", "▂", "▃", "▄", "▅", "▆", "▇", "█"};
      std::array<float, SpectrumLevelCount> l;
      std::copy_n(levels, SpectrumLevelCount, l.begin());
      bars.ShowLevels(l);
      spectrumText.clear();
      for (int c = 0; c < bars.ColumnCount(); ++c) spectrumText += kSteps[bars.Bar(c)];
      if (tty && o.Progress) showLine();
    };
  player.OnFileFinishPlay = [&](TPlayerModule&) {
    result = 0;
    loop.Quit();
  };

  if (!player.OpenFile(o.FileName, false)) {
    std::fprintf(o.Err, "cannot open %s: no such file\n", o.FileName.c_str());
    return 1;
  }
  g_interrupted = false;
  auto oldInt = std::signal(SIGINT, OnSignal);
  auto oldTerm = std::signal(SIGTERM, OnSignal);
  // A reader of standard output that goes away is a failed write, said as such, not a silent death.
  auto oldPipe = std::signal(SIGPIPE, SIG_IGN);
  const TimerId watch = loop.StartTimer(Millis(100), [&] {
    if (!g_interrupted) return;
    result = 130;
    loop.Quit();
  });
  loop.Run();
  loop.StopTimer(watch);
  std::signal(SIGINT, oldInt);
  std::signal(SIGTERM, oldTerm);
  if (result == 0 && o.Progress) {
    std::fprintf(o.Out, "%sfinished %s\n", tty ? "\n" : "", player.GetPositionText().c_str());
  }
  // Stopping closes the output (an interrupted WAV file is completed with what it has) before
  // the player goes.
  player.Stop();
  bool stopped = false;
  player.Sync([&] { stopped = true; });
  loop.WaitPumping([&] { return stopped; }, Millis(5000));
  std::signal(SIGPIPE, oldPipe);
  return result < 0 ? 1 : result;
}

}  // namespace mlcli
