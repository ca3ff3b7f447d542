// The login command as a new user meets it: against the real service, through the real SOCKS5
// server (danted), on a terminal made by script(1).
#include <gtest/gtest.h>

#include "app/AppInfo.h"
#include "app/uSettingMgr.h"
#include "tests/net/NetTestTools.h"
#include "tests/service/ServiceProcess.h"
#include "tests/support/TestSupport.h"

#include <string>

using mlsvctest::TServiceProcess;

namespace {

class LoginCli : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(service.Start(dir.Path().string())) << service.Log();
    mltest::WriteAll(dir.File("pw"), "secret\n");
    int status = -1;
    TServiceProcess::Admin(service.DbPath(), {"add-user", "bob", "--password-file", dir.File("pw")}, &status);
    ASSERT_EQ(status, 0);
  }

  // The command with its own data folder, the service's list server and a free UDP port.
  std::string Cli(const std::string& args) const {
    return mltest::BinDir() + "/minilirra-cli --data-dir " + dir.File("data") + " login --list-server 127.0.0.1:" +
           std::to_string(service.ListPort()) + " --udp-port " + std::to_string(mlnettest::FreeUdpPort()) +
           " --keepalive-ms 100 --keepalive-count 1 " + args;
  }

  std::string Run(const std::string& commandLine, int& status) const {
    return mltest::RunCapture(commandLine + " 2>&1", &status);
  }

  mltest::TempDir dir;
  TServiceProcess service;
};

TEST_F(LoginCli, SaysWhoAndWhatInBothLanguages) {
  struct Case {
    const char* name;
    std::string command;
    int status;
    std::string shows;
  } cases[] = {
      {"password piped in", "echo secret | " + Cli("--user bob"), 0, "result: 0 logged in (登录成功)"},
      {"password from a file", Cli("--user bob --password-file " + dir.File("pw")), 0, "logged out"},
      {"wrong password", "echo wrong | " + Cli("--user bob"), 1,
       "result: 147 wrong user name or password (登录失败，请您检查用户名与密码是否正确！错误代码：147)"},
      {"no such user", "echo x | " + Cli("--user nobody"), 1, "result: 148 no such user"},
      {"anonymous only when asked", Cli("--anonymous"), 0, "result: 0 logged in"},
      {"nobody named", Cli("</dev/null"), 2, "say who logs in: --user NAME|NUMBER, or --anonymous"},
      {"both named", Cli("--anonymous --user bob"), 2, "excludes"},
      {"no password at all", Cli("--user bob </dev/null"), 2, "no password given"},
      {"progress while asking", Cli("--anonymous"), 0, "login: asking the service at 127.0.0.1:"},
      {"not a SOCKS5 proxy", Cli("--anonymous --proxy http://127.0.0.1:3128"), 2, "only SOCKS5 proxies carry UDP"},
      {"a proxy port out of range", Cli("--anonymous --proxy socks5://127.0.0.1:70000"), 2, "outside 1..65535"},
      {"nothing at the proxy", Cli("--anonymous --proxy socks5://127.0.0.1:" + std::to_string(mlnettest::FreeTcpPort())),
       1, "did not relay for us"},
  };
  for (const Case& c : cases) {
    int status = -1;
    const std::string out = Run(c.command, status);
    EXPECT_EQ(status, c.status) << c.name << "\n" << out;
    EXPECT_NE(out.find(c.shows), std::string::npos) << c.name << "\n" << out;
  }
}

// On a terminal the password is asked for and not echoed. A pseudo-terminal stands in for the
// user: the password is typed once the prompt shows.
TEST_F(LoginCli, AsksForThePasswordOnATerminalWithoutEcho) {
  mltest::WriteAll(dir.File("type.py"), R"(import os, pty, sys
pid, fd = pty.fork()
if pid == 0:
    os.execvp("sh", ["sh", "-c", sys.argv[1]])
out = b""
while b"password for" not in out:
    out += os.read(fd, 4096)
os.write(fd, b"secret\n")
while True:
    try:
        chunk = os.read(fd, 4096)
    except OSError:
        break
    if not chunk:
        break
    out += chunk
sys.stdout.write(out.decode("utf-8", "replace"))
sys.exit(os.waitstatus_to_exitcode(os.waitpid(pid, 0)[1]))
)");
  int status = -1;
  const std::string out = Run("python3 " + dir.File("type.py") + " '" + Cli("--user bob") + "'", status);
  EXPECT_EQ(status, 0) << out;
  EXPECT_NE(out.find("password for bob: "), std::string::npos) << out;
  EXPECT_EQ(out.find("secret"), std::string::npos) << "the password was echoed:\n" << out;
  EXPECT_NE(out.find("result: 0 logged in"), std::string::npos) << out;
}

// Through the proxy the service sees the proxy's relay port, not ours; the player's proxy
// settings are used when --proxy is not given, and --proxy none goes direct.
TEST_F(LoginCli, GoesThroughTheSocks5Proxy) {
  mlnettest::TDantedServer dante;
  const auto started = dante.Start(dir.Path().string());
  if (started == mlnettest::TDantedServer::Unavailable) GTEST_SKIP() << "danted is not installed";
  ASSERT_EQ(started, mlnettest::TDantedServer::Started) << dante.Log();

  const uint16_t ourPort = mlnettest::FreeUdpPort();
  auto login = [&](const std::string& args, int& status) {
    return Run(mltest::BinDir() + "/minilirra-cli --data-dir " + dir.File("data") + " login --list-server 127.0.0.1:" +
                   std::to_string(service.ListPort()) + " --udp-port " + std::to_string(ourPort) +
                   " --keepalive-ms 100 --keepalive-count 1 --password-file " + dir.File("pw") + " --user bob " + args,
               status);
  };
  const std::string direct = "public: 127.0.0.1:" + std::to_string(ourPort) + "\n";
  int status = -1;
  std::string out = login("--proxy socks5://127.0.0.1:" + std::to_string(dante.Port()), status);
  EXPECT_EQ(status, 0) << out << dante.Log();
  EXPECT_NE(out.find("result: 0 logged in"), std::string::npos) << out;
  EXPECT_EQ(out.find(direct), std::string::npos) << "the service saw our own port:\n" << out;

  {
    ml::TSkinResStrings strings;
    strings.Load(ml::DefaultSkinResDir());
    std::filesystem::create_directories(dir.File("data"));
    const ml::TAppInfo info = ml::MakeAppInfo(strings, dir.File("data"));
    ml::TSettingMgr settings(info.SettingsFileName(), ml::TSettingContext{info.AppDir, info.ExeBaseName, {}, {}, nullptr});
    settings.ProxyType = 1;
    settings.ProxyAddr = " 127.0.0.1 ";
    settings.ProxyPort = dante.Port();
  }
  out = login("", status);
  EXPECT_EQ(status, 0) << out;
  EXPECT_NE(out.find("setting up the proxy 127.0.0.1:" + std::to_string(dante.Port())), std::string::npos) << out;
  EXPECT_EQ(out.find(direct), std::string::npos) << out;

  out = login("--proxy none", status);
  EXPECT_EQ(status, 0) << out;
  EXPECT_NE(out.find(direct), std::string::npos) << out;
}

}  // namespace
