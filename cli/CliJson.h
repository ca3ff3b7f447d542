#pragma once
// The --json output of every subcommand: nlohmann/json, keys in lower snake_case in the order
// they are set, text that is not valid UTF-8 shown with U+FFFD so the output always parses.
#include <nlohmann/json.hpp>

namespace mlcli {

using Json = nlohmann::ordered_json;

// Prints value, indented, and a newline to stdout.
void PrintJson(const Json& value);

}  // namespace mlcli
