#pragma once
// JSON text for the subcommands' --json output.
#include <string>
#include <string_view>

namespace mlcli {

// A JSON string literal: quotes, backslashes and control characters escaped; invalid UTF-8
// bytes become U+FFFD so the output always parses.
std::string JsonString(std::string_view text);

}  // namespace mlcli
