#include "cli/CliOnline.h"

#include "app/AppInfo.h"
#include "app/LocalAddress.h"
#include "app/UDPMessageRouter.h"
#include "app/uSettingMgr.h"
#include "cli/CliLibrary.h"
#include "base/SecretInput.h"
#include "base/StrUtil.h"
#include "base/Version.h"
#include "net/IPv4Text.h"
#include "net/LRUDPClient.h"
#include "net/uServerListManager.h"
#include "online/uLogin.h"

#include <arpa/inet.h>
#include <netdb.h>

#include <atomic>
#include <cctype>
#include <cstdio>
#include <fstream>
#include <thread>

namespace mlcli {

namespace {

constexpr const char* kScheme = "socks5://";
constexpr const char* kProxyForm = "socks5://[USER:PASSWORD@]HOST:PORT";

// %XX escapes, as a URL's user part carries reserved characters (":", "@").
std::optional<std::string> PercentDecoded(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      out += text[i];
      continue;
    }
    if (i + 2 >= text.size() || !std::isxdigit(uint8_t(text[i + 1])) || !std::isxdigit(uint8_t(text[i + 2])))
      return std::nullopt;
    out += char(std::stoi(text.substr(i + 1, 2), nullptr, 16));
    i += 2;
  }
  return out;
}

// The first IPv4 address of a host name, as dotted text; empty when it has none.
std::string ResolveIPv4(const std::string& host) {
  in_addr parsed{};
  if (inet_pton(AF_INET, host.c_str(), &parsed) == 1) return host;
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_DGRAM;
  addrinfo* found = nullptr;
  if (getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || !found) return {};
  char text[INET_ADDRSTRLEN] = {};
  inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(found->ai_addr)->sin_addr, text, sizeof text);
  freeaddrinfo(found);
  return text;
}

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
std::optional<std::string> StoredPassword(const CliConnection& o, const char* command) {
  const auto password = ReadPassword(o, command);
  return password ? std::optional(ml::EncodeStoredPassword(*password)) : std::nullopt;
}

}  // namespace

std::optional<std::string> ReadPassword(const CliConnection& o, const char* command) {
  std::string password;
  if (!o.passwordFile.empty()) {
    std::ifstream f(o.passwordFile);
    if (!f || !std::getline(f, password)) {
      std::fprintf(stderr, "%s: cannot read the password file %s\n", command, o.passwordFile.c_str());
      return std::nullopt;
    }
    if (!password.empty() && password.back() == '\r') password.pop_back();
  } else {
    auto typed = ml::ReadSecretLine("password for " + o.user + ": ");
    if (!typed) {
      std::fprintf(stderr, "%s: no password given (type it, pipe it in, or use --password-file)\n", command);
      return std::nullopt;
    }
    password = *typed;
  }
  return password;
}

std::string CliProxy::Text() const { return host + ":" + std::to_string(port); }

std::string ParseProxyUrl(const std::string& text, CliProxy& out) {
  if (!text.starts_with(kScheme)) return std::string("takes ") + kProxyForm + " (only SOCKS5 proxies carry UDP)";
  std::string rest = text.substr(std::char_traits<char>::length(kScheme));
  CliProxy proxy;
  if (const size_t at = rest.rfind('@'); at != std::string::npos) {
    const std::string userInfo = rest.substr(0, at);
    rest.erase(0, at + 1);
    const size_t colon = userInfo.find(':');
    const auto user = PercentDecoded(userInfo.substr(0, colon));
    const auto password = PercentDecoded(colon == std::string::npos ? "" : userInfo.substr(colon + 1));
    if (!user || !password || user->empty()) return "has a user part that is not USER:PASSWORD";
    // The SOCKS5 user name and password are each one length byte long.
    if (user->size() > 255 || password->size() > 255) return "has a user name or password over 255 bytes";
    proxy.user = *user;
    proxy.password = *password;
  }
  if (!rest.empty() && rest.back() == '/') rest.pop_back();
  const size_t colon = rest.rfind(':');
  if (colon == std::string::npos || colon == 0) return std::string("takes ") + kProxyForm + ", with a port";
  const int port = ml::ParseIntDef(rest.substr(colon + 1), 0);
  if (port < 1 || port > 65535 || std::to_string(port) != rest.substr(colon + 1)) return "has a port outside 1..65535";
  proxy.host = ResolveIPv4(rest.substr(0, colon));
  if (proxy.host.empty()) return "names a host with no IPv4 address: " + rest.substr(0, colon);
  proxy.port = uint16_t(port);
  out = proxy;
  return {};
}

