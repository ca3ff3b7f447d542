// minilirra-cli login: logs in against the configured server list (or connects anonymously when
// asked), prints the result and the account data, keeps the session alive until interrupted,
// logs out.
#include "cli/CliCommand.h"
#include "cli/CliOnline.h"
#include "net/IPv4Text.h"
#include "net/LRUDPClient.h"
#include "app/LocalAddress.h"
#include "base/SecretInput.h"
#include "base/StrUtil.h"
#include "online/uLogin.h"
#include "net/uServerListManager.h"

#include <atomic>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <optional>
#include <string>
#include <thread>

namespace {

struct Options {
  std::string user, passwordFile, listServer, proxy;
  bool anonymous = false;
  int64_t periodMs = 0, maxReports = -1;
  int udpPort = 7000;
};

// The result in the command line's language, with the player's own text beside it.
std::string ResultInEnglish(int code) {
  switch (code) {
    case ml::LoginResult::Success: return "logged in";
    case ml::LoginResult::Damaged: return "the service's answer was damaged; try again";
    case ml::Status::Refused: return "the service refused the login";
    case ml::Status::Busy: return "the service is busy; try again later";
    case ml::Status::WrongPassword: return "wrong user name or password";
    case ml::Status::NoSuchUser: return "no such user";
    case ml::Status::TooOld: return "this version is too old for the service; install a newer one";
    case ml::Status::NoAnswer: return "the service did not answer";
    case ml::LoginResult::Unknown: return "unknown error";
    default: return "the login failed with code " + std::to_string(code);
  }
}

// The stored form of the password: from the file's first line, else typed (or piped) in.
std::optional<std::string> StoredPassword(const Options& o) {
  std::string password;
  if (!o.passwordFile.empty()) {
    std::ifstream f(o.passwordFile);
    if (!f || !std::getline(f, password)) {
      std::fprintf(stderr, "login: cannot read the password file %s\n", o.passwordFile.c_str());
      return std::nullopt;
    }
    if (!password.empty() && password.back() == '\r') password.pop_back();
  } else {
    auto typed = ml::ReadSecretLine("password for " + o.user + ": ");
    if (!typed) {
      std::fprintf(stderr, "login: no password given (type it, pipe it in, or use --password-file)\n");
      return std::nullopt;
    }
    password = *typed;
  }
  return ml::EncodeStoredPassword(password);
}

int Login(mlcli::CliContext& ctx, const Options& o) {
  std::string user = o.user;
  ml::TServerListDefaults defaults;
  if (!o.listServer.empty()) ml::ParseIPv4Endpoint(o.listServer, defaults.ListServerIP, defaults.ListServerPort);

  std::string stored;
  if (!user.empty()) {
    const std::string t(ml::Trim(user));
    if (!t.empty() && t[0] >= '0' && t[0] <= '9' && ml::ParseIntDef(t, 0) <= 9) {
      std::fprintf(stderr, "login: account numbers start at 10 (号码不正确,请重新输入！)\n");
      return mlcli::kUsageError;
    }
    auto password = StoredPassword(o);
    if (!password) return mlcli::kUsageError;
    stored = *password;
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
    std::fprintf(stderr, "login: cannot open a UDP port (from %d on)\n", o.udpPort);
    return 1;
  }
  if (const auto proxy = mlcli::ChooseProxy(ctx, o.proxy); proxy && !mlcli::RouteThroughProxy(udp, *proxy, "login")) {
    udp.SetActive(false);
    return 1;
  }
  info.LocalPort = uint16_t(udp.DefaultPort());
  info.PublicPort = info.LocalPort.load();
  ml::TServerListManager servers(ctx.AppDir() + "LR4ServerList.bin", defaults);
  servers.SetUDPClient(&udp);
  ml::TLRLogin login(udp, servers, info, ctx.AppDir());
  if (o.periodMs > 0) login.SetKeepAlivePeriodOverride(o.periodMs);

  if (user.empty() && !o.anonymous) {
    if (!login.ShouldAutoLogin()) {
      std::fprintf(stderr, "login: say who logs in: --user NAME|NUMBER, or --anonymous\n");
      udp.SetActive(false);
      return mlcli::kUsageError;
    }
    const ml::TLoginRecord r = login.LastLogin();
    user = std::to_string(r.ID);
    stored = r.Password;
    login.SetAutoLogin(true);
    std::fprintf(stderr, "login: as %s, saved for automatic login\n", r.UserName.empty() ? user.c_str() : r.UserName.c_str());
  }
  login.OnAttempt = [](int attempt, int tries, uint32_t ip, uint16_t port) {
    std::fprintf(stderr, "login: asking the service at %s:%u (try %d of %d)...\n", ml::IPv4Text(ip).c_str(),
                 unsigned(port), attempt, tries);
  };
  // The login runs on a thread of its own so that Ctrl-C ends a wait for a service that does not
  // answer; no session exists yet, so there is nothing to log out of.
  std::atomic<bool> finished{false};
  bool ok = false;
  std::thread attempt([&] {
    ok = login.Login(user, stored);
    finished = true;
  });
  while (!finished) {
    timespec slice{0, 50 * 1000 * 1000};
    if (sigtimedwait(&set, nullptr, &slice) > 0) {
      std::fprintf(stderr, "login: interrupted\n");
      std::_Exit(130);
    }
  }
  attempt.join();
  if (!ok) {
    // The player's own wording: a failed anonymous connection and a failed login differ.
    const char* prefix = user.empty() ? "连接服务器失败，" : "登录失败，";
    std::printf("result: %d %s (%s%s)\n", login.LastResult(), ResultInEnglish(login.LastResult()).c_str(), prefix,
                login.LastMessage().c_str());
    udp.SetActive(false);
    return 1;
  }
  std::printf("result: 0 %s (%s)\n", ResultInEnglish(0).c_str(), login.LastMessage().c_str());
  std::printf("user: %d\n", info.UserID.load());
  std::printf("name: %s\n", info.UserName().c_str());
  std::printf("public: %s:%u\n", ml::IPv4Text(info.PublicIP).c_str(), unsigned(info.PublicPort.load()));
  std::printf("server list: version %u, %u entries\n", unsigned(servers.Version()), unsigned(servers.EntryCount()));
  if (!login.Notice().empty()) std::printf("notice: %s\n", login.Notice().c_str());
  std::printf("keep-alive every %lld ms\n", static_cast<long long>(login.KeepAlivePeriodMs()));
  std::fflush(stdout);

  for (;;) {
    if (o.maxReports >= 0 && int64_t(login.KeepAliveReports()) >= o.maxReports) break;
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
  CLI::Option* user = app.add_option("--user", o->user, "account name or number; the password is asked for")
                          ->type_name("NAME|NUMBER");
  app.add_flag("--anonymous", o->anonymous, "connect without an account")->excludes(user);
  app.add_option("--password-file", o->passwordFile,
                 "read the password from the file's first line (default: ask on the terminal, else read stdin)")
      ->type_name("FILE")
      ->needs(user);
  app.add_option("--list-server", o->listServer, "the server-list server (default: this machine's service)")
      ->type_name("ADDR:PORT")
      ->check(CLI::Validator(
          [](std::string& v) -> std::string {
            uint32_t ip = 0;
            uint16_t port = 0;
            return ml::ParseIPv4Endpoint(v, ip, port) ? "" : "takes an IPv4 address and a port, ADDR:PORT";
          },
          "ADDR:PORT"));
  mlcli::AddProxyOption(app, o->proxy);
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
