#include "skin/SkinColors.h"

#include <algorithm>
#include <cmath>
#include <unordered_map>

namespace ml {

namespace {

// Rounds halves to even, as the HSL tables skins were made with did.
int RoundEven(double v) { return int(std::nearbyint(v)); }

double HueToChannel(double m1, double m2, double h) {
  h -= std::floor(h);
  if (h < 1.0 / 6) return m1 + (m2 - m1) * h * 6;
  if (h < 0.5) return m2;
  if (h < 2.0 / 3) return m1 + (m2 - m1) * (2.0 / 3 - h) * 6;
  return m1;
}

}  // namespace

THsl ColorToHsl(TColor color) {
  const double r = ColorRed(color) / 255.0, g = ColorGreen(color) / 255.0, b = ColorBlue(color) / 255.0;
  const double hi = std::max({r, g, b}), lo = std::min({r, g, b});
  const double l = (hi + lo) / 2;
  if (hi == lo) return {0, 0, RoundEven(l * 255)};
  const double d = hi - lo;
  const double s = l <= 0.5 ? d / (hi + lo) : d / (2 - hi - lo);
  double h = hi == r ? (g - b) / d : hi == g ? 2 + (b - r) / d : 4 + (r - g) / d;
  h /= 6;
  h -= std::floor(h);
  return {RoundEven(h * 358), RoundEven(s * 255), RoundEven(l * 255)};
}

TColor HslToColor(const THsl& hsl) {
  const double h = hsl.Hue / 358.0, s = hsl.Saturation / 255.0, l = hsl.Lightness / 255.0;
  if (s == 0) {
    const int v = RoundEven(l * 255);
    return MakeColor(v, v, v);
  }
  const double m2 = l <= 0.5 ? l * (1 + s) : l + s - l * s, m1 = 2 * l - m2;
  return MakeColor(RoundEven(HueToChannel(m1, m2, h + 1.0 / 3) * 255), RoundEven(HueToChannel(m1, m2, h) * 255),
                   RoundEven(HueToChannel(m1, m2, h - 1.0 / 3) * 255));
}

TColor TintColor(TColor color, TColor tint) {
  if (tint == 0) return color;
  THsl c = ColorToHsl(color);
  const THsl t = ColorToHsl(tint);
  // First to grey of the same lightness (and through RGB again, as the lightness is then read
  // back from the grey), then the tint's hue and saturation on top.
  c.Saturation = std::clamp(c.Saturation - 255, 0, 255);
  THsl grey = ColorToHsl(HslToColor(c));
  grey.Hue += t.Hue;
  grey.Saturation += t.Saturation;
  if (grey.Hue > 359) grey.Hue -= 359;
  if (grey.Hue < 0) grey.Hue += 359;
  grey.Saturation = std::clamp(grey.Saturation, 0, 255);
  grey.Lightness = std::clamp(grey.Lightness, 0, 255);
  return HslToColor(grey);
}

void TintBitmap(TSkinImage& image, TColor tint, TColor keyColor) { TintPixels(image.Pixels, tint, keyColor); }

void TintPixels(std::span<uint32_t> pixels, TColor tint, TColor keyColor) {
  if (tint == 0) return;
  // Skin images hold few colours: each is worked out once.
  std::unordered_map<uint32_t, uint32_t> done;
  for (uint32_t& p : pixels) {
    const uint32_t rgb = p & 0xFFFFFF;
    const TColor c = MakeColor(int(rgb >> 16), int(rgb >> 8 & 0xFF), int(rgb & 0xFF));
    if (c == keyColor) continue;
    auto [it, added] = done.try_emplace(rgb, 0);
    if (added) {
      const TColor t = TintColor(c, tint);
      it->second = uint32_t(ColorRed(t)) << 16 | uint32_t(ColorGreen(t)) << 8 | uint32_t(ColorBlue(t));
    }
    p = (p & 0xFF000000) | it->second;
  }
}

}  // namespace ml
