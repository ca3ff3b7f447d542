#pragma once
// What the online commands share: one table of connection options (who connects, where the
// server list is, the SOCKS5 proxy: --proxy, else the player's network settings, the local UDP
// port) and the session they open with it.
#include "cli/CliCommand.h"

#include <csignal>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace ml {
class TLRUDPClient;
class TLRLogin;
class TUDPMessageRouter;
class TServerListManager;
class TUserInfo;
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

// The connection options of every online command.
struct CliConnection {
  std::string user, passwordFile, listServer, proxy;
  bool anonymous = false;
  int udpPort = 7000;
};

// --user, --anonymous, --password-file, --list-server, --proxy, --udp-port.
void AddConnectionOptions(CLI::App& command, CliConnection& options);

// The password as typed: the first line of --password-file, else asked for on a terminal with
// echo off (or read from standard input). Nothing, after a message, when there is none.
std::optional<std::string> ReadPassword(const CliConnection& options, const char* command);

// Who a command connects as when neither --user nor --anonymous is given.
enum class CliDefaultLogin {
  Saved,  // the saved automatic login, else the command refuses (login)
  None,   // nobody: the server list is fetched and the command goes on without a session
          // (requests that need no account, such as a search)
};

// SIGINT and SIGTERM, blocked from construction on, so that a command waits for them on its own
// terms: Ctrl-C ends a wait, and what was started is finished (a logout) before the exit.
class CliSignals {
public:
  CliSignals();
  // Waits up to ms for one of them; true when it came.
  bool Wait(int ms);

private:
  sigset_t set_;
};

// One session with the service: the UDP client (through the proxy when one is chosen), the
// server list and the user record, then a login. Logs out and closes when destroyed.
class CliSession {
public:
  CliSession(CliContext& context, const CliConnection& options, const char* command);
  ~CliSession();
  CliSession(const CliSession&) = delete;
  CliSession& operator=(const CliSession&) = delete;

  // Opens the UDP port and the proxy and logs in (or, with None and no one named, fetches the
  // server list). 0, or the exit code after a message on standard error. Ctrl-C while the login
  // waits ends the program with 130.
  // keepAliveMs > 0 replaces the service's keep-alive period. connectRoutes connects the
  // command's owners of incoming messages to the router before the UDP port opens; the router
  // answers the service's presence checks itself.
  int Open(CliDefaultLogin who, CliSignals& signals, int64_t keepAliveMs = 0,
           const std::function<void(ml::TUDPMessageRouter&)>& connectRoutes = nullptr);
  // Logs in as userText with a stored password (after Open, which then logged in nobody); the
  // result line tells how it went. Ctrl-C while it waits ends the program with 130.
  bool LogInAs(const std::string& userText, const std::string& storedPassword, CliSignals& signals);
  // Whether a login was tried (so that its result line means something).
  bool Attempted() const { return attempted_; }
  bool LoggedIn() const;
  // The login's result line, "result: CODE TEXT (PLAYER'S TEXT)".
  std::string ResultLine() const;

  ml::TLRUDPClient& Udp() { return *udp_; }
  ml::TServerListManager& Servers() { return *servers_; }
  ml::TUserInfo& User() { return *user_; }
  ml::TLRLogin& Login() { return *login_; }
  // Who logged in: the account text, empty for an anonymous connection.
  const std::string& UserText() const { return userText_; }

private:
  int LogIn(CliDefaultLogin who, CliSignals& signals);
  // Runs a wait for the service (a login, the server list) so that Ctrl-C ends the program with
  // 130 meanwhile; returns what the wait returned.
  bool Interruptible(CliSignals& signals, const std::function<bool()>& wait);

  CliContext& context_;
  CliConnection options_;
  const char* command_;
  std::string userText_;
  bool attempted_ = false;
  std::unique_ptr<ml::TUserInfo> user_;
  std::unique_ptr<ml::TLRUDPClient> udp_;
  std::unique_ptr<ml::TUDPMessageRouter> router_;
  std::unique_ptr<ml::TServerListManager> servers_;
  std::unique_ptr<ml::TLRLogin> login_;
};

}  // namespace mlcli
