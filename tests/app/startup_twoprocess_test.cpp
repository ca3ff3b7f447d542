// Two real processes of the headless driver against each other: lock files, socket, mailbox.
#include "base/FileUtil.h"
#include "base/GbkText.h"
#include "app/SingleInstance.h"
#include "base/StrUtil.h"
#include "tests/support/TestSupport.h"
#include "base/Version.h"
#include "base/IniFile.h"
#include "app/uLRShareMemory.h"
#include "app/uUpdateApp.h"

#include <zip.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace {

using namespace std::chrono_literals;

std::vector<std::string> Lines(const std::string& path) {
  std::vector<std::string> out;
  const std::string text = mltest::ReadAll(path);
  for (auto l : ml::SplitLines(text)) out.emplace_back(l);
  return out;
}

class TwoProcesses : public ::testing::Test {
protected:
  void SetUp() override {
    std::filesystem::create_directories(Runtime());
    SetEnv("XDG_RUNTIME_DIR", Runtime());
    mailbox_ = "/mltest-startup-" + std::to_string(::getpid());
  }
  void SetEnv(const char* name, const std::string& value) {
    const char* old = std::getenv(name);
    savedEnv_.push_back({name, old ? std::optional<std::string>(old) : std::nullopt});
    ::setenv(name, value.c_str(), 1);
  }
  void TearDown() override {
    for (pid_t pid : children_) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, nullptr, 0);
    }
    ml::TLRShareMemory::Unlink(mailbox_);
    for (auto it = savedEnv_.rbegin(); it != savedEnv_.rend(); ++it) {
      if (it->second)
        ::setenv(it->first.c_str(), it->second->c_str(), 1);
      else
        ::unsetenv(it->first.c_str());
    }
  }

  std::string Runtime() const { return dir_.File("run"); }
  std::string Log(const std::string& name) const { return dir_.File(name + ".log"); }
  std::string SocketPath() const { return ml::TSingleInstance::SocketPath(Runtime()); }

  pid_t Start(const std::string& name, std::vector<std::string> programArgs,
              const std::string& skinRes = mltest::SourceDir() + "/SkinRes") {
    std::vector<std::string> args{mltest::BinDir() + "/startup_driver", "--log", Log(name), "--skinres", skinRes,
                                  "--mailbox", mailbox_, "--data-dir", dir_.File("data")};
    args.insert(args.end(), programArgs.begin(), programArgs.end());
    return Spawn(args);
  }

  pid_t Spawn(std::vector<std::string> args) {
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    EXPECT_EQ(::posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ), 0);
    children_.push_back(pid);
    return pid;
  }

  // Waits for the process to end; its exit status, or -1 when it did not end in time.
  int Wait(pid_t pid, std::chrono::seconds limit = 30s) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
      int status = 0;
      if (::waitpid(pid, &status, WNOHANG) == pid) {
        std::erase(children_, pid);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      }
      std::this_thread::sleep_for(5ms);
    }
    return -1;
  }

  bool WaitForLine(const std::string& name, const std::string& line, std::size_t count = 1) {
    const auto deadline = std::chrono::steady_clock::now() + 30s;
    while (std::chrono::steady_clock::now() < deadline) {
      auto lines = Lines(Log(name));
      if (static_cast<std::size_t>(std::count(lines.begin(), lines.end(), line)) >= count) return true;
      std::this_thread::sleep_for(5ms);
    }
    return false;
  }

  void Quit(const std::string& name, pid_t pid) {
    mltest::WriteAll(Log(name) + ".quit", "");
    EXPECT_EQ(Wait(pid), 0);
  }

  mltest::TempDir dir_;
  std::string mailbox_;
  std::vector<std::pair<std::string, std::optional<std::string>>> savedEnv_;
  std::vector<pid_t> children_;
};

