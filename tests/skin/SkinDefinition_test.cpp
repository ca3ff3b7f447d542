// The definition's queries on a skin Python packs: found and missing elements, each default, the
// main form's two layouts, the odd rules skins rely on (a short position, "vertical" unless
// "false", a button found only with its image) and a bad colour refused.
#include "skin/uLuiSkinMgr.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

using namespace ml;
using namespace mltest;

namespace {

struct SkinDefinition : ::testing::Test {
  static void SetUpTestSuite() {
    dir = new TempDir;
    int rc = -1;
    RunCapture("python3 '" + SourceDir() + "/tests/skin/make_packages.py' '" + dir->Path().string() + "'", &rc);
    ASSERT_EQ(rc, 0);
  }
  static void TearDownTestSuite() { delete dir; }
  void SetUp() override { ASSERT_TRUE(skin.Load(ReadAll(dir->File("skin.zip")))) << skin.Error(); }
  static TempDir* dir;
  TLuiSkinManager skin;
};
TempDir* SkinDefinition::dir = nullptr;

TEST(SkinPosition, FieldsAndTheirRules) {
  struct Case {
    const char* text;
    TRect want;
  } cases[] = {
      {"1, 2, 3, 4", {1, 2, 3, 4}}, {"1, 2, 3", {1, 2, 3, 3}}, {"7", {7, 7, 7, 7}},      {"", {}},
      {"  ", {}},                   {"1,x,3,4", {1, 0, 3, 4}}, {"-5, 0, 10, 20", {-5, 0, 10, 20}},
  };
  for (const Case& c : cases) EXPECT_EQ(ParseSkinPosition(c.text), c.want) << c.text;
}

TEST_F(SkinDefinition, FormsAndTheirDefaults) {
  const TSkinFormLook main = skin.GetForm(TLuiSkinManager::MainForm(false));
  EXPECT_TRUE(main.Found) << "form names ignore case";
  EXPECT_EQ(main.Image, "main");
  EXPECT_EQ(main.SeperateX, 40);
  EXPECT_EQ(main.SeperateY, 0) << "not a number: the default";
  EXPECT_EQ(main.Color, 0x302010u) << "#RRGGBB held with red low";
  const TSkinFormLook mini = skin.GetForm(TLuiSkinManager::MainForm(true));
  EXPECT_TRUE(mini.Found);
  EXPECT_EQ(mini.Image, std::nullopt) << "a named entry the package lacks";
  EXPECT_EQ(mini.Color, 0xFFFFFFu);
  EXPECT_FALSE(skin.GetForm("webForm").Found);
  EXPECT_EQ(skin.GetPreview(), "preview");
}

TEST_F(SkinDefinition, ButtonsTrackBarsLabels) {
  const TSkinButtonLook play = skin.GetButton("playerForm", "Play");
  EXPECT_TRUE(play.Found);
  EXPECT_EQ(play.Position, (TRect{10, 20, 40, 50}));
  EXPECT_FALSE(skin.GetButton("playerForm", "stop").Found) << "no image, no button";
  EXPECT_FALSE(skin.GetButton("playerForm", "next").Found);
  EXPECT_STREQ(TLuiSkinManager::ButtonForm("Close", true), "lyricForm");
  EXPECT_STREQ(TLuiSkinManager::ButtonForm("play", true), "miniForm");
  const TSkinButtonLook close = skin.GetButton(TLuiSkinManager::ButtonForm("Close", true), "Close");
  EXPECT_TRUE(close.Found);
  EXPECT_EQ(close.Position, (TRect{7, 7, 7, 7}));

  const TSkinTrackBarLook volume = skin.GetTrackBar("playerForm", "volume");
  EXPECT_TRUE(volume.Found);
  EXPECT_FALSE(volume.Vertical) << "\"FALSE\" in any case";
  EXPECT_EQ(volume.Position, (TRect{1, 2, 3, 3}));
  EXPECT_EQ(volume.FulFill, 1);
  const TSkinTrackBarLook progress = skin.GetTrackBar("playerForm", "progress");
  EXPECT_FALSE(progress.Found) << "neither image exists";
  EXPECT_TRUE(progress.Vertical) << "missing counts as vertical";
  EXPECT_TRUE(progress.Position.IsEmpty());

  const TSkinLabelLook info = skin.GetLabel("playerForm", "playinfo");
  EXPECT_TRUE(info.Found);
  EXPECT_EQ(info.FontColor, 0x00FF00u);
  EXPECT_EQ(info.FontName, "Sans");
  EXPECT_EQ(info.FontSize, 11);
  EXPECT_FALSE(info.AlignLeft);
  const TSkinLabelLook rate = skin.GetLabel("playerForm", "Bitrate");
  EXPECT_FALSE(rate.Found);
  EXPECT_TRUE(rate.AlignLeft);
  EXPECT_EQ(rate.FontSize, 0);
}

TEST_F(SkinDefinition, ColoursDefaultsAndABadColour) {
  const TSkinColorsLook menu = skin.GetColors("Menu", "MenuColor", {{"FrameColor", 0}, {"FontColor", 0x123456}});
  EXPECT_FALSE(menu.Found);
  EXPECT_EQ(menu.Get("FontColor"), 0x123456u);
  EXPECT_THROW(skin.GetColors("playerForm", "playlist", {{"TextColor", 0}, {"NumberColor", 0}}), ESkinError);
  const TSkinColorsLook list = skin.GetColors("playerForm", "playlist", {{"TextColor", 0}, {"HighlightColor", 7}});
  EXPECT_TRUE(list.Found);
  EXPECT_EQ(list.Get("TextColor"), 0xFFFFFFu);
  EXPECT_EQ(list.Get("HighlightColor"), 7u) << "empty: the default";
}

TEST_F(SkinDefinition, APackageWithoutUsableDefinitionFindsNothing) {
  TLuiSkinManager bad;
  EXPECT_FALSE(bad.Load(ReadAll(dir->File("notxml.zip"))));
  EXPECT_NE(bad.Error().find("SkinResDef.xml is not readable XML"), std::string::npos) << bad.Error();
  EXPECT_FALSE(bad.GetForm("playerForm").Found);
  EXPECT_EQ(bad.GetPreview(), std::nullopt);
  EXPECT_FALSE(bad.Load(ReadAll(dir->File("nodef.zip"))));
  EXPECT_FALSE(bad.Load(ReadAll(dir->File("skin.zip")).substr(0, 50)));
  EXPECT_FALSE(bad.GetButton("playerForm", "play").Found);
}

}  // namespace
