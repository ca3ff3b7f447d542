// minilirra-cli register NAME: a new account, as the registration wizard makes one: the check code
// (printed here, where the wizard draws it, and typed back), the user-name test, the local rules,
// the registration, and a login with the new account.
#include "cli/CliCommand.h"
#include "cli/CliJson.h"
#include "cli/CliOnline.h"
#include "net/LRUDPClient.h"
#include "online/Registration.h"
#include "online/uLogin.h"

#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <memory>
#include <string>

namespace {

struct Options {
  mlcli::CliConnection connection;
  std::string name;
  bool codeFromStdin = false;
  bool json = false;
};

// A message of the player's, with the words a reader of English needs before it.
void Say(const char* what, const ml::TRegisterMessage& m) {
  std::fprintf(stderr, "register: %s: %s%s%s\n", what, m.Caption.empty() ? "" : m.Caption.c_str(),
               m.Caption.empty() ? "" : " ", m.Text.c_str());
}

int Register(mlcli::CliContext& ctx, const Options& o) {
  if (!o.codeFromStdin && !isatty(STDIN_FILENO)) {
    std::fprintf(stderr, "register: the check code is typed back on a terminal; scripts use --check-code-from-stdin\n");
    return mlcli::kUsageError;
  }
  const auto password = mlcli::ReadPassword(o.connection, "register");
  if (!password) return mlcli::kUsageError;
  mlcli::CliSignals signals;
  mlcli::CliSession session(ctx, o.connection, "register");
  if (const int opened = session.Open(mlcli::CliDefaultLogin::None, signals); opened != 0) return opened;
  ml::TRegistration wizard(session.Udp(), session.Servers(), session.User());

  if (auto m = ml::TRegistration::NameRuleMessage(o.name); !m.Empty()) {
    Say("the name is refused", m);
    return 1;
  }
  const ml::TCheckCodeResult code = wizard.FetchCheckCode();
  if (!code.Received) {
    Say("no check code", {"", code.Error});
    return 1;
  }
  std::printf("check code: %s\n", code.Text().c_str());
  std::fflush(stdout);
  if (!o.codeFromStdin) std::fprintf(stderr, "type the check code: ");
  std::string typed;
  if (!std::getline(std::cin, typed)) {
    std::fprintf(stderr, "register: no check code typed\n");
    return 1;
  }

  const ml::TUserNameTestResult test = wizard.TestUserName(o.name);
  if (test.Kind != ml::TUserNameTestResult::Free) {
    Say("the name cannot be used", test.Message);
    return 1;
  }
  ml::TRegisterInput input;
  input.UserName = o.name;
  input.Password = input.Password2 = *password;
  input.CheckCodeText = typed;
  if (auto m = ml::TRegistration::Validate(input, code.Code); !m.Empty()) {
    Say("the input is refused", m);
    return 1;
  }
  const ml::TRegisterResult result = wizard.Register(input);
  if (!result.Success) {
    Say("not registered", result.Message);
    return 1;
  }
  const bool loggedIn = session.LogInAs(std::to_string(result.UserID), ml::EncodeStoredPassword(*password), signals);
  if (o.json) {
    mlcli::PrintJson({{"user_id", result.UserID}, {"user_name", result.UserName}, {"logged_in", loggedIn}});
  } else {
    std::printf("registered: account %d, name %s (%s)\n", result.UserID, result.UserName.c_str(),
                result.Message.Text.c_str());
    std::printf("login: %s\n", session.ResultLine().c_str());
  }
  return loggedIn ? 0 : 1;
}

mlcli::CliRun Setup(CLI::App& app, mlcli::CliContext& ctx) {
  auto o = std::make_shared<Options>();
  app.add_option("NAME", o->name, "the user name to register (4 to 20 characters, not starting with a digit)")
      ->required();
  app.add_flag("--check-code-from-stdin", o->codeFromStdin,
               "read the check code back from standard input without asking (for scripts)");
  app.add_flag("--json", o->json, "print the new account as JSON");
  mlcli::AddConnectionOptions(app, o->connection);
  // The password is the new account's, and nobody logs in before the account exists.
  CLI::Option* user = app.get_option("--user");
  app.get_option("--password-file")->remove_needs(user);
  app.remove_option(user);
  app.remove_option(app.get_option("--anonymous"));
  return [&ctx, o] { return Register(ctx, *o); };
}

const mlcli::CliCommand kRegister("register", "register a new account with the service and log in with it", Setup);

}  // namespace
