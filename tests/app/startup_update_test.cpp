#include "base/FileUtil.h"
#include "base/IniFile.h"
#include "tests/support/TestSupport.h"
#include "base/Version.h"
#include "app/uUpdateApp.h"

#include <chrono>
#include <filesystem>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <zip.h>

namespace fs = std::filesystem;

namespace {

struct ZipEntry {
  std::string name;
  std::string data;
  uint32_t unixMode = 0100644;  // file type and permissions as a Unix zip tool stores them
};

void MakeZip(const std::string& path, const std::vector<ZipEntry>& entries) {
  int err = 0;
  zip_t* za = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &err);
  ASSERT_TRUE(za) << err;
  for (const auto& e : entries) {
    zip_source_t* src = zip_source_buffer(za, e.data.data(), e.data.size(), 0);
    zip_int64_t idx = zip_file_add(za, e.name.c_str(), src, ZIP_FL_ENC_UTF_8 | ZIP_FL_OVERWRITE);
    ASSERT_GE(idx, 0) << e.name << ": " << zip_strerror(za);
    zip_file_set_external_attributes(za, static_cast<zip_uint64_t>(idx), 0, ZIP_OPSYS_UNIX, e.unixMode << 16);
  }
  ASSERT_EQ(zip_close(za), 0);
}

// Every file below root, as paths relative to it.
std::set<std::string> Tree(const fs::path& root) {
  std::set<std::string> out;
  for (auto& e : fs::recursive_directory_iterator(root)) out.insert(fs::relative(e.path(), root).string());
  return out;
}

