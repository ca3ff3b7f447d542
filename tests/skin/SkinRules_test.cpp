// The rules of skinned windows and controls without a toolkit: the nine slices, the shape, the
// frame's hit test, snapping and docking, the button's frames, the track bar's arithmetic, the
// digit display, and the manager's pass over its registered controls.
#include "skin/SkinControlRules.h"
#include "skin/SkinWindowRules.h"
#include "skin/uLuiSkinMgr.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <fstream>

using namespace ml;
using namespace mltest;

namespace {

// Every pixel different: its coordinates in the colour.
TSkinImage Numbered(int w, int h) {
  TSkinImage image{w, h, {}};
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) image.Pixels.push_back(0xFF000000u | uint32_t(x) << 8 | uint32_t(y));
  return image;
}
uint32_t At(const TSkinImage& image, int x, int y) { return image.Pixels[size_t(y) * image.Width + x]; }

TEST(NineSlice, AtItsOwnSizeTheWindowIsThePicture) {
  const TSkinImage glyph = Numbered(9, 7);
  EXPECT_EQ(ComposeNineSlice(glyph, 4, 3, 9, 7).Pixels, glyph.Pixels);
  // Smaller than the picture: drawn at the picture's size.
  EXPECT_EQ(ComposeNineSlice(glyph, 4, 3, 2, 2).Pixels, glyph.Pixels);
}

TEST(NineSlice, CornersStayAndTheSeparationLinesStretch) {
  const TSkinImage glyph = Numbered(9, 7);
  const TSkinImage big = ComposeNineSlice(glyph, 4, 3, 20, 15);
  ASSERT_EQ(big.Width, 20);
  ASSERT_EQ(big.Height, 15);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 4; ++x) {
      EXPECT_EQ(At(big, x, y), At(glyph, x, y));                    // top left
      EXPECT_EQ(At(big, 20 - 4 + x, y), At(glyph, 5 + x, y));         // top right (columns 5..8)
      EXPECT_EQ(At(big, x, 15 - 3 + y), At(glyph, x, 4 + y));         // bottom left (rows 4..6)
    }
  for (int x = 4; x < 16; ++x) EXPECT_EQ(At(big, x, 0), At(glyph, 4, 0)) << x;  // the column at SeperateX
  for (int y = 3; y < 12; ++y) EXPECT_EQ(At(big, 0, y), At(glyph, 0, 3)) << y;  // the row at SeperateY
  EXPECT_EQ(At(big, 10, 7), At(glyph, 4, 3));                                   // the middle
}

TEST(NineSlice, TheSeparationPointIsClampedIntoThePicture) {
  const TSkinImage glyph = Numbered(5, 4);
  for (auto [sx, sy] : {std::pair{-3, -3}, {99, 99}, {5, 4}}) {
    const TSkinImage out = ComposeNineSlice(glyph, sx, sy, 12, 9);
    EXPECT_EQ(out.Width, 12);
    EXPECT_EQ(out.Pixels.size(), size_t(12 * 9));
  }
  EXPECT_TRUE(NineSlicePieces(0, 0, 1, 1, 10, 10).empty());
}

TEST(Shape, RunsOfVisiblePixelsAndTheCap) {
  TSkinImage image{6, 2, std::vector<uint32_t>(12, 0xFF123456)};
  image.Pixels[0] = 0xFFFF00FF;  // key
  image.Pixels[3] = 0x00123456;  // fully transparent
  image.Pixels[11] = 0xFFFF00FF;
  EXPECT_EQ(ShapeRects(image), (std::vector<TRect>{{1, 0, 3, 1}, {4, 0, 6, 1}, {0, 1, 5, 2}}));
  // A noisy picture past the cap: the rows from there on are taken whole between their ends.
  TSkinImage noisy{8, 3, {}};
  for (int i = 0; i < 24; ++i) noisy.Pixels.push_back(i % 2 ? 0xFFFF00FF : 0xFF000000);
  EXPECT_EQ(ShapeRects(noisy, kSkinKeyColor, 5), (std::vector<TRect>{{0, 0, 1, 1}, {2, 0, 3, 1}, {4, 0, 5, 1},
                                                                       {6, 0, 7, 1}, {0, 1, 7, 2}, {0, 2, 7, 3}}));
}

