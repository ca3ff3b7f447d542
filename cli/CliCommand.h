#pragma once
// Subcommands of minilirra-cli. Each lives in its own cmd_*.cpp and registers itself with a
// static CliCommand object, so adding one touches no shared table.
#include <string>
#include <vector>

namespace mlcli {

struct CliContext {
  std::vector<std::string> args;  // the arguments after the subcommand's name
  std::string dataDirOption;      // --data-dir as given, empty when absent
  // AppDir resolved from --data-dir (created on first use).
  const std::string& appDir();

private:
  std::string appDir_;
};

using CliHandler = int (*)(CliContext&);

struct CliCommand {
  CliCommand(const char* name, const char* usage, CliHandler handler);
  const char* name;
  const char* usage;
  CliHandler handler;
};

const std::vector<const CliCommand*>& CliCommands();

}  // namespace mlcli