CLI::Option* AddProxyOption(CLI::App& command, std::string& target) {
  return command
      .add_option("--proxy", target,
                  std::string("reach the service through this SOCKS5 proxy, ") + kProxyForm +
                      ", or none (default: the player's proxy setting)")
      ->check(CLI::Validator(
          [](std::string& text) -> std::string {
            CliProxy parsed;
            return text == "none" ? "" : ParseProxyUrl(text, parsed);
          },
          ""))
      ->type_name("URL");
}

std::optional<CliProxy> ChooseProxy(CliContext& context, const std::string& proxyOption) {
  if (proxyOption == "none") return std::nullopt;
  CliProxy proxy;
  if (!proxyOption.empty()) {
    ParseProxyUrl(proxyOption, proxy);  // checked when the command line was parsed
    return proxy;
  }
  const auto loaded = LoadPlayerSettings(context);
  const ml::TSettingMgr& settings = *loaded;
  if (settings.ProxyType == 0) return std::nullopt;
  proxy.host = ResolveIPv4(std::string(ml::Trim(settings.ProxyAddr)));
  proxy.port = settings.ProxyPort > 0 && settings.ProxyPort <= 65535 ? uint16_t(settings.ProxyPort) : 0;
  proxy.user = settings.ProxyUser;
  proxy.password = settings.ProxyPwd;
  if (proxy.host.empty() || proxy.port == 0) {
    std::fprintf(stderr, "the proxy in the settings (%s:%d) is not usable; going direct\n", settings.ProxyAddr.c_str(),
                 settings.ProxyPort);
    return std::nullopt;
  }
  return proxy;
}

bool RouteThroughProxy(ml::TLRUDPClient& udp, const CliProxy& proxy, const char* command) {
  std::fprintf(stderr, "%s: setting up the proxy %s...\n", command, proxy.Text().c_str());
  udp.SetProxy(proxy.host, proxy.port, proxy.user, proxy.password);
  if (udp.SetProxyEnabled(true)) return true;
  std::fprintf(stderr, "%s: the proxy %s did not relay for us (not reachable, refused, or wrong user or password)\n",
               command, proxy.Text().c_str());
  return false;
}

void AddConnectionOptions(CLI::App& app, CliConnection& o) {
  CLI::Option* user = app.add_option("--user", o.user, "account name or number; the password is asked for")
                          ->type_name("NAME|NUMBER");
  app.add_flag("--anonymous", o.anonymous, "connect without an account")->excludes(user);
  app.add_option("--password-file", o.passwordFile,
                 "read the password from the file's first line (default: ask on the terminal, else read stdin)")
      ->type_name("FILE")
      ->needs(user);
  app.add_option("--list-server", o.listServer, "the server-list server (default: this machine's service)")
      ->type_name("ADDR:PORT")
      ->check(CLI::Validator(
          [](std::string& v) -> std::string {
            uint32_t ip = 0;
            uint16_t port = 0;
            return ml::ParseIPv4Endpoint(v, ip, port) ? "" : "takes an IPv4 address and a port, ADDR:PORT";
          },
          ""));
  AddProxyOption(app, o.proxy);
  app.add_option("--udp-port", o.udpPort, "the local UDP port (default 7000, or the next free one)")
      ->check(CLI::Range(1, 65535));
}

CliSignals::CliSignals() {
  sigemptyset(&set_);
  sigaddset(&set_, SIGINT);
  sigaddset(&set_, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &set_, nullptr);
}

bool CliSignals::Wait(int ms) {
  timespec slice{ms / 1000, long(ms % 1000) * 1000 * 1000};
  return sigtimedwait(&set_, nullptr, &slice) > 0;
}

CliSession::CliSession(CliContext& context, const CliConnection& options, const char* command)
    : context_(context), options_(options), command_(command) {}

CliSession::~CliSession() {
  if (login_) {
    login_->StopKeepAlive();
    if (login_->LoggedIn()) login_->Logout();
  }
  login_.reset();
  if (udp_) udp_->SetActive(false);
}