TEST(HitTest, BordersCornersAndTheInside) {
  const TSkinBorders b{SkinBorderWidth(3), SkinBorderWidth(6), SkinBorderWidth(8), SkinBorderWidth(0)};
  EXPECT_EQ(b.Left, 6);
  EXPECT_EQ(b.Right, 8);
  struct Case {
    int x, y;
    TSkinHit want;
  } cases[] = {{0, 0, hitTopLeft},    {99, 79, hitBottomRight}, {0, 79, hitBottomLeft}, {99, 0, hitTopRight},
               {95, 40, hitRight},    {2, 40, hitLeft},         {50, 2, hitTop},        {50, 76, hitBottom},
               {50, 40, hitMove},     {100, 40, hitNowhere},    {-1, 0, hitNowhere}};
  for (const Case& c : cases) EXPECT_EQ(SkinHitTest(100, 80, c.x, c.y, b, true), c.want) << c.x << "," << c.y;
  EXPECT_EQ(SkinHitTest(100, 80, 0, 0, b, false), hitMove);  // a fixed window only moves
}

TEST(Snapping, EdgesWithinTenPixelsSnap) {
  const TRect work{0, 0, 1000, 800};
  const std::vector<TRect> others{{300, 100, 500, 300}};
  struct Case {
    TRect wanted, want;
  } cases[] = {
      {{7, 50, 107, 150}, {0, 50, 100, 150}},          // to the work area's left edge
      {{895, 705, 995, 795}, {900, 710, 1000, 800}},   // bottom right corner
      {{192, 120, 292, 220}, {200, 120, 300, 220}},    // right edge to the other's left
      {{508, 150, 608, 250}, {500, 150, 600, 250}},    // left edge to the other's right
      {{300, 309, 400, 409}, {300, 300, 400, 400}},    // stacked below it
      {{192, 500, 292, 600}, {192, 500, 292, 600}},    // beside it but far below: no snap
      {{50, 50, 150, 150}, {50, 50, 150, 150}},        // nothing near
  };
  for (const Case& c : cases) EXPECT_EQ(SnapMove(c.wanted, work, others), c.want) << c.wanted.Left << "," << c.wanted.Top;
}

TEST(Docking, WindowsTouchingTheMainOneDirectlyOrThroughAnother) {
  const TRect main{100, 100, 430, 603};
  const std::vector<TRect> others{
      {430, 100, 790, 360},  // right of the main window
      {430, 360, 790, 480},  // below that one
      {0, 0, 50, 50},        // apart
      {100, 603, 430, 703},  // below the main window
      {430, 603, 500, 700},  // touches the main window's corner only
  };
  EXPECT_EQ(DockedWindows(main, others), (std::vector<bool>{true, true, false, true, true}));
  EXPECT_FALSE(WindowsTouch(main, TRect{431, 100, 500, 200}));
}

TEST(ButtonFrames, WhichFrameShows) {
  using P = TButtonPress;
  struct Case {
    TButtonView view;
    int want;
  } cases[] = {
      {{4, true, P::Up, false, false}, 0},   {{4, true, P::Up, true, false}, 1},
      {{4, true, P::Pressed, true, false}, 2}, {{4, false, P::Up, false, false}, 3},  // 4 frames disabled: the fourth
      {{3, false, P::Up, false, false}, 0},  // 3 frames disabled: the first
      {{4, true, P::Up, false, true}, 2},    // checked shows the third instead of the first
      {{4, true, P::Up, true, true}, 1},     // but hovering still shows hovered
      {{4, true, P::Latched, false, false}, 2},
      {{2, true, P::Pressed, false, false}, 0}, {{2, false, P::Up, false, false}, 1},
      {{1, true, P::Pressed, true, true}, 0},
  };
  for (const Case& c : cases)
    EXPECT_EQ(ButtonFrameIndex(c.view), c.want) << c.view.NumGlyphs << " frames, enabled " << c.view.Enabled;
}

TEST(ButtonFrames, AStripNarrowerThanItsFramesDrawsNothing) {
  EXPECT_EQ(ButtonFrameRect(80, 20, 4, 2), (TRect{40, 0, 60, 20}));
  EXPECT_TRUE(ButtonFrameRect(3, 20, 4, 0).IsEmpty());
  EXPECT_TRUE(ButtonFrameRect(80, 20, 0, 0).IsEmpty());
  EXPECT_TRUE(ButtonFrameRect(80, 20, 4, 4).IsEmpty());
}

