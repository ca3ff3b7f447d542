// minilirra-cli login: logs in against the configured server list (or connects anonymously),
// prints the result and the account data, keeps the session alive until interrupted, logs out.
#include "cli/CliCommand.h"
#include "net/IPv4Text.h"
#include "net/LRUDPClient.h"
#include "app/LocalAddress.h"
#include "base/StrUtil.h"
#include "online/uLogin.h"
#include "net/uServerListManager.h"

#include <csignal>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <iostream>
#include <string>

namespace {

struct Options {
  std::string user, passwordFile, listServer;
  int64_t periodMs = 0, maxReports = -1;
  int udpPort = 7000;
};

int Login(mlcli::CliContext& ctx, const Options& o) {
  std::string user = o.user;
  const std::string& passwordFile = o.passwordFile;
  const int64_t periodMs = o.periodMs, maxReports = o.maxReports;
  ml::TServerListDefaults defaults;
  if (!o.listServer.empty()) ml::ParseIPv4Endpoint(o.listServer, defaults.ListServerIP, defaults.ListServerPort);

  std::string stored;
  if (!user.empty()) {
    std::string password;
    if (!passwordFile.empty()) {
      std::ifstream f(passwordFile);
      if (!f || !std::getline(f, password)) {
        std::fprintf(stderr, "login: cannot read the password file %s\n", passwordFile.c_str());
        return 2;
      }
    } else {
      std::getline(std::cin, password);
    }
    if (!password.empty() && password.back() == '\r') password.pop_back();
    stored = ml::EncodeStoredPassword(password);
    const std::string t(ml::Trim(user));
    if (!t.empty() && t[0] >= '0' && t[0] <= '9' && ml::ParseIntDef(t, 0) <= 9) {
      std::fprintf(stderr, "login: 号码不正确,请重新输入！\n");
      return 2;
    }
  }

  // SIGINT and SIGTERM end the keep-alive; they are waited for on this thread.
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &set, nullptr);

  ml::TUserInfo info;
  const ml::TLocalAddresses local = ml::ProbeLocalAddresses();
  info.LocalIP = local.LanIP ? local.LanIP : local.LocalIP;
  info.PublicIP = local.LocalIP;
  info.NetKind = local.NetKind;
  info.HardwareAddress = ml::HardwareAddress(info.LocalIP);

  ml::TLRUDPClient udp(nullptr);
  udp.SetDefaultPort(o.udpPort);
  if (!udp.SetActive(true)) {
    std::fprintf(stderr, "login: cannot open the UDP port\n");
    return 1;
  }
  info.LocalPort = uint16_t(udp.DefaultPort());
  info.PublicPort = info.LocalPort.load();
  ml::TServerListManager servers(ctx.AppDir() + "LR4ServerList.bin", defaults);
  servers.SetUDPClient(&udp);
  ml::TLRLogin login(udp, servers, info, ctx.AppDir());
  if (periodMs > 0) login.SetKeepAlivePeriodOverride(periodMs);

  if (user.empty() && login.ShouldAutoLogin()) {
    const ml::TLoginRecord r = login.LastLogin();
    user = std::to_string(r.ID);
    stored = r.Password;
    login.SetAutoLogin(true);
  }
  const bool ok = login.Login(user, stored);
  const char* prefix = user.empty() ? "连接服务器失败，" : "登录失败，";
  if (!ok) {
    std::printf("result: %d %s%s\n", login.LastResult(), prefix, login.LastMessage().c_str());
    udp.SetActive(false);
    return 1;
  }
  std::printf("result: 0 %s\n", login.LastMessage().c_str());
  std::printf("user: %d\n", info.UserID.load());
  std::printf("name: %s\n", info.UserName().c_str());
  std::printf("public: %s:%u\n", ml::IPv4Text(info.PublicIP).c_str(), unsigned(info.PublicPort.load()));
  std::printf("server list: version %u, %u entries\n", unsigned(servers.Version()), unsigned(servers.EntryCount()));
  if (!login.Notice().empty()) std::printf("notice: %s\n", login.Notice().c_str());
  std::printf("keep-alive every %lld ms\n", static_cast<long long>(login.KeepAlivePeriodMs()));
  std::fflush(stdout);

  for (;;) {
    if (maxReports >= 0 && int64_t(login.KeepAliveReports()) >= maxReports) break;
    timespec slice{0, 50 * 1000 * 1000};
    if (sigtimedwait(&set, nullptr, &slice) > 0) break;
  }
  // Joining the keep-alive thread lets a report in flight finish, so the tally is complete.
  login.StopKeepAlive();
  std::printf("keep-alive: %llu reports, %llu answered\n",
              static_cast<unsigned long long>(login.KeepAliveReports()),
              static_cast<unsigned long long>(login.KeepAliveAnswers()));
  login.Logout();
  std::printf("logged out\n");
  udp.SetActive(false);
  return 0;
}

mlcli::CliRun Setup(CLI::App& app, mlcli::CliContext& ctx) {
  auto o = std::make_shared<Options>();
  app.add_option("--user", o->user, "account name or number (none: connect anonymously)")->type_name("NAME|NUMBER");
  app.add_option("--password-file", o->passwordFile, "read the password from the file's first line (default: stdin)")
      ->type_name("FILE");
  app.add_option("--list-server", o->listServer, "the server-list server (default: this machine's service)")
      ->type_name("ADDR:PORT")
      ->check(CLI::Validator(
          [](std::string& v) -> std::string {
            uint32_t ip = 0;
            uint16_t port = 0;
            return ml::ParseIPv4Endpoint(v, ip, port) ? "" : "takes an IPv4 address and a port, ADDR:PORT";
          },
          "ADDR:PORT"));
  app.add_option("--udp-port", o->udpPort, "the local UDP port (default 7000)")->check(CLI::Range(1, 65535));
  app.add_option("--keepalive-ms", o->periodMs, "keep-alive period instead of the service's")
      ->check(CLI::PositiveNumber)
      ->type_name("MS");
  app.add_option("--keepalive-count", o->maxReports, "log out after this many keep-alive reports")
      ->check(CLI::NonNegativeNumber)
      ->type_name("N");
  return [&ctx, o] { return Login(ctx, *o); };
}

const mlcli::CliCommand kLogin("login", "log in to the service, keep alive until interrupted, log out", Setup);

}  // namespace
