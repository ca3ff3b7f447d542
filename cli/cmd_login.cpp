// minilirra-cli login: logs in against the configured server list (or connects anonymously when
// asked), prints the result and the account data, keeps the session alive until interrupted,
// logs out.
#include "cli/CliCommand.h"
#include "cli/CliOnline.h"
#include "net/IPv4Text.h"
#include "net/uServerListManager.h"
#include "online/uLogin.h"

#include <cstdio>
#include <string>

namespace {

struct Options {
  mlcli::CliConnection connection;
  int64_t periodMs = 0, maxReports = -1;
};

int Login(mlcli::CliContext& ctx, const Options& o) {
  mlcli::CliSignals signals;
  mlcli::CliSession session(ctx, o.connection, "login");
  const int opened = session.Open(mlcli::CliDefaultLogin::Saved, signals, o.periodMs);
  if (opened != 0) {
    if (opened == 1 && session.Attempted()) std::printf("%s\n", session.ResultLine().c_str());
    return opened;
  }
  ml::TLRLogin& login = session.Login();
  ml::TUserInfo& info = session.User();
  std::printf("%s\n", session.ResultLine().c_str());
  std::printf("user: %d\n", info.UserID.load());
  std::printf("name: %s\n", info.UserName().c_str());
  std::printf("public: %s:%u\n", ml::IPv4Text(info.PublicIP).c_str(), unsigned(info.PublicPort.load()));
  std::printf("server list: version %u, %u entries\n", unsigned(session.Servers().Version()),
              unsigned(session.Servers().EntryCount()));
  if (!login.Notice().empty()) std::printf("notice: %s\n", login.Notice().c_str());
  std::printf("keep-alive every %lld ms\n", static_cast<long long>(login.KeepAlivePeriodMs()));
  std::fflush(stdout);

  for (;;) {
    if (o.maxReports >= 0 && int64_t(login.KeepAliveReports()) >= o.maxReports) break;
    if (signals.Wait(50)) break;
  }
  // Joining the keep-alive thread lets a report in flight finish, so the tally is complete.
  login.StopKeepAlive();
  std::printf("keep-alive: %llu reports, %llu answered\n",
              static_cast<unsigned long long>(login.KeepAliveReports()),
              static_cast<unsigned long long>(login.KeepAliveAnswers()));
  login.Logout();
  std::printf("logged out\n");
  return 0;
}

mlcli::CliRun Setup(CLI::App& app, mlcli::CliContext& ctx) {
  auto o = std::make_shared<Options>();
  mlcli::AddConnectionOptions(app, o->connection);
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
