#pragma once
// Colours as the settings and the skins write them: "#RRGGBB" (the "#" may be left out), held as
// a colour value with red in the low byte ($00BBGGRR).
#include <cstdint>
#include <string>
#include <string_view>

namespace ml {

using TColor = uint32_t;

// Throws std::invalid_argument("Invalid Color string") for anything else.
TColor ParseColorText(std::string_view text);
std::string FormatColorText(TColor color);  // "#RRGGBB", upper case

constexpr int ColorRed(TColor c) { return int(c & 0xFF); }
constexpr int ColorGreen(TColor c) { return int(c >> 8 & 0xFF); }
constexpr int ColorBlue(TColor c) { return int(c >> 16 & 0xFF); }
constexpr TColor MakeColor(int r, int g, int b) { return TColor(r & 0xFF) | TColor(g & 0xFF) << 8 | TColor(b & 0xFF) << 16; }

}  // namespace ml