TEST_F(TwoProcesses, SecondStartHandsItsCommandLineToTheFirstAndEnds) {
  pid_t first = Start("first", {"/MainMode", "/open", "/music/a.mp3"});
  ASSERT_TRUE(WaitForLine("first", "shown")) << mltest::ReadAll(Log("first"));
  auto lines = Lines(Log("first"));
  EXPECT_EQ(lines[0], "title 迷你琴鸟 settings " + dir_.File("data") + "/minilirra.xml");
  EXPECT_EQ(lines[1], "open /music/a.mp3");

  // The presence query, as any program of this user may ask it.
  EXPECT_EQ(ml::SendInstanceRequest(SocketPath(), ml::RequestPresence, ml::ProgramVersion, {}, 10000ms),
            std::optional<int32_t>(5004));
  EXPECT_TRUE(WaitForLine("first", "activate"));

  const std::string cwd = std::filesystem::current_path().string();
  pid_t second = Start("second", {"/list", "rel/b.mp3", "/link", "lirra3://x", "/OPEN", "/music/c.mp3"});
  EXPECT_EQ(Wait(second), 0);
  EXPECT_EQ(Lines(Log("second")), std::vector<std::string>{"outcome handed-off 0"});
  ASSERT_TRUE(WaitForLine("first", "activate", 2));
  ASSERT_TRUE(WaitForLine("first", "list " + cwd + "/rel/b.mp3"));
  lines = Lines(Log("first"));
  auto clear = std::find(lines.begin(), lines.end(), "clear");
  ASSERT_NE(clear, lines.end());
  EXPECT_EQ(*(clear + 1), "list " + cwd + "/rel/b.mp3");
  // Play or only add depends on the 1500 ms rule, which the unit tests pin down.
  EXPECT_TRUE(*(clear + 2) == "open /music/c.mp3" || *(clear + 2) == "list /music/c.mp3") << *(clear + 2);

  // Without arguments the second start only brings the first to the front.
  pid_t third = Start("third", {});
  EXPECT_EQ(Wait(third), 0);
  EXPECT_TRUE(WaitForLine("first", "activate", 3));
  lines = Lines(Log("first"));
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "clear"), 1);

  // The mailbox: a browser helper writes a link and asks the player to look.
  auto mailbox = ml::TLRShareMemory::Open(mailbox_, ::getuid());
  ASSERT_TRUE(mailbox);
  EXPECT_EQ(mailbox->Snapshot().WindowHandle(), static_cast<uint32_t>(first));
  mailbox->WriteCommand(2, 0, ml::Utf8ToGbk("稻香%20周杰伦"));
  EXPECT_EQ(ml::SendInstanceRequest(SocketPath(), ml::RequestLookMailbox, 0, {}, 10000ms), std::optional<int32_t>(1));
  EXPECT_TRUE(WaitForLine("first", "mailbox 2 稻香 周杰伦"));
  EXPECT_EQ(mailbox->Snapshot().Command(), 0);

  Quit("first", first);
  EXPECT_EQ(Lines(Log("first")).back(), "outcome ran 0");
  EXPECT_FALSE(ml::FileExists(SocketPath()));
  EXPECT_EQ(mailbox->Snapshot().WindowHandle(), 0u);

  // The lock went with the first process: the next start is a first instance again.
  pid_t again = Start("again", {});
  ASSERT_TRUE(WaitForLine("again", "shown")) << mltest::ReadAll(Log("again"));
  Quit("again", again);
}

TEST_F(TwoProcesses, NoAnswerFromTheRunningInstanceShowsThePreviousVersionBox) {
  // Something holds the instance lock but answers nothing, as an older build would.
  std::filesystem::create_directories(Runtime());
  ml::TLockFile held(ml::TSingleInstance::AppLockPath(Runtime()));
  ASSERT_TRUE(held.TryLock(0ms));
  pid_t second = Start("second", {"/open", "/music/a.mp3"});
  EXPECT_EQ(Wait(second), 0);
  auto lines = Lines(Log("second"));
  ASSERT_EQ(lines.size(), 3u) << mltest::ReadAll(Log("second"));
  EXPECT_EQ(lines[0], "info 提示 系统检测到有琴鸟(Lirra)的先前版本正在运行，如果您想运行\"迷你琴鸟播放器\"，");
  EXPECT_EQ(lines[1], "请先关闭当前正在运行的琴鸟(Lirra.exe)程序！ ");
  EXPECT_EQ(lines[2], "outcome previous-version 0");
}

TEST_F(TwoProcesses, MissingSkinResEndsWithTheErrorAndCreatesNothing) {
  pid_t first = Start("first", {}, dir_.File("no-such-folder"));
  EXPECT_EQ(Wait(first), 1);
  EXPECT_EQ(Lines(Log("first")),
            (std::vector<std::string>{"error minilirra 缺少皮肤资源文件，重新安装可解决问题。", "outcome missing-skinres 1"}));
  EXPECT_FALSE(ml::FileExists(SocketPath()));
}

