#pragma once
// The player's settings file of the data folder, read for a command (never written back).
#include "cli/CliCommand.h"

#include <memory>

namespace ml {
class TSettingMgr;
}

namespace mlcli {

std::unique_ptr<ml::TSettingMgr> OpenSavedSettings(CliContext& context);

}  // namespace mlcli