TEST(TrackBar, ThumbFillAndClicks) {
  const TTrackBarAxis h{110, 10, 100, false};
  EXPECT_EQ(TrackBarThumbOffset(h, 0), 0);
  EXPECT_EQ(TrackBarThumbOffset(h, 50), 50);
  EXPECT_EQ(TrackBarThumbOffset(h, 500), 100);  // clamped
  EXPECT_EQ(TrackBarValueAt(h, 55), 50);        // the thumb centred under the press
  EXPECT_EQ(TrackBarValueAt(h, -20), 0);
  EXPECT_EQ(TrackBarFillRect(h, 50, 6, false), (TRect{0, 0, 55, 6}));
  EXPECT_EQ(TrackBarFillRect(h, 50, 6, true), (TRect{0, 0, 60, 6}));
  const TTrackBarAxis v{110, 10, 100, true};  // from the bottom
  EXPECT_EQ(TrackBarThumbOffset(v, 100), 0);
  EXPECT_EQ(TrackBarThumbOffset(v, 0), 100);
  EXPECT_EQ(TrackBarValueAt(v, 5), 100);
  EXPECT_EQ(TrackBarFillRect(v, 100, 4, false), (TRect{0, 5, 4, 110}));
  // Nothing to travel, or no range: never a division by zero.
  EXPECT_EQ(TrackBarValueAt({10, 10, 100, false}, 5), 0);
  EXPECT_EQ(TrackBarValueAt({100, 10, 0, false}, 50), 0);
  EXPECT_EQ(TrackBarThumbOffset({100, 10, 0, true}, 5), 90);
}

TEST(Led, TimeTextAndGlyphs) {
  EXPECT_EQ(LedTimeText(65'400, 200'000, false), "01:05");
  EXPECT_EQ(LedTimeText(65'400, 200'000, true), "-02:14");
  EXPECT_EQ(LedTimeText(65'400, 0, true), "01:05");  // no length: the time played
  EXPECT_EQ(LedTimeText(7'200'000, 0, false), "120:00");
  EXPECT_EQ(LedTimeText(300'000, 200'000, true), "-00:00");
  EXPECT_EQ(LedGlyphIndex('7'), 7);
  EXPECT_EQ(LedGlyphIndex(':'), 10);
  EXPECT_EQ(LedGlyphIndex('-'), 11);
  EXPECT_EQ(LedGlyphIndex('x'), -1);
}

// A control that records the passes it sees, and can fail one.
struct Recorder : ISkinControl {
  Recorder(std::vector<int>& log, int id) : log(log), id(id) {}
  void UpdateSkin(bool, TColor, bool) override {
    if (fail) throw ESkinError("Invalid Color string");
    log.push_back(id);
  }
  std::vector<int>& log;
  int id;
  bool fail = false;
};

std::string MinimalPackage(const TempDir& dir, const char* name) {
  const std::string xml = dir.File(std::string(name) + ".xml");
  std::ofstream(xml) << "<Skin><playerForm Image=\"a.png\"/></Skin>";
  const std::string zip = dir.File(std::string(name) + ".zip");
  int rc = -1;
  RunCapture("cd '" + dir.Path().string() + "' && cp '" + xml + "' SkinResDef.xml && zip -q '" + zip + "' SkinResDef.xml", &rc);
  EXPECT_EQ(rc, 0);
  return zip;
}

TEST(ApplySkin, LastRegisteredFirstAndAFailureEndsThePass) {
  TempDir dir;
  TLuiSkinManager skin;
  std::vector<int> log;
  Recorder a(log, 1), b(log, 2), c(log, 3);
  for (Recorder* r : {&a, &b, &c}) skin.RegisterControl(r);
  skin.RegisterControl(&a);  // once only
  EXPECT_FALSE(skin.ApplySkin(false, 0, true));  // nothing loaded yet
  skin.SetPackageFile(MinimalPackage(dir, "one"));
  int finished = 0;
  skin.OnUpdateSkinFinish = [&](bool setRect) { finished += setRect ? 1 : 10; };
  ASSERT_TRUE(skin.ApplySkin(true, 0x0000FF, true)) << skin.Error();
  EXPECT_EQ(log, (std::vector<int>{3, 2, 1}));
  EXPECT_EQ(finished, 1);
  EXPECT_TRUE(skin.MiniMode());
  EXPECT_EQ(skin.Tint(), 0x0000FFu);

  log.clear();
  b.fail = true;
  EXPECT_FALSE(skin.ApplySkin(false, 0, false));
  EXPECT_EQ(log, (std::vector<int>{3}));  // 1 is not reached
  EXPECT_EQ(skin.Error(), "Invalid Color string");
  EXPECT_EQ(finished, 1);

  log.clear();
  skin.UnregisterControl(&b);
  EXPECT_TRUE(skin.ApplySkin(false, 0, false));
  EXPECT_EQ(log, (std::vector<int>{3, 1}));
  EXPECT_EQ(finished, 11);

  // The package is read again each pass: a file gone fails the pass with the reason.
  std::filesystem::remove(skin.PackageFile());
  EXPECT_FALSE(skin.ApplySkin(false, 0, false));
  EXPECT_NE(skin.Error().find("cannot read the skin package"), std::string::npos);
}

}  // namespace