TEST(StartupUpdate, RelativePathsAreCheckedAndNormalised) {
  struct Case {
    std::string in;
    std::optional<std::string> out;
  } cases[] = {
      {"minilirra", "minilirra"},
      {"SkinRes\\Strings.ini", "SkinRes/Strings.ini"},
      {"./a//b/", "a/b"},
      {"../x", std::nullopt},
      {"a/../../x", std::nullopt},
      {"a\\..\\x", std::nullopt},
      {"/etc/passwd", std::nullopt},
      {"\\\\server\\share", std::nullopt},
      {"C:\\Windows\\x.dll", std::nullopt},
      {"", std::nullopt},
      {".", std::nullopt},
      {std::string("a\0b", 3), std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(ml::SafeRelativePath(c.in), c.out) << c.in;
}

class UpdatePackage : public ::testing::Test {
protected:
  // root/outside is a neighbour of the install folder that nothing may touch.
  void SetUp() override {
    fs::create_directories(root_.File("install/Up"));
    fs::create_directories(root_.File("outside"));
  }
  std::string Install() const { return root_.File("install") + "/"; }
  std::string Up() const { return Install() + "Up/"; }
  mltest::TempDir root_;
};

TEST_F(UpdatePackage, HostilePackagesAreRefusedAndWriteNothing) {
  const std::string pkg = root_.File("pkg.zip");
  struct Case {
    const char* what;
    std::vector<ZipEntry> entries;
  } cases[] = {
      {"parent path", {{"ok.txt", "1"}, {"../outside/x", "evil"}}},
      {"absolute path", {{"ok.txt", "1"}, {root_.File("outside") + "/abs", "evil"}}},
      {"nested parent path", {{"a/../../outside/y", "evil"}}},
      {"symbolic link", {{"ok.txt", "1"}, {"link", "../outside", 0120777}}},
      {"device node", {{"dev", "", 0020666}}},
      {"oversize entry", {{"ok.txt", "1"}, {"big.bin", std::string(2000, 'b')}}},
  };
  for (const auto& c : cases) {
    MakeZip(pkg, c.entries);
    std::string error;
    EXPECT_FALSE(ml::ExtractUpdatePackage(pkg, Up(), &error, {}, 1000)) << c.what;
    EXPECT_FALSE(error.empty()) << c.what;
    EXPECT_TRUE(Tree(root_.File("outside")).empty()) << c.what;
    EXPECT_FALSE(ml::FileExists(Up() + "ok.txt")) << c.what << ": nothing is written from a refused package";
  }
}

TEST_F(UpdatePackage, GoodPackageIsExtractedWithItsFolders) {
  const std::string pkg = root_.File("pkg.zip");
  MakeZip(pkg, {{"NewUpminilirra", "#!updater", 0100644},  // no exec bit: the updater gets one anyway
                {"minilirra", "new program", 0100755},
                {"SkinRes\\Strings.ini", "[Strings]"},
                {"docs/", "", 0040755}});
  mltest::WriteAll(Up() + "minilirra", "old");  // a leftover of an earlier attempt is replaced
  int pumped = 0;
  std::string error;
  ASSERT_TRUE(ml::ExtractUpdatePackage(pkg, Up(), &error, [&] { ++pumped; })) << error;
  EXPECT_EQ(pumped, 3);
  EXPECT_EQ(mltest::ReadAll(Up() + "minilirra"), "new program");
  EXPECT_EQ(mltest::ReadAll(Up() + "SkinRes/Strings.ini"), "[Strings]");
  EXPECT_TRUE(fs::is_directory(Up() + "docs"));
  EXPECT_EQ(fs::status(Up() + "NewUpminilirra").permissions() & fs::perms::owner_exec, fs::perms::owner_exec);
  EXPECT_EQ(fs::status(Up() + "SkinRes/Strings.ini").permissions() & fs::perms::owner_exec, fs::perms::none);

  // Up/ planted as a link to elsewhere is not followed.
  fs::remove_all(Up());
  fs::create_directory_symlink(root_.File("outside"), root_.File("install/Up"));
  EXPECT_FALSE(ml::ExtractUpdatePackage(pkg, Up(), &error));
  EXPECT_TRUE(Tree(root_.File("outside")).empty());
}

TEST_F(UpdatePackage, DamagedPackageFails) {
  const std::string pkg = root_.File("pkg.zip");
  MakeZip(pkg, {{"a.txt", std::string(5000, 'a')}});
  std::string bytes = mltest::ReadAll(pkg);
  mltest::WriteAll(pkg, bytes.substr(0, bytes.size() / 2));
  EXPECT_FALSE(ml::ExtractUpdatePackage(pkg, Up()));
  EXPECT_FALSE(ml::ExtractUpdatePackage(root_.File("missing.zip"), Up()));
}

TEST_F(UpdatePackage, UpdateFilesListCopiesOnlyInsideTheInstallFolder) {
  mltest::WriteAll(Up() + "minilirra", "new program");
  ::chmod((Up() + "minilirra").c_str(), 0755);
  mltest::WriteAll(Up() + "Strings.ini", "new strings");
  mltest::WriteAll(root_.File("outside") + "/secret", "secret");
  fs::create_symlink(root_.File("outside") + "/secret", Up() + "linked");
  fs::create_directory_symlink(root_.File("outside"), Install() + "linkdir");
  mltest::WriteAll(Install() + "minilirra", "old program");
  mltest::WriteAll(Up() + "UpdateFiles.ini",
                   "[Files]\r\n"
                   "minilirra=minilirra\r\n"
                   "Strings.ini=SkinRes\\Strings.ini\r\n"
                   "Strings.ini=../outside/x\r\n"
                   "Strings.ini=/tmp/abs\r\n"
                   "../outside/secret=stolen\r\n"
                   "linked=stolen2\r\n"
                   "Strings.ini=linkdir/x\r\n"
                   "Strings.ini=<System>\\x.dll\r\n"
                   "Strings.ini=sub/<system>/y.dll\r\n"
                   "missing=whatever\r\n"
                   "no equals sign\r\n");
  auto report = ml::ApplyUpdateFiles(Up(), Install());
  ASSERT_TRUE(report);
  EXPECT_EQ(report->written, 2);
  EXPECT_EQ(report->problems.size(), 8u);
  EXPECT_EQ(mltest::ReadAll(Install() + "minilirra"), "new program");
  EXPECT_EQ(fs::status(Install() + "minilirra").permissions() & fs::perms::owner_exec, fs::perms::owner_exec);
  EXPECT_EQ(mltest::ReadAll(Install() + "SkinRes/Strings.ini"), "new strings");
  EXPECT_FALSE(ml::FileExists(Install() + "stolen"));
  EXPECT_FALSE(ml::FileExists(Install() + "stolen2"));
  EXPECT_EQ(Tree(root_.File("outside")), std::set<std::string>{"secret"});
  EXPECT_FALSE(ml::ApplyUpdateFiles(Install(), Install()));  // no list: nothing to do
}

class SelfUpdate : public UpdatePackage {
protected:
  ml::TUpdateContext Context(const std::string& appDir, const std::string& exePath) {
    ml::TUpdateContext ctx;
    ctx.appDir = appDir;
    ctx.exeFileName = "minilirra";
    ctx.exePath = exePath;
    ctx.releaseAppLock = [this] { events.push_back("release"); };
    ctx.retakeAppLock = [this] { events.push_back("retake"); };
    ctx.spawn = [this](const std::string& path, const std::vector<std::string>& args) {
      events.push_back("spawn " + path + (args.empty() ? "" : " " + args[0]));
      return spawnWorks;
    };
    ctx.endOldProgram = [this](const std::string& dir, const std::string& name) { events.push_back("end " + dir + name); };
    return ctx;
  }
  void WritePending(int64_t version, const std::string& dest, int64_t upTimes) {
    ml::IniFile ini;
    ini.WriteInteger("Update", "Version", version);
    ini.WriteString("Update", "DestFileName", dest);
    ini.WriteInteger("Update", "UpTimes", upTimes);
    ASSERT_TRUE(ini.Save(Install() + "Update.ini"));
  }
  std::vector<std::string> events;
  bool spawnWorks = true;
};

TEST_F(SelfUpdate, PendingUpdateOnlyForANewerVersionAndAtMostTwice) {
  const std::string pkg = root_.File("pkg.zip");
  MakeZip(pkg, {{"NewUpminilirra", "updater"}});
  struct Case {
    int64_t version;
    std::string dest;
    int64_t upTimes;
    bool applies;
  } cases[] = {
      {ml::ProgramVersion, pkg, 0, false},
      {ml::ProgramVersion + 1, pkg, 2, false},
      {ml::ProgramVersion + 1, root_.File("gone.zip"), 0, false},
      {ml::ProgramVersion + 1, pkg, 1, true},
  };
  for (const auto& c : cases) {
    WritePending(c.version, c.dest, c.upTimes);
    events.clear();
    auto outcome = ml::CheckSelfUpdate(Context(Install(), Install() + "minilirra"));
    EXPECT_EQ(outcome == ml::TUpdateOutcome::EndProcess, c.applies) << c.version << " " << c.upTimes;
    EXPECT_EQ(ml::ReadPendingUpdate(Install())->upTimes, c.upTimes + (c.applies ? 1 : 0));
  }
  EXPECT_EQ(events, (std::vector<std::string>{"release", "spawn " + Up() + "NewUpminilirra"}));

  // The updater cannot be started: carry on as a normal start, holding the lock again.
  WritePending(ml::ProgramVersion + 1, pkg, 0);
  events.clear();
  spawnWorks = false;
  EXPECT_EQ(ml::CheckSelfUpdate(Context(Install(), Install() + "minilirra")), ml::TUpdateOutcome::Continue);
  EXPECT_EQ(events, (std::vector<std::string>{"release", "spawn " + Up() + "NewUpminilirra", "retake"}));
}

TEST_F(SelfUpdate, HostilePendingPackageStartsNormally) {
  const std::string pkg = root_.File("pkg.zip");
  MakeZip(pkg, {{"NewUpminilirra", "updater"}, {"../outside/x", "evil"}});
  WritePending(ml::ProgramVersion + 1, pkg, 0);
  EXPECT_EQ(ml::CheckSelfUpdate(Context(Install(), Install() + "minilirra")), ml::TUpdateOutcome::Continue);
  EXPECT_TRUE(events.empty());
  EXPECT_TRUE(Tree(root_.File("outside")).empty());
  EXPECT_EQ(ml::ReadPendingUpdate(Install())->upTimes, 0);
}

TEST_F(SelfUpdate, UpdaterCopyInstallsAndStartsTheProgram) {
  mltest::WriteAll(Up() + "minilirra", "new program");
  mltest::WriteAll(Up() + "UpdateFiles.ini", "[Files]\nminilirra=minilirra\n");
  mltest::WriteAll(Install() + "minilirra", "old program");
  // Any case of the updater's name counts.
  auto outcome = ml::CheckSelfUpdate(Context(Up(), Up() + "NEWUPMiniLirra"));
  EXPECT_EQ(outcome, ml::TUpdateOutcome::EndProcess);
  EXPECT_EQ(mltest::ReadAll(Install() + "minilirra"), "new program");
  EXPECT_EQ(events, (std::vector<std::string>{"end " + Install() + "minilirra", "release", "spawn " + Install() + "minilirra"}));

  // Without its list the updater copy starts as an ordinary program.
  fs::remove(Up() + "UpdateFiles.ini");
  events.clear();
  EXPECT_EQ(ml::CheckSelfUpdate(Context(Up(), Up() + "NewUpminilirra")), ml::TUpdateOutcome::Continue);
  EXPECT_EQ(events, std::vector<std::string>{"end " + Install() + "minilirra"});
}

TEST_F(SelfUpdate, OldProgramIsFoundThroughProcAndEnded) {
  // A stand-in for the old program: a copy of sleep installed under the program's name.
  fs::copy_file("/bin/sleep", Install() + "minilirra");
  pid_t pid = 0;
  if (!ml::SpawnProgram(Install() + "minilirra", {"30"}, &pid)) GTEST_SKIP() << "programs cannot run from the temp folder";
  std::vector<pid_t> found;
  for (int i = 0; i < 2000 && found.empty(); ++i) {  // until the child has exec'd
    found = ml::FindProgramProcesses(Install(), "MINILIRRA");
    if (found.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  EXPECT_EQ(found, std::vector<pid_t>{pid});
  EXPECT_TRUE(ml::FindProgramProcesses(root_.File("outside"), "minilirra").empty());
  ml::EndOldProgram(Install(), "minilirra");
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
}

}  // namespace
