#include "base/ColorText.h"

#include <cstdio>
#include <stdexcept>

namespace ml {

TColor ParseColorText(std::string_view hex) {
  if (!hex.empty() && hex[0] == '#') hex.remove_prefix(1);
  if (hex.size() != 6) throw std::invalid_argument("Invalid Color string");
  uint32_t rgb = 0;
  for (char c : hex) {
    const int v = (c >= '0' && c <= '9')   ? c - '0'
                  : (c >= 'a' && c <= 'f') ? c - 'a' + 10
                  : (c >= 'A' && c <= 'F') ? c - 'A' + 10
                                           : -1;
    if (v < 0) throw std::invalid_argument("Invalid Color string");
    rgb = rgb << 4 | uint32_t(v);
  }
  // The text is red-green-blue; the value keeps red in the low byte.
  return MakeColor(int(rgb >> 16), int(rgb >> 8), int(rgb));
}

std::string FormatColorText(TColor color) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "#%.2X%.2X%.2X", ColorRed(color), ColorGreen(color), ColorBlue(color));
  return buf;
}

}  // namespace ml
