#pragma once
// What the online commands share: the SOCKS5 proxy they reach the service through (--proxy, else
// the player's network settings).
#include "cli/CliCommand.h"

#include <cstdint>
#include <optional>
#include <string>

namespace ml {
class TLRUDPClient;
}

namespace mlcli {

struct CliProxy {
  std::string host;  // dotted IPv4 (a name given on the command line is resolved once)
  uint16_t port = 0;
  std::string user, password;  // empty user: no authentication
  std::string Text() const;    // HOST:PORT, for messages
};

// socks5://[USER:PASSWORD@]HOST:PORT, with %XX escapes in USER and PASSWORD. Returns the error
// text, empty when parsed.
std::string ParseProxyUrl(const std::string& text, CliProxy& out);

// --proxy URL (checked when parsed), or "none" to go direct whatever the settings say.
CLI::Option* AddProxyOption(CLI::App& command, std::string& target);

// The proxy to use: the --proxy option when given, else the settings' Network section when its
// proxy type is on. No value: go direct.
std::optional<CliProxy> ChooseProxy(CliContext& context, const std::string& proxyOption);

// Routes an open UDP client through the proxy (a UDP association, waited for up to its time-out).
// False, with a message on standard error, when the association failed.
bool RouteThroughProxy(ml::TLRUDPClient& udp, const CliProxy& proxy, const char* command);

}  // namespace mlcli
