#pragma once
// The services module on a manual loop with a temporary AppDir, its desktop, playlist and update
// download recorded, and a server list whose every service points at one loopback port.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/AppInfo.h"
#include "app/uDM.h"
#include "app/uSettingMgr.h"
#include "base/EventLoop.h"
#include "net/uServerListManager.h"
#include "tests/net/NetTestTools.h"
#include "tests/support/TestSupport.h"

namespace mltest {

struct RecordingShell : ml::IServicesShell {
  std::vector<std::string> calls;
  std::vector<ml::TNotice> notices;
  bool answer = false;
  void BringMainWindowUp() override { calls.push_back("up"); }
  void ShowNotice(const ml::TNotice& n) override { calls.push_back("notice"); notices.push_back(n); }
  bool AskYesNo(const std::string& caption, const std::string& text) override {
    calls.push_back("ask " + caption + ": " + text);
    return answer;
  }
  void ShowWarning(const std::string& caption, const std::string& text) override { calls.push_back("warn " + caption + ": " + text); }
  void StartSearch(const std::string& text) override { calls.push_back("search " + text); }
  void SetTrayHint(const std::string& text) override { calls.push_back("tray " + text); }
  void SkinFinished() override { calls.push_back("skin"); }
  void OpenWebPage(const std::string& url) override { calls.push_back("open " + url); }
  void ShowLoginPage() override { calls.push_back("login page"); }
  void CloseMainWindow() override { calls.push_back("close"); }
};

// The current playlist: a list of songs, and what was played.
struct RecordingSongs : ml::IOnlineSongTarget {
  std::vector<ml::TOnlineSong> songs;
  std::vector<std::string> calls;
  size_t SongCount() const override { return songs.size(); }
  void ClearSelection() override { calls.push_back("clear"); }
  void AddOnlineSong(const ml::TOnlineSong& s, bool play) override {
    songs.push_back(s);
    calls.push_back((play ? "add+play " : "add ") + s.Title);
  }
  void PlaySong(size_t index) override { calls.push_back("play " + std::to_string(index)); }
};

struct FakeUpdater : ml::IUpdateDownloader {
  std::vector<ml::TUpdateDownload> jobs;
  std::function<void(bool)> done;
  bool Start(const ml::TUpdateDownload& job, std::function<void(bool)> d) override {
    jobs.push_back(job);
    done = std::move(d);
    return true;
  }
  void Cancel() override { done = nullptr; }
};

struct RecordingTransfers : ml::ITransferManager {
  std::vector<std::string> calls;
  std::atomic<int> netKind{-1};
  void Activate(const ml::TTransferSetup& s) override { calls.push_back("activate " + s.TempFolder); }
  void SetNetKind(uint8_t k) override { netKind = k; }
  void Deactivate() override { calls.push_back("deactivate"); }
};

class ServicesModule : public ::testing::Test {
protected:
  ServicesModule() {
    info.AppDir = dir.Path().string() + "/";
    info.AppDisplayName = "迷你琴鸟播放器";
    info.AppTitle = "迷你琴鸟";
    info.AppSlogan = "听歌";
    settings.SaveAtExit(false);
    settings.DownPort = mlnettest::FreeUdpPort();
  }
  ~ServicesModule() override {
    dm.reset();
    loop.BeginShutdown();
  }

  // Every service code answered at port (the test's responder).
  void PointServersAt(uint16_t port) {
    std::vector<ml::TServerEntry> entries;
    for (uint16_t slot = 1; slot <= ml::TServerListManager::SlotCount; ++slot)
      entries.push_back({slot, mlnettest::LoopbackIP(), port});
    WriteAll(dir.File("LR4ServerList.bin"), ml::TServerListManager::SerializeCache(7, entries));
  }

  ml::TDM& Start(int workers = 5) {
    if (!servers) servers = std::make_unique<ml::TServerListManager>(dir.File("LR4ServerList.bin"));
    ml::TDMOptions o;
    o.Info = &info;
    o.Settings = &settings;
    o.dispatcher = &loop;
    o.Servers = servers.get();
    o.Shell = &shell;
    o.Transfers = &transfers;
    o.Updater = &updater;
    o.UDPWorkThreads = workers;
    o.ConnectRoutes = connectRoutes;
    o.RequestUpdateRestart = [this] { ++restarts; };
    o.RemoveFile = removeFile;
    dm.reset();  // one module at a time, as in the program
    dm = std::make_unique<ml::TDM>(o);
    dm->SetSongTarget(&songs);
    return *dm;
  }

  TempDir dir;
  ml::ManualLoop loop;
  ml::TAppInfo info;
  ml::TSettingMgr settings{dir.File("minilirra.xml"), ml::TSettingContext{dir.Path().string() + "/", "minilirra", "迷你琴鸟", "/opt/minilirra/minilirra", nullptr}};
  std::unique_ptr<ml::TServerListManager> servers;
  RecordingShell shell;
  RecordingSongs songs;
  FakeUpdater updater;
  RecordingTransfers transfers;
  std::function<void(ml::TUDPMessageRouter&)> connectRoutes;
  ml::TTempFileList::TRemoveFile removeFile;
  int restarts = 0;
  std::unique_ptr<ml::TDM> dm;
};

inline std::string Hex32(char c = 'a') { return std::string(32, c); }

}  // namespace mltest
