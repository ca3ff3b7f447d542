#include "cli/CliOnline.h"

#include "app/AppInfo.h"
#include "app/uSettingMgr.h"
#include "base/StrUtil.h"
#include "net/LRUDPClient.h"

#include <arpa/inet.h>
#include <netdb.h>

#include <cctype>
#include <cstdio>

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

}  // namespace

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
  ml::TSkinResStrings strings;
  strings.Load(ml::DefaultSkinResDir());
  const ml::TAppInfo info = ml::MakeAppInfo(strings, context.AppDir());
  ml::TSettingMgr settings(info.SettingsFileName(), ml::TSettingContext{info.AppDir, info.ExeBaseName, {}, {}, nullptr});
  settings.SaveAtExit(false);
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

}  // namespace mlcli
