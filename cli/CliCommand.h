#pragma once
// Subcommands of minilirra-cli. Each lives in its own cmd_*.cpp and registers itself with a
// static CliCommand: its name, a one-line summary, and a setup that declares its options and
// arguments on the command's CLI11 parser and returns what runs it. The usage text is made
// from the same declarations the parser reads, so the two cannot disagree.
#include <CLI/CLI.hpp>

#include <functional>
#include <string>
#include <vector>

namespace mlcli {

struct CliContext {
  std::string dataDirOption;  // --data-dir as given, empty when absent
  // AppDir resolved from --data-dir (created on first use).
  const std::string& AppDir();

private:
  std::string appDir_;
};

// Runs a parsed command; returns the exit status (0 done, 1 failed, 2 wrong usage).
using CliRun = std::function<int()>;
using CliSetup = CliRun (*)(CLI::App& command, CliContext& context);

struct CliCommand {
  CliCommand(const char* name, const char* summary, CliSetup setup);
  const char* name;
  const char* summary;
  CliSetup setup;
};

const std::vector<const CliCommand*>& CliCommands();

// The exit status of a command line that the parser accepted but a command finds wrong.
constexpr int kUsageError = 2;

// A --output option as play and demo take it: one of the output registry's names, with a device
// where it takes one.
CLI::Option* AddOutputOption(CLI::App& command, std::string& target);

}  // namespace mlcli
