#include "cli/CliJson.h"

#include "base/GbkText.h"

#include <cstdio>

namespace mlcli {

std::string JsonString(std::string_view text) {
  std::string out = "\"";
  size_t i = 0;
  while (i < text.size()) {
    auto c = static_cast<unsigned char>(text[i]);
    if (c >= 0x80) {
      // Copy a whole valid sequence, or replace one bad byte.
      size_t len = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
      if (i + len <= text.size() && ml::IsValidUtf8(text.substr(i, len))) {
        out.append(text.substr(i, len));
        i += len;
      } else {
        out += "\xEF\xBF\xBD";
        ++i;
      }
      continue;
    }
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04x", c);
          out += buf;
        } else {
          out += static_cast<char>(c);
        }
    }
    ++i;
  }
  return out + "\"";
}

}  // namespace mlcli
