// minilirra-service's command line: help and version, values checked before anything runs, a
// database made only when asked, passwords kept out of the command line, and the admin commands
// against a real database.
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "base/GbkText.h"
#include "base/LRMD5.h"
#include "service/ServiceSecurity.h"
#include "service/ServiceStore.h"

namespace {

using mltest::RunCapture;

std::string Service() { return "'" + mltest::BinDir() + "/minilirra-service'"; }

std::filesystem::perms Mode(const std::string& path) {
  return std::filesystem::status(path).permissions() & std::filesystem::perms::all;
}

TEST(ServiceCli, HelpVersionAndUsageErrors) {
  mltest::TempDir dir;
  const std::string db = " --db '" + dir.File("svc.db") + "' ";
  for (const char* args : {"--help", "admin --help", "admin --db x set-servers --help"}) {
    int rc = -1;
    const std::string out = RunCapture(Service() + " " + args, &rc);
    EXPECT_EQ(rc, 0) << args;
    EXPECT_NE(out.find("usage: minilirra-service"), std::string::npos) << out;
  }
  int rc = -1;
  EXPECT_EQ(RunCapture(Service() + " --version", &rc), "minilirra-service 5004\n");
  EXPECT_EQ(rc, 0);
  EXPECT_NE(RunCapture(Service() + " --help").find("UDP"), std::string::npos) << "the help says what the ports are";
  struct Case {
    std::string args;
    const char* says;
  } cases[] = {
      {"--port 99999", "--port"},
      {"--address localhost" + db, "--address"},
      {"--advertise 10.0.0.1:0" + db, "--advertise"},
      {"--log loud" + db, "--log"},
      {"admin add-user bob", "--db"},
      {"admin" + db + "set-list-version 0", "not in range"},
      {"admin" + db + "set-servers 33", "not in range"},
      {"admin" + db + "set-servers 3 10.0.0.1", "ADDR:PORT"},
      {"admin" + db + "set-update 5004 100 nothex", "32 hex digits"},
      {"admin" + db + "frob", "frob"},
      {"", "--db"},
  };
  for (const auto& c : cases) {
    const std::string out = RunCapture(Service() + " " + c.args + " 2>&1", &rc);
    EXPECT_EQ(rc, 2) << c.args << "\n" << out;
    EXPECT_NE(out.find(c.says), std::string::npos) << c.args << "\n" << out;
  }
}

TEST(ServiceCli, TheDatabaseIsMadeOnlyWhenAskedAndOnlyItsOwnerReadsIt) {
  mltest::TempDir dir;
  const std::string path = dir.File("svc.db");
  int rc = -1;
  // A mistyped path: no empty service, no stray file.
  std::string out = RunCapture(Service() + " --db '" + path + "' --port 0 --list-port 0 2>&1", &rc);
  EXPECT_EQ(rc, 1) << out;
  EXPECT_NE(out.find("no database"), std::string::npos) << out;
  out = RunCapture(Service() + " admin --db '" + path + "' list-users 2>&1", &rc);
  EXPECT_EQ(rc, 1) << out;
  EXPECT_FALSE(std::filesystem::exists(path));

  RunCapture(Service() + " admin --db '" + path + "' init", &rc);
  EXPECT_EQ(rc, 0);
  ASSERT_TRUE(std::filesystem::exists(path));
  RunCapture(Service() + " admin --db '" + path + "' set-notice hello", &rc);
  EXPECT_EQ(rc, 0);
  // The database and the journal files SQLite made beside it.
  for (const char* suffix : {"", "-wal", "-shm"})
    if (std::filesystem::exists(path + suffix)) {
      EXPECT_EQ(Mode(path + suffix), std::filesystem::perms::owner_read | std::filesystem::perms::owner_write)
          << suffix;
    }
  RunCapture(Service() + " admin --db '" + path + "' init", &rc);
  EXPECT_EQ(rc, 0) << "init on a database that exists changes nothing";
  EXPECT_EQ(RunCapture(Service() + " admin --db '" + path + "' list-users"), "");
}

TEST(ServiceCli, PasswordsComeFromStandardInputOrAFile) {
  mltest::TempDir dir;
  const std::string db = dir.File("svc.db");
  const std::string admin = Service() + " admin --db='" + db + "' ";
  int rc = -1;
  RunCapture(admin + "init", &rc);
  mltest::WriteAll(dir.File("pw"), "from a file\n");
  struct Case {
    const char* name;
    std::string command;
    std::string password;
    bool warns;
  } cases[] = {
      {"standard input", "printf 'typed in\\r\\n' | " + admin + "add-user alice", "typed in", false},
      {"a file", admin + "add-user bob --password-file '" + dir.File("pw") + "'", "from a file", false},
      {"the argument, still", admin + "add-user carol 'on the line'", "on the line", true},
  };
  for (const Case& c : cases) {
    const std::string errors = dir.File("stderr");
    RunCapture(c.command + " 2>'" + errors + "'", &rc);
    EXPECT_EQ(rc, 0) << c.name;
    EXPECT_EQ(mltest::ReadAll(errors).find("warning") != std::string::npos, c.warns) << c.name << mltest::ReadAll(errors);
  }
  RunCapture(admin + "add-user dave </dev/null 2>/dev/null", &rc);
  EXPECT_EQ(rc, 1) << "no password at all";

  mlsvc::TServiceStore store(db, false);
  const std::pair<const char*, const char*> accounts[] = {{"alice", "typed in"}, {"bob", "from a file"}, {"carol", "on the line"}};
  for (const auto& [name, password] : accounts) {
    const auto account = store.AccountByName(name);
    ASSERT_TRUE(account) << name;
    EXPECT_TRUE(mlsvc::CheckVerifier(account->Verifier, ml::LRMD5::MD5String(ml::Utf8ToGbk(password)).v)) << name;
  }
  EXPECT_FALSE(store.AccountByName("dave"));
}

TEST(ServiceCli, AdminCommandsChangeTheDatabase) {
  mltest::TempDir dir;
  const std::string admin = Service() + " admin --db='" + dir.File("svc.db") + "' ";
  int rc = -1;
  RunCapture(admin + "init", &rc);
  EXPECT_EQ(rc, 0);
  const std::string id = RunCapture("echo secret | " + admin + "add-user 歌迷", &rc);
  EXPECT_EQ(rc, 0);
  EXPECT_EQ(RunCapture(admin + "list-users"), id.substr(0, id.size() - 1) + "\t歌迷\n");
  RunCapture("echo again | " + admin + "add-user 歌迷 2>/dev/null", &rc);
  EXPECT_EQ(rc, 1) << "a name is taken once";
  EXPECT_EQ(RunCapture(admin + "set-servers 3 127.0.0.1:9000 10.0.0.2:80", &rc), "");
  EXPECT_EQ(rc, 0);
  EXPECT_EQ(RunCapture(admin + "list-servers"), "version 8\n3\t127.0.0.1:9000\n3\t10.0.0.2:80\n");
}

}  // namespace
