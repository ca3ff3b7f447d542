#pragma once
// What the main window's controller runs on in the tests: the manual loop, the real player on a
// fake output that keeps what it played, a data folder with the settings and the library, the
// lyric parser, songs made on demand, and the controller over a given view; and a view that
// records what it is told.
#include "app/AppInfo.h"
#include "app/MainController.h"
#include "app/uSettingMgr.h"
#include "base/EventLoop.h"
#include "lyrics/LRCParse.h"
#include "playback/uPlayer.h"
#include "tests/support/ArrivingFile.h"
#include "tests/support/FakeOutput.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace mltest {

// A view that keeps what it was told last.
class TRecordingView final : public ml::IMainView {
public:
  void ShowPlaying(bool playing) override { Playing = playing; }
  void ShowTitle(const std::string& title) override { Title = title; }
  void ShowInfo(const std::string& text) override { Info = text; }
  void ShowRates(const std::string& bitrate, const std::string& sampleRate) override {
    Bitrate = bitrate;
    SampleRate = sampleRate;
  }
  void ShowTime(int64_t ms, int64_t duration, bool remaining) override {
    TimeMs = remaining ? duration - ms : ms;
    Remaining = remaining;
  }
  void ShowProgress(int position, int) override { Progress = position; }
  void ShowMute(bool muted) override { Muted = muted; }
  void ShowVolume(int volume) override { Volume = volume; }
  void ShowModes(int loop, int order) override {
    Loop = loop;
    Order = order;
  }
  void ShowPlaylist() override { ++PlaylistShows; }
  void ShowLyrics(int32_t durationMs) override { LyricLength = durationMs; }
  void ShowLyricPosition(int32_t ms) override { LyricPosition = ms; }
  void ShowSpectrum(const float* levels) override { SpectrumCleared = levels == nullptr; }
  void ShowNotice(const ml::TNotice& notice) override { Notices.push_back(notice); }
  bool IsActiveWindow() const override { return Active; }

  bool Playing = false, Muted = false, Remaining = false, SpectrumCleared = false, Active = true;
  std::string Title, Info, Bitrate, SampleRate;
  int64_t TimeMs = -1;
  int Progress = -1, Volume = -1, Loop = -1, Order = -1, PlaylistShows = 0;
  int32_t LyricLength = -1, LyricPosition = -1;
  std::vector<ml::TNotice> Notices;
};

class TControllerHarness {
public:
  TControllerHarness() {
    player = std::make_unique<ml::TPlayer>(&loop, [this](const ml::TOutputTarget&) {
      auto out = std::make_unique<TFakeOutput>();
      out->Capture = true;
      fake = out.get();
      return out;
    });
    player->SetOutputTarget({ml::TOutputKind::Null, "fake"});
    ml::TSettingContext context;
    context.AppDir = dir.Path().string() + "/";
    context.RootName = "minilirra";
    settings = std::make_unique<ml::TSettingMgr>(dir.File("settings.xml"), context);
    settings->SaveAtExit(false);
    settings->KeyMaps = ml::TSettingMgr::DefaultKeyMaps();
    library = std::make_unique<ml::TMusicFileMgr>(&loop);
  }
  ~TControllerHarness() { controller.reset(); }

  ml::TMainControllerParts Parts(ml::IMainView& view) {
    ml::TMainControllerParts parts;
    parts.Player = player.get();
    parts.Library = library.get();
    parts.Settings = settings.get();
    parts.Info = &info;
    parts.dispatcher = &loop;
    parts.Lyrics = &lyrics;
    parts.View = &view;
    parts.RandomSeed = 1;
    return parts;
  }
  // A song of `seconds` in the data folder. Every song its own level: songs with the same bytes
  // are one song to the library.
  std::string Song(const std::string& name, int seconds) {
    const std::string path = dir.File(name);
    std::ofstream(path, std::ios::binary) << MakeWav(seconds, 8000, 1, int16_t(1000 + 100 * songs_++), 0);
    return path;
  }
  // Until the engine has acted on every request and the main thread on its reports.
  void Settle() {
    bool done = false;
    player->Sync([&] { done = true; });
    ASSERT_TRUE(loop.WaitPumping([&] { return done; }, std::chrono::seconds(10)));
    if (AfterSettle) AfterSettle();
  }
  // The device plays ms of audio; the loop's clock moves as far.
  void PlayFor(std::chrono::milliseconds ms) {
    using namespace std::chrono_literals;
    for (auto t = 0ms; t < ms; t += 50ms) {
      if (fake) fake->Advance(50ms);
      loop.Advance(50ms);
      Settle();
    }
  }

  TempDir dir;
  ml::ManualLoop loop;
  ml::TAppInfo info;
  TFakeOutput* fake = nullptr;
  std::unique_ptr<ml::TPlayer> player;
  std::unique_ptr<ml::TSettingMgr> settings;
  std::unique_ptr<ml::TMusicFileMgr> library;
  ml::TLRCParse lyrics;
  std::unique_ptr<ml::TMainController> controller;
  std::function<void()> AfterSettle;  // a window's own events, for example

private:
  int songs_ = 0;
};

}  // namespace mltest
