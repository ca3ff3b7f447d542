// minilirra-cli login: logs in against the configured server list (or connects anonymously),
// prints the result and the account data, keeps the session alive until interrupted, logs out.
#include "cli/CliCommand.h"
#include "net/LRUDPClient.h"
#include "app/LocalAddress.h"
#include "base/StrUtil.h"
#include "online/uLogin.h"
#include "net/uServerListManager.h"

#include <arpa/inet.h>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <iostream>
#include <string>

namespace {

std::string IPText(uint32_t ip) {
  char text[INET_ADDRSTRLEN] = {};
  ::inet_ntop(AF_INET, &ip, text, sizeof text);
  return text;
}

bool ParseEndpoint(const std::string& v, uint32_t& ip, uint16_t& port) {
  const auto colon = v.rfind(':');
  in_addr a{};
  if (colon == std::string::npos || ::inet_pton(AF_INET, v.substr(0, colon).c_str(), &a) != 1) return false;
  const auto p = ml::ParseInt(v.substr(colon + 1));
  if (!p || *p < 1 || *p > 65535) return false;
  ip = a.s_addr;
  port = uint16_t(*p);
  return true;
}

int Login(mlcli::CliContext& ctx) {
  std::string user, passwordFile;
  int64_t periodMs = 0, maxReports = -1;
  ml::TServerListDefaults defaults;
  int32_t udpPort = 7000;
  const auto& a = ctx.args;
  for (size_t i = 0; i < a.size(); ++i) {
    auto value = [&](std::string& out) {
      if (i + 1 >= a.size()) return false;
      out = a[++i];
      return true;
    };
    std::string v;
    bool ok = true;
    if (a[i] == "--user") ok = value(user);
    else if (a[i] == "--password-file") ok = value(passwordFile);
    else if (a[i] == "--list-server") ok = value(v) && ParseEndpoint(v, defaults.ListServerIP, defaults.ListServerPort);
    else if (a[i] == "--keepalive-ms") ok = value(v) && (periodMs = ml::ParseIntDef(v, 0)) > 0;
    else if (a[i] == "--keepalive-count") ok = value(v) && (maxReports = ml::ParseIntDef(v, -1)) >= 0;
    else if (a[i] == "--udp-port") ok = value(v) && (udpPort = ml::ParseInt32Def(v, 0)) > 0 && udpPort < 65536;
    else ok = false;
    if (!ok) {
      std::fprintf(stderr, "login: bad or unknown option %s\n", a[i].c_str());
      return 2;
    }
  }

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
  udp.SetDefaultPort(udpPort);
  if (!udp.SetActive(true)) {
    std::fprintf(stderr, "login: cannot open the UDP port\n");
    return 1;
  }
  info.LocalPort = uint16_t(udp.DefaultPort());
  info.PublicPort = info.LocalPort.load();
  ml::TServerListManager servers(ctx.appDir() + "LR4ServerList.bin", defaults);
  servers.SetUDPClient(&udp);
  ml::TLRLogin login(udp, servers, info, ctx.appDir());
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
  std::printf("public: %s:%u\n", IPText(info.PublicIP).c_str(), unsigned(info.PublicPort.load()));
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

const mlcli::CliCommand kLogin("login",
                               "login [--user NAME|NUMBER] [--password-file F] [--list-server ADDR:PORT]\n"
                               "      [--udp-port N] [--keepalive-ms N] [--keepalive-count N]",
                               Login);

}  // namespace
