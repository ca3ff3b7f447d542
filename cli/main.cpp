#include "cli/CliCommand.h"

#include "base/AppPaths.h"
#include "base/Version.h"

#include <cstdio>
#include <cstring>
#include <exception>
#include <string>

namespace mlcli {

const std::string& CliContext::appDir() {
  if (appDir_.empty()) appDir_ = ml::ResolveAppDir(dataDirOption);
  return appDir_;
}

static std::vector<const CliCommand*>& Registry() {
  static std::vector<const CliCommand*> commands;
  return commands;
}

CliCommand::CliCommand(const char* n, const char* u, CliHandler h) : name(n), usage(u), handler(h) {
  Registry().push_back(this);
}

const std::vector<const CliCommand*>& CliCommands() { return Registry(); }

}  // namespace mlcli

namespace {

void PrintHelp() {
  std::printf("minilirra-cli %d: the MiniLirra player without windows\n\n", ml::ProgramVersion);
  std::printf("usage: minilirra-cli [--data-dir DIR] [--version] [--help] COMMAND [ARGS...]\n\n");
  std::printf("  --data-dir DIR  keep settings, library and caches in DIR\n");
  std::printf("  --version       print the build number\n\n");
  std::printf("commands:\n");
  for (const auto* c : mlcli::CliCommands()) std::printf("  %-10s %s\n", c->name, c->usage);
  std::printf("\nWithout a command it prints the version and the data folder it would use.\n");
}

}  // namespace

int main(int argc, char** argv) {
  mlcli::CliContext ctx;
  std::string command;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--data-dir" || a.rfind("--data-dir=", 0) == 0) {
      if (a == "--data-dir") {
        if (i + 1 >= argc) {
          std::fprintf(stderr, "minilirra-cli: --data-dir needs a folder\n");
          return 2;
        }
        ctx.dataDirOption = argv[++i];
      } else {
        ctx.dataDirOption = a.substr(std::strlen("--data-dir="));
      }
    } else if (command.empty() && (a == "--help" || a == "-h")) {
      PrintHelp();
      return 0;
    } else if (command.empty() && a == "--version") {
      std::printf("%d\n", ml::ProgramVersion);
      return 0;
    } else if (command.empty() && !a.empty() && a[0] == '-') {
      std::fprintf(stderr, "minilirra-cli: unknown option %s (see --help)\n", a.c_str());
      return 2;
    } else if (command.empty()) {
      command = a;
    } else {
      ctx.args.push_back(a);
    }
  }
  try {
    if (command.empty()) {
      std::printf("MiniLirra %d\ndata folder: %s\n", ml::ProgramVersion, ctx.appDir().c_str());
      return 0;
    }
    for (const auto* c : mlcli::CliCommands())
      if (command == c->name) return c->handler(ctx);
    std::fprintf(stderr, "minilirra-cli: unknown command %s (see --help)\n", command.c_str());
    return 2;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "minilirra-cli: %s\n", e.what());
    return 1;
  }
}
