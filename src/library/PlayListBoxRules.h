#pragma once
// The playlist box's rules that need no toolkit: fitting a caption into its cell by whole
// characters with "...", keeping a row in view, and which colour a row's texts take.
#include "base/ColorText.h"

#include <functional>
#include <string>
#include <string_view>

namespace ml {

// Width of a text in pixels, as the box's font draws it.
using TTextMeasure = std::function<int(std::string_view)>;

// A text narrower than width stays whole; otherwise it loses whole characters from its end until
// it is narrower than width minus the width of "...", and gets "..."; when not even its first
// character fits, that character alone.
std::string ElideCaption(std::string_view text, int width, const TTextMeasure& measure);

// The top row after making `index` visible in a box showing `visibleRows` rows from `top`.
int EnsureVisibleTop(int index, int top, int visibleRows);

struct TPlayListBoxColors {
  TColor Text = 0xFF8080, Select = 0x000000, Number = 0xC0C0C0, Duration = 0xC98867, Highlight = 0xFFFFFF,
         DivideLine = 0xBAE5C8, Background1 = 0xF1FCF5, Background2 = 0xFFFFFF, HighlightBkgnd1 = 0x26C75B,
         HighlightBkgnd2 = 0x26C75B, Unactive = 0xC0C0C0;
  bool operator==(const TPlayListBoxColors&) const = default;
};
enum class TRowText { Caption, Number, Duration };
// The first that holds: a song without a source, the selected row, the playing row, else the
// text's own colour. (The list of playlists has no songs without a source.)
TColor RowTextColor(const TPlayListBoxColors& c, TRowText part, bool lackSource, bool selected, bool playing);

}  // namespace ml
