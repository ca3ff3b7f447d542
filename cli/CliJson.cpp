#include "cli/CliJson.h"

#include <cstdio>

namespace mlcli {

void PrintJson(const Json& value) {
  const std::string text = value.dump(2, ' ', false, Json::error_handler_t::replace);
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fputc('\n', stdout);
}

}  // namespace mlcli
