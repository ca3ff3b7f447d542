// minilirra-service's command line: help at every level, values checked before anything runs,
// and the admin commands against a real database.
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

namespace {

using mltest::RunCapture;

std::string Service() { return "'" + mltest::BinDir() + "/minilirra-service'"; }

TEST(ServiceCli, HelpAndUsageErrors) {
  mltest::TempDir dir;
  const std::string db = " --db '" + dir.File("svc.db") + "' ";
  for (const char* args : {"--help", "admin --help", "admin --db x set-servers --help"}) {
    int rc = -1;
    const std::string out = RunCapture(Service() + " " + args, &rc);
    EXPECT_EQ(rc, 0) << args;
    EXPECT_NE(out.find("usage: minilirra-service"), std::string::npos) << out;
  }
  struct Case {
    std::string args;
    const char* says;
  } cases[] = {
      {"--port 99999", "--port"},
      {"--address localhost" + db, "--address"},
      {"--advertise 10.0.0.1:0" + db, "--advertise"},
      {"admin add-user bob pw", "--db"},
      {"admin" + db + "set-list-version 0", "not in range"},
      {"admin" + db + "set-servers 33", "not in range"},
      {"admin" + db + "set-servers 3 10.0.0.1", "ADDR:PORT"},
      {"admin" + db + "set-update 5004 100 nothex", "32 hex digits"},
      {"admin" + db + "frob", "frob"},
      {"", "--db"},
  };
  for (const auto& c : cases) {
    int rc = -1;
    const std::string out = RunCapture(Service() + " " + c.args + " 2>&1", &rc);
    EXPECT_EQ(rc, 2) << c.args << "\n" << out;
    EXPECT_NE(out.find(c.says), std::string::npos) << c.args << "\n" << out;
  }
}

TEST(ServiceCli, AdminCommandsChangeTheDatabase) {
  mltest::TempDir dir;
  const std::string admin = Service() + " admin --db='" + dir.File("svc.db") + "' ";
  int rc = -1;
  const std::string id = RunCapture(admin + "add-user 歌迷 secret", &rc);
  EXPECT_EQ(rc, 0);
  EXPECT_EQ(RunCapture(admin + "list-users"), id.substr(0, id.size() - 1) + "\t歌迷\n");
  RunCapture(admin + "add-user 歌迷 again 2>/dev/null", &rc);
  EXPECT_EQ(rc, 1) << "a name is taken once";
  EXPECT_EQ(RunCapture(admin + "set-servers 3 127.0.0.1:9000 10.0.0.2:80", &rc), "");
  EXPECT_EQ(rc, 0);
  EXPECT_EQ(RunCapture(admin + "list-servers"), "version 8\n3\t127.0.0.1:9000\n3\t10.0.0.2:80\n");
}

}  // namespace
