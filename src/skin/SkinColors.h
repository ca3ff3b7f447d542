#pragma once
// The skin's colour mapping: a tint gives every colour of a skin the tint's hue and saturation
// while each keeps its own lightness. Computed in integer HSL as skins have always been tinted
// (hue 0..358 for a turn, saturation and lightness 0..255, halves rounded to even), so a tinted
// skin looks the same as it did for its author. Images are plain 32-bit pixels (0xAARRGGBB), so
// the core needs no toolkit.
#include "base/ColorText.h"

#include <cstdint>
#include <span>
#include <vector>

namespace ml {

struct TSkinImage {
  int Width = 0, Height = 0;
  std::vector<uint32_t> Pixels;  // 0xAARRGGBB, row by row
};

// The transparent key of every skin image.
inline constexpr TColor kSkinKeyColor = 0xFF00FF;

struct THsl {
  int Hue = 0, Saturation = 0, Lightness = 0;
  bool operator==(const THsl&) const = default;
};
THsl ColorToHsl(TColor color);
TColor HslToColor(const THsl& hsl);

// color unchanged when tint is 0; else color's lightness with tint's hue and saturation.
TColor TintColor(TColor color, TColor tint);
// TintColor on every pixel whose colour is not keyColor (alpha kept); nothing for tint 0.
void TintBitmap(TSkinImage& image, TColor tint, TColor keyColor = kSkinKeyColor);
// The same on pixels held elsewhere (a toolkit's image of the same 0xAARRGGBB layout).
void TintPixels(std::span<uint32_t> pixels, TColor tint, TColor keyColor = kSkinKeyColor);

}  // namespace ml
