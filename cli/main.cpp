// minilirra-cli: the player without windows. The subcommands come from the CliCommand registry;
// CLI11 parses the whole command line against what they declare.
#include "base/Version.h"
#include "cli/CliCommand.h"

#include <cstdio>
#include <exception>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr const char* kProgram = "minilirra-cli";

std::string UsageLine(const CLI::App& app, const CLI::App& command) {
  const std::string name = &command == &app ? kProgram : std::string(kProgram) + " " + command.get_name();
  auto formatter = std::dynamic_pointer_cast<CLI::Formatter>(command.get_formatter());
  return formatter ? formatter->make_usage(&command, name) : "";
}

// A command line the parser refused: what was wrong and the usage of the command it was for.
int ReportUsageError(const CLI::App& app, const CLI::ParseError& e) {
  const std::vector<CLI::App*> chosen = app.get_subcommands();
  const CLI::App& command = chosen.empty() ? app : *chosen.back();
  const std::string name = &command == &app ? kProgram : std::string(kProgram) + " " + command.get_name();
  std::string what = e.what();
  // A word the program does not know where a command belongs.
  if (&command == &app && dynamic_cast<const CLI::ExtrasError*>(&e)) {
    const std::vector<std::string> extra = app.remaining();
    if (!extra.empty() && !extra.front().empty() && extra.front()[0] != '-') what = "no command " + extra.front();
  }
  std::fprintf(stderr, "%s: %s\n%s(see %s --help)\n", name.c_str(), what.c_str(), UsageLine(app, command).c_str(),
               name.c_str());
  return mlcli::kUsageError;
}

}  // namespace

int main(int argc, char** argv) {
  mlcli::CliContext ctx;
  CLI::App app{"The MiniLirra player without windows. Without a command it prints the version and the data folder\n"
               "it would use.",
               kProgram};
  app.get_formatter()->label("Usage", "usage");
  app.set_help_flag("-h,--help", "print this help and exit");
  app.get_formatter()->column_width(34);
  app.set_version_flag("--version", std::to_string(ml::ProgramVersion), "print the build number");
  app.add_option("--data-dir", ctx.dataDirOption, "keep settings, library and caches in DIR")->type_name("DIR");
  app.require_subcommand(0, 1);
  // The program's own options may also follow the command's name.
  app.fallthrough();
  app.footer("\"minilirra-cli help COMMAND\" or \"minilirra-cli COMMAND --help\" shows a command's options.\n");

  std::vector<std::pair<CLI::App*, mlcli::CliRun>> commands;
  for (const mlcli::CliCommand* c : mlcli::CliCommands()) {
    CLI::App* command = app.add_subcommand(c->name, c->summary);
    commands.emplace_back(command, c->setup(*command, ctx));
  }
  std::string topic;
  CLI::App* help = app.add_subcommand("help", "show the options of a command, or of the program");
  help->add_option("COMMAND", topic, "the command to explain");

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForAllHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForVersion& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    return ReportUsageError(app, e);
  }

  try {
    if (help->parsed()) {
      if (topic.empty()) {
        std::fputs(app.help().c_str(), stdout);
        return 0;
      }
      for (const auto& [command, run] : commands) {
        if (command->get_name() != topic) continue;
        std::fputs(command->help(kProgram).c_str(), stdout);
        return 0;
      }
      std::fprintf(stderr, "%s: no command %s (see %s --help)\n", kProgram, topic.c_str(), kProgram);
      return mlcli::kUsageError;
    }
    for (const auto& [command, run] : commands)
      if (command->parsed()) return run();
    std::printf("MiniLirra %d\ndata folder: %s\n", ml::ProgramVersion, ctx.AppDir().c_str());
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s: %s\n", kProgram, e.what());
    return 1;
  }
}