int CliSession::Open(CliDefaultLogin who, CliSignals& signals, int64_t keepAliveMs,
                     const std::function<void(ml::TUDPMessageRouter&)>& connectRoutes) {
  user_ = std::make_unique<ml::TUserInfo>();
  ml::TUserInfo& info = *user_;
  ml::FillUserAddresses(info, ml::ProbeLocalAddresses());

  udp_ = std::make_unique<ml::TLRUDPClient>(nullptr);
  udp_->SetDefaultPort(options_.udpPort);
  router_ = std::make_unique<ml::TUDPMessageRouter>(*udp_, info);
  if (connectRoutes) connectRoutes(*router_);
  router_->Attach();
  if (!udp_->SetActive(true)) {
    std::fprintf(stderr, "%s: cannot open a UDP port (from %d on)\n", command_, options_.udpPort);
    return 1;
  }
  if (const auto proxy = ChooseProxy(context_, options_.proxy); proxy && !RouteThroughProxy(*udp_, *proxy, command_))
    return 1;
  info.LocalPort = uint16_t(udp_->DefaultPort());
  info.PublicPort = info.LocalPort.load();
  ml::TServerListDefaults defaults;
  if (!options_.listServer.empty())
    ml::ParseIPv4Endpoint(options_.listServer, defaults.ListServerIP, defaults.ListServerPort);
  servers_ = std::make_unique<ml::TServerListManager>(context_.AppDir() + "LR4ServerList.bin", defaults);
  servers_->SetUDPClient(udp_.get());
  login_ = std::make_unique<ml::TLRLogin>(*udp_, *servers_, info, context_.AppDir());
  if (keepAliveMs > 0) login_->SetKeepAlivePeriodOverride(keepAliveMs);
  return LogIn(who, signals);
}

int CliSession::LogIn(CliDefaultLogin who, CliSignals& signals) {
  std::string stored;
  userText_ = options_.user;
  if (!userText_.empty()) {
    const std::string t(ml::Trim(userText_));
    if (!t.empty() && t[0] >= '0' && t[0] <= '9' && ml::ParseIntDef(t, 0) <= 9) {
      std::fprintf(stderr, "%s: account numbers start at 10 (号码不正确,请重新输入！)\n", command_);
      return kUsageError;
    }
    auto password = StoredPassword(options_, command_);
    if (!password) return kUsageError;
    stored = *password;
  } else if (!options_.anonymous && login_->ShouldAutoLogin()) {
    const ml::TLoginRecord r = login_->LastLogin();
    userText_ = std::to_string(r.ID);
    stored = r.Password;
    login_->SetAutoLogin(true);
    std::fprintf(stderr, "%s: as %s, saved for automatic login\n", command_,
                 r.UserName.empty() ? userText_.c_str() : r.UserName.c_str());
  } else if (!options_.anonymous && who == CliDefaultLogin::Saved) {
    std::fprintf(stderr, "%s: say who logs in: --user NAME|NUMBER, or --anonymous\n", command_);
    return kUsageError;
  } else if (!options_.anonymous) {
    // No session: the table of servers is all the command needs (the cached or built-in one
    // serves when the list server does not answer).
    if (!Interruptible(signals, [this] { return servers_->Download(0, ml::ProgramVersion, false); }))
      std::fprintf(stderr, "%s: the server list did not come; using the one known\n", command_);
    return 0;
  }
  return LogInAs(userText_, stored, signals) ? 0 : 1;
}

bool CliSession::LogInAs(const std::string& userText, const std::string& storedPassword, CliSignals& signals) {
  userText_ = userText;
  login_->OnAttempt = [this](int attempt, int tries, uint32_t ip, uint16_t port) {
    std::fprintf(stderr, "%s: asking the service at %s:%u (try %d of %d)...\n", command_, ml::IPv4Text(ip).c_str(),
                 unsigned(port), attempt, tries);
  };
  attempted_ = true;
  return Interruptible(signals, [&] { return login_->Login(userText, storedPassword); });
}

bool CliSession::Interruptible(CliSignals& signals, const std::function<bool()>& wait) {
  // The wait runs on a thread of its own so that Ctrl-C ends it when the service does not
  // answer; no session exists yet, so there is nothing to log out of.
  std::atomic<bool> finished{false};
  bool ok = false;
  std::thread worker([&] {
    ok = wait();
    finished = true;
  });
  while (!finished) {
    if (signals.Wait(50)) {
      std::fprintf(stderr, "%s: interrupted\n", command_);
      std::_Exit(130);
    }
  }
  worker.join();
  return ok;
}

bool CliSession::LoggedIn() const { return login_ && login_->LoggedIn(); }

std::string CliSession::ResultLine() const {
  const int code = login_->LastResult();
  if (code == ml::LoginResult::Success)
    return "result: 0 " + ResultInEnglish(0) + " (" + login_->LastMessage() + ")";
  // The player's own wording: a failed anonymous connection and a failed login differ.
  const char* prefix = userText_.empty() ? "连接服务器失败，" : "登录失败，";
  return "result: " + std::to_string(code) + " " + ResultInEnglish(code) + " (" + prefix + login_->LastMessage() + ")";
}

}  // namespace mlcli
