// The playlist box's rules: captions cut by whole characters with "...", a row kept in view, and
// the colour of a row's texts.
#include "library/PlayListBoxRules.h"

#include <gtest/gtest.h>

using namespace ml;

namespace {

// One pixel per byte: a Chinese character (3 bytes) is 3 pixels wide.
int Bytes(std::string_view s) { return int(s.size()); }

TEST(PlayListBoxRules, CaptionsAreCutByWholeCharacters) {
  struct Case {
    const char* text;
    int width;
    const char* want;
  } cases[] = {
      {"short", 6, "short"},          // narrower than the cell: whole
      {"short", 5, "s..."},           // not narrower: cut below 5 - 3
      {"abcdefghij", 9, "abcde..."},  // 5 + 3 < 9
      {"星光灿烂", 13, "星光灿烂"},
      {"星光灿烂", 12, "星光..."},    // 12 is not narrower than 12: 星光 (6) < 12 - 3
      {"星光灿烂", 9, "星..."},       // 星光 (6) is not < 9 - 3
      {"星光灿烂", 4, "星"},          // not even one character and "...": the first alone
      {"", 0, ""},
  };
  for (const Case& c : cases) EXPECT_EQ(ElideCaption(c.text, c.width, Bytes), c.want) << c.text << " in " << c.width;
}

TEST(PlayListBoxRules, EnsureVisibleMovesTheTopRowOnlyWhenNeeded) {
  EXPECT_EQ(EnsureVisibleTop(3, 10, 8), 3);    // above: becomes the top row
  EXPECT_EQ(EnsureVisibleTop(12, 10, 8), 10);  // in view
  EXPECT_EQ(EnsureVisibleTop(17, 10, 8), 10);  // the last fully visible row
  EXPECT_EQ(EnsureVisibleTop(18, 10, 8), 11);  // below: the last visible row
}

TEST(PlayListBoxRules, TextColoursFirstMatchWins) {
  TPlayListBoxColors c;
  c.Text = 1, c.Number = 2, c.Duration = 3, c.Highlight = 4, c.Select = 5, c.Unactive = 6;
  EXPECT_EQ(RowTextColor(c, TRowText::Caption, true, true, true), 6u);
  EXPECT_EQ(RowTextColor(c, TRowText::Number, false, true, true), 4u);
  EXPECT_EQ(RowTextColor(c, TRowText::Duration, false, false, true), 5u);
  EXPECT_EQ(RowTextColor(c, TRowText::Caption, false, false, false), 1u);
  EXPECT_EQ(RowTextColor(c, TRowText::Number, false, false, false), 2u);
  EXPECT_EQ(RowTextColor(c, TRowText::Duration, false, false, false), 3u);
}

}  // namespace