// A real self-update of a portable install: the program finds the pending package, unpacks it
// and starts the updater copy, which replaces the installed files and starts the program again.
// The "new" program has this build's version, so the update is retried once more and then left
// alone: the at-most-twice rule, end to end.
TEST_F(TwoProcesses, PendingUpdateIsInstalledByTheUpdaterCopy) {
  namespace fs = std::filesystem;
  const std::string install = dir_.File("install") + "/";
  fs::create_directories(install);
  fs::create_directories(dir_.File("outside"));
  fs::copy(mltest::SourceDir() + "/SkinRes", install + "SkinRes", fs::copy_options::recursive);
  fs::copy_file(mltest::BinDir() + "/startup_driver", install + "minilirra");
  mltest::WriteAll(install + "portable", "");  // a portable install keeps its data beside it
  const std::string program = mltest::ReadAll(install + "minilirra");

  const std::string pkg = dir_.File("outside") + "/update.zip";
  const std::string newStrings = "\xEF\xBB\xBF[Strings]\n1=迷你琴鸟播放器\n2=新版琴鸟\n4=minilirra\n";
  const std::string updateFiles = "[Files]\nminilirra=minilirra\nSkinRes/Strings.ini=SkinRes/Strings.ini\n";
  struct Entry {
    const char* name;
    const std::string* data;
    uint32_t mode;
  } entries[] = {{"NewUpminilirra", &program, 0100755}, {"minilirra", &program, 0100755},
                 {"SkinRes/Strings.ini", &newStrings, 0100644}, {"UpdateFiles.ini", &updateFiles, 0100644}};
  int err = 0;
  zip_t* za = zip_open(pkg.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &err);
  ASSERT_TRUE(za);
  for (const auto& e : entries) {
    zip_int64_t idx = zip_file_add(za, e.name, zip_source_buffer(za, e.data->data(), e.data->size(), 0), 0);
    ASSERT_GE(idx, 0);
    zip_set_file_compression(za, static_cast<zip_uint64_t>(idx), ZIP_CM_STORE, 0);
    zip_file_set_external_attributes(za, static_cast<zip_uint64_t>(idx), 0, ZIP_OPSYS_UNIX, e.mode << 16);
  }
  ASSERT_EQ(zip_close(za), 0);
  ml::IniFile ini;
  ini.WriteInteger("Update", "Version", ml::ProgramVersion + 1);
  ini.WriteString("Update", "DestFileName", pkg);
  ini.WriteInteger("Update", "UpTimes", 0);
  ASSERT_TRUE(ini.Save(install + "Update.ini"));

  // The copies a self-update starts get no arguments; the driver takes its log from here.
  SetEnv("STARTUP_DRIVER_LOG", Log("update"));
  SetEnv("STARTUP_DRIVER_MAILBOX", mailbox_);
  pid_t first = Spawn({install + "minilirra"});
  EXPECT_EQ(Wait(first), 0);
  ASSERT_TRUE(WaitForLine("update", "shown")) << mltest::ReadAll(Log("update"));
  mltest::WriteAll(Log("update") + ".quit", "");
  ASSERT_TRUE(WaitForLine("update", "outcome ran 0"));

  // Each copy logs its outcome after starting the next one, so only the counts and the end are
  // in a fixed order.
  auto lines = Lines(Log("update"));
  ASSERT_EQ(lines.size(), 7u) << mltest::ReadAll(Log("update"));
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "outcome update-started 0"), 2);
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "outcome updater-finished 0"), 2);
  EXPECT_EQ(std::vector<std::string>(lines.end() - 3, lines.end()),
            (std::vector<std::string>{"title 新版琴鸟 settings " + install + "minilirra.xml", "shown", "outcome ran 0"}));
  EXPECT_EQ(ml::ReadPendingUpdate(install)->upTimes, 2);
  EXPECT_EQ(mltest::ReadAll(install + "SkinRes/Strings.ini"), newStrings);
  EXPECT_EQ(fs::status(install + "minilirra").permissions() & fs::perms::owner_exec, fs::perms::owner_exec);
  std::set<std::string> outside;
  for (auto& e : fs::directory_iterator(dir_.File("outside"))) outside.insert(e.path().filename().string());
  EXPECT_EQ(outside, std::set<std::string>{"update.zip"});
}

}  // namespace
