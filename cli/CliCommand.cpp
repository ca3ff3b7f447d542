#include "cli/CliCommand.h"

#include "base/AppPaths.h"
#include "playback/OutputRegistry.h"

namespace mlcli {

const std::string& CliContext::AppDir() {
  if (appDir_.empty()) appDir_ = ml::ResolveAppDir(dataDirOption);
  return appDir_;
}

static std::vector<const CliCommand*>& Registry() {
  static std::vector<const CliCommand*> commands;
  return commands;
}

CliCommand::CliCommand(const char* n, const char* s, CliSetup setup_) : name(n), summary(s), setup(setup_) {
  Registry().push_back(this);
}

const std::vector<const CliCommand*>& CliCommands() { return Registry(); }

CLI::Option* AddOutputOption(CLI::App& command, std::string& target) {
  const std::string forms = ml::OutputTargetForms();
  return command
      .add_option("--output", target,
                  "where the sound goes: " + forms + " (default: the sound server, else the sound card, else null)")
      ->check(CLI::Validator(
          [forms](std::string& text) -> std::string {
            ml::TOutputTarget parsed;
            return ml::ParseOutputTarget(text, parsed) ? "" : "takes " + forms + ", not " + text;
          },
          ""))
      ->type_name("OUTPUT");
}

}  // namespace mlcli
