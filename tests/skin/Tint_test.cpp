// The tint against Python's colorsys doing the same integer HSL steps, on a table of colours
// and tints; and the properties a user sees: hue and saturation from the tint, lightness kept.
#include "skin/SkinColors.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <sstream>

using namespace ml;

TEST(SkinTint, AgreesWithColorsys) {
  const std::vector<TColor> colors{0x000000, 0xFFFFFF, 0x808080, 0x7F7F7F, 0x0000FF, 0x00FF00, 0xFF0000, 0x00FFFF,
                                   0x123456, 0xABCDEF, 0x336699, 0xFFCC00, 0x010203, 0xFEFDFC, 0x00A5FF, 0x4080FF};
  const std::vector<TColor> tints{0x0000FF, 0x00FF00, 0xFF0000, 0x808000, 0x3399CC, 0x000001, 0xFF00FF, 0x010101};
  std::ostringstream in;
  for (TColor c : colors)
    for (TColor t : tints) in << c << ' ' << t << '\n';
  mltest::TempDir dir;
  mltest::WriteAll(dir.File("in"), in.str());
  int rc = -1;
  std::istringstream want(mltest::RunCapture(
      "python3 '" + mltest::SourceDir() + "/tests/skin/tint_oracle.py' <'" + dir.File("in") + "'", &rc));
  ASSERT_EQ(rc, 0);
  for (TColor c : colors)
    for (TColor t : tints) {
      TColor expected = 0;
      ASSERT_TRUE(want >> expected);
      EXPECT_EQ(TintColor(c, t), expected) << std::hex << c << " tinted " << t;
    }
}

TEST(SkinTint, TakesHueKeepsLightness) {
  EXPECT_EQ(TintColor(0x123456, 0), 0x123456u) << "no tint";
  const TColor red = TintColor(0x808080, 0x0000FF);  // a grey tinted pure red
  EXPECT_EQ(ColorToHsl(red).Hue, 0);
  EXPECT_EQ(ColorToHsl(red).Saturation, 255);
  EXPECT_EQ(ColorToHsl(red).Lightness, ColorToHsl(0x808080).Lightness);
  for (TColor c : {0x336699u, 0xFFCC00u, 0x20A040u}) {
    const THsl before = ColorToHsl(c), after = ColorToHsl(TintColor(c, 0xCC9933));
    EXPECT_NEAR(after.Lightness, before.Lightness, 1) << std::hex << c;
    EXPECT_NEAR(after.Hue, ColorToHsl(0xCC9933).Hue, 2) << std::hex << c;
  }
}

TEST(SkinTint, BitmapSkipsTheKeyAndKeepsAlpha) {
  TSkinImage image{3, 1, {0xFF808080, 0xFFFF00FF, 0x40808080}};
  TintBitmap(image, 0);
  EXPECT_EQ(image.Pixels[0], 0xFF808080u);
  TintBitmap(image, 0x0000FF);
  const TColor red = TintColor(0x808080, 0x0000FF);
  const uint32_t rgb = uint32_t(ColorRed(red)) << 16 | uint32_t(ColorGreen(red)) << 8 | uint32_t(ColorBlue(red));
  EXPECT_EQ(image.Pixels[0], 0xFF000000 | rgb);
  EXPECT_EQ(image.Pixels[1], 0xFFFF00FFu) << "the transparent key stays";
  EXPECT_EQ(image.Pixels[2], 0x40000000 | rgb);
}
