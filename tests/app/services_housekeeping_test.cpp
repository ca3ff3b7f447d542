// The two-second housekeeping timer: the service's message, the update offer with "Update.ini",
// and the temporary-file list.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

#include "app/ServerMessage.h"
#include "app/TempFileList.h"
#include "app/uUpdateApp.h"
#include "tests/app/ServicesFixture.h"

namespace {

using namespace mltest;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

TEST(ServerMessage, Fields) {
  struct Case {
    const char* name;
    const char* text;
    ml::TServerMessage expected;
  } cases[] = {
      {"all five", "msg=新版本|link=http://a/b?x=1|time=5000|upurl=http://u/p.zip|refurl=http://r/",
       {"新版本", "http://a/b?x=1", 5000, "http://u/p.zip", "http://r/"}},
      {"no time", "msg=hi", {"hi", "", -1, "", ""}},
      {"time not a number", "msg=hi|time=soon", {"hi", "", -1, "", ""}},
      {"names in any case, blanks kept in values", "MSG=a b c|Time=0", {"a b c", "", 0, "", ""}},
      {"the first of a name wins", "msg=one|msg=two", {"one", "", -1, "", ""}},
      {"a quoted value holds the separator", "|msg=a||b|link=x", {"a|b", "x", -1, "", ""}},
      {"quoted after a separator", "time=3||msg=x||y|", {"x|y", "", 3, "", ""}},
      {"unclosed quote runs to the end", "link=l||msg=z", {"z", "l", -1, "", ""}},
      {"items without a name", "hello|=|upurl=u", {"", "", -1, "u", ""}},
      {"empty", "", {}},
  };
  for (const Case& c : cases) EXPECT_EQ(ml::ParseServerMessage(c.text), c.expected) << c.name;
}

class Housekeeping : public ServicesModule {
protected:
  ml::TUpdateInfo Update(uint16_t version, uint8_t kind = 0) {
    ml::TUpdateInfo u;
    u.Kind = kind;
    u.NewestVersion = version;
    u.FileSize = 123456;
    u.Digest.v.fill(0x11);
    return u;
  }
  void Tick() { loop.Advance(ml::TDM::HousekeepingInterval); }
  void RecordInIni(int version, bool canUpdate) {
    ml::TPendingUpdate u;
    u.version = version;
    u.canUpdate = canUpdate;
    ASSERT_TRUE(ml::WritePendingUpdate(info.AppDir, u));
  }
  // The fake download finishes with the package in place.
  void FinishDownload() {
    ASSERT_EQ(updater.jobs.size(), 1u);
    WriteAll(updater.jobs[0].DestPath, "PK");
    updater.done(true);
  }
};

TEST_F(Housekeeping, TimerTicksEveryTwoSecondsOnceTheWindowIsShown) {
  ml::TDM& dm = Start();
  dm.ServerMessageArrived("msg=hello", Update(0));
  Tick();
  EXPECT_TRUE(shell.notices.empty());  // not before the main window has been shown
  dm.MainWindowShown();
  loop.Advance(1999ms);
  EXPECT_TRUE(shell.notices.empty());
  loop.Advance(1ms);
  ASSERT_EQ(shell.notices.size(), 1u);
  EXPECT_EQ(shell.notices[0], (ml::TNotice{"系统消息", "hello", "", true, -1}));
  Tick();
  EXPECT_EQ(shell.notices.size(), 1u);  // a message is taken once
  dm.BeginClose();
  EXPECT_FALSE(dm.TimerRunning());
}

TEST_F(Housekeeping, ServerMessageCases) {
  struct Case {
    const char* name;
    std::string text;
    uint16_t version;
    int iniVersion;  // 0: no Update.ini
    bool iniCanUpdate;
    bool notice;
    bool download;
  } cases[] = {
      {"message without upurl: only the notice", "msg=m|time=3000", 6000, 0, false, true, false},
      {"upurl without a message: only the download", "upurl=http://u/p|refurl=http://r/", 6000, 0, false, false, true},
      {"both", "msg=m|upurl=http://u/p", 6000, 0, false, true, true},
      {"this version was declined: neither", "msg=m|upurl=http://u/p", 6000, 6000, false, false, false},
      {"this version was accepted: again", "msg=m|upurl=http://u/p", 6000, 6000, true, true, true},
      {"another version was declined", "msg=m|upurl=http://u/p", 6001, 6000, false, true, true},
      {"not newer than this build", "msg=m|upurl=http://u/p", 5004, 0, false, true, false},
  };
  for (const Case& c : cases) {
    std::error_code ec;
    fs::remove(info.AppDir + "Update.ini", ec);
    if (c.iniVersion) RecordInIni(c.iniVersion, c.iniCanUpdate);
    shell = RecordingShell{};
    updater = FakeUpdater{};
    Start().MainWindowShown();
    dm->ServerMessageArrived(c.text, Update(c.version));
    Tick();
    EXPECT_EQ(shell.notices.size(), c.notice ? 1u : 0u) << c.name;
    ASSERT_EQ(updater.jobs.size(), c.download ? 1u : 0u) << c.name;
    if (c.notice) {
      EXPECT_EQ(shell.notices[0].AutoHideMs, c.text.find("time=3000") != std::string::npos ? 3000 : -1) << c.name;
    }
    if (!c.download) continue;
    const ml::TUpdateDownload& job = updater.jobs[0];
    EXPECT_EQ(job.Url, "http://u/p") << c.name;
    EXPECT_EQ(job.DestPath, info.AppDir + "Up/NewUpdate.lru") << c.name;
    EXPECT_EQ(job.ExpectedSize, 123456) << c.name;
    EXPECT_EQ(job.ExpectedDigest, Update(0).Digest) << c.name;
    EXPECT_TRUE(fs::is_directory(info.AppDir + "Up")) << c.name;
  }
}

TEST_F(Housekeeping, FinishedUpdateIsOfferedAndRecorded) {
  struct Case {
    const char* name;
    uint8_t kind;
    bool answer;
    bool asked, canUpdate, restart;
  } cases[] = {
      {"declined", 0, false, true, false, false},
      {"accepted", 0, true, true, true, true},
      {"a kind that asks nobody", 1, true, false, false, false},
  };
  for (const Case& c : cases) {
    std::error_code ec;
    fs::remove(info.AppDir + "Update.ini", ec);
    shell = RecordingShell{};
    shell.answer = c.answer;
    updater = FakeUpdater{};
    restarts = 0;
    Start().MainWindowShown();
    dm->ServerMessageArrived("upurl=http://u/p", Update(6000, c.kind));
    Tick();
    FinishDownload();
    loop.ProcessPending();
    EXPECT_TRUE(dm->UpdateReady()) << c.name;
    Tick();
    const std::string question = "ask 系统提示: 系统检测到 迷你琴鸟播放器 有新的版本，是否需要升级到最新的版本？";
    EXPECT_EQ(std::count(shell.calls.begin(), shell.calls.end(), question), c.asked ? 1 : 0) << c.name;
    const auto recorded = ml::ReadPendingUpdate(info.AppDir);
    ASSERT_TRUE(recorded) << c.name;
    EXPECT_EQ(recorded->version, 6000) << c.name;
    EXPECT_EQ(recorded->canUpdate, c.canUpdate) << c.name;
    EXPECT_EQ(recorded->fileSize, 123456) << c.name;
    EXPECT_EQ(recorded->upType, c.canUpdate ? 0 : c.kind) << c.name;
    EXPECT_EQ(recorded->destFileName, info.AppDir + "Up/NewUpdate.lru") << c.name;
    EXPECT_EQ(recorded->upTimes, 0) << c.name;
    EXPECT_EQ(restarts, c.restart ? 1 : 0) << c.name;
    EXPECT_EQ(shell.calls.back() == "close", c.restart) << c.name;
    EXPECT_EQ(dm->TimerRunning(), !c.restart) << c.name;
  }
}

TEST_F(Housekeeping, FailedUpdateDownloadOffersNothing) {
  Start().MainWindowShown();
  dm->ServerMessageArrived("upurl=http://u/p", Update(6000));
  Tick();
  EXPECT_TRUE(dm->UpdateDownloading());
  updater.done(false);
  loop.ProcessPending();
  Tick();
  EXPECT_FALSE(dm->UpdateReady());
  EXPECT_FALSE(dm->UpdateDownloading());
  EXPECT_FALSE(ml::ReadPendingUpdate(info.AppDir));
}

class TempFiles : public ::testing::Test {
protected:
  TempFiles() {
    fs::create_directories(temp);
    fs::create_directories(dir.File("elsewhere"));
    fs::create_symlink(dir.File("elsewhere"), down + "link");
  }
  std::string Make(const std::string& path) {
    WriteAll(path, "x");
    return path;
  }
  TempDir dir;
  std::string down = dir.File("Music") + "/";
  std::string temp = down + "Temp/";
  std::string listPath = dir.File("TempFileList.dat");
  // Root may delete anything: "locked" files are refused here instead.
  ml::TTempFileList::TRemoveFile remove = [](const std::string& p) {
    if (p.find("locked") != std::string::npos) {
      errno = EBUSY;
      return false;
    }
    return unlink(p.c_str()) == 0;
  };
};

TEST_F(TempFiles, OnlyOurOwnFilesAreDeleted) {
  const std::string outside = Make(dir.File("elsewhere/keep.txt"));
  const std::vector<std::string> entries = {
      Make(temp + "a.lr!"),                  // deleted
      Make(down + "b.mp3"),                  // deleted
      Make(temp + "locked.lr!"),             // stays listed
      temp + "gone.lr!",                     // already gone: dropped
      outside,                               // not ours: dropped, kept
      down + "../elsewhere/keep.txt",        // out through "..": dropped, kept
      down + "link/keep.txt",                // out through a link: dropped, kept
      dir.File("Music"),                     // a folder: dropped, kept
      "relative/path",                       // dropped
  };
  {
    ml::TTempFileList list(listPath, {down, temp}, remove);
    for (const std::string& e : entries) list.Add(e);
    EXPECT_EQ(list.Sweep(), entries.size() - 1);
    EXPECT_EQ(list.Paths(), std::vector<std::string>{temp + "locked.lr!"});
  }
  EXPECT_FALSE(fs::exists(temp + "a.lr!"));
  EXPECT_FALSE(fs::exists(down + "b.mp3"));
  EXPECT_TRUE(fs::exists(outside));
  EXPECT_TRUE(fs::exists(temp + "locked.lr!"));
  EXPECT_EQ(ReadAll(listPath), temp + "locked.lr!\n");

  // After a restart the undeletable file is tried again, and goes once it can.
  ml::TTempFileList again(listPath, {down, temp});
  ASSERT_TRUE(again.Load());
  EXPECT_EQ(again.Paths(), std::vector<std::string>{temp + "locked.lr!"});
  EXPECT_EQ(again.Sweep(), 1u);
  EXPECT_FALSE(fs::exists(temp + "locked.lr!"));
  EXPECT_EQ(ReadAll(listPath), "");
}

TEST_F(Housekeeping, ReleasedTempFilesGoOnTheNextTick) {
  removeFile = [](const std::string& p) { return unlink(p.c_str()) == 0; };
  const std::string temp = info.AppDir + "Music/Temp/";
  WriteAll(info.AppDir + "TempFileList.dat", info.AppDir + "Music/old.lr!\r\n");  // from the last run
  fs::create_directories(temp);
  WriteAll(info.AppDir + "Music/old.lr!", "x");
  WriteAll(temp + "new.lr!", "x");
  ml::TDM& dm = Start();
  EXPECT_EQ(transfers.calls.front(), "activate " + temp);
  dm.TempFileReleased(temp + "new.lr!");
  EXPECT_EQ(dm.TempFiles().Paths().size(), 2u);
  dm.MainWindowShown();
  Tick();
  EXPECT_FALSE(fs::exists(temp + "new.lr!"));
  EXPECT_FALSE(fs::exists(info.AppDir + "Music/old.lr!"));
  EXPECT_TRUE(dm.TempFiles().Paths().empty());
}

TEST_F(ServicesModule, MenuPagesAndTray) {
  ml::TDM& dm = Start();
  dm.OpenMenuPage(ml::TServicesPage::MyNest, "key");
  EXPECT_EQ(shell.calls, (std::vector<std::string>{"tray 听歌", "warn 提示: 您还没有登录", "login page"}));
  dm.User().LoggedIn = true;
  dm.User().UserID = 123456;
  dm.OpenMenuPage(ml::TServicesPage::MyNest, "key");
  EXPECT_EQ(shell.calls.back(), "open http://127.0.0.1:8808/fromsoft.aspx?type=wo&LirraID=123456&cpwd=" +
                                    ml::LRMD5::MD5DigestToStr(ml::LRMD5::MD5String("123456key")));
  dm.OpenMenuPage(ml::TServicesPage::Feedback, "");
  EXPECT_EQ(shell.calls.back(), "open http://127.0.0.1:8808/service/");
  dm.TrayClicked();
  EXPECT_EQ(shell.calls.back(), "up");
}

}  // namespace
