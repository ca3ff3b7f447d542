#include "library/PlayListBoxRules.h"

#include <algorithm>

namespace ml {

namespace {

// The byte length of the text's first n UTF-8 characters.
size_t CharacterBytes(std::string_view text, size_t characters) {
  size_t i = 0;
  for (size_t c = 0; c < characters && i < text.size(); ++c) {
    ++i;
    while (i < text.size() && (static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) ++i;
  }
  return i;
}

size_t CharacterCount(std::string_view text) {
  size_t n = 0;
  for (unsigned char c : text) n += (c & 0xC0) != 0x80;
  return n;
}

}  // namespace

std::string ElideCaption(std::string_view text, int width, const TTextMeasure& measure) {
  if (measure(text) < width) return std::string(text);
  const int room = width - measure("...");
  // The longest head narrower than room (a binary search: widths grow with the characters).
  size_t low = 0, high = CharacterCount(text);
  while (low < high) {
    const size_t mid = (low + high + 1) / 2;
    if (measure(text.substr(0, CharacterBytes(text, mid))) < room)
      low = mid;
    else
      high = mid - 1;
  }
  if (low == 0) return std::string(text.substr(0, CharacterBytes(text, 1)));
  return std::string(text.substr(0, CharacterBytes(text, low))) + "...";
}

int EnsureVisibleTop(int index, int top, int visibleRows) {
  if (index < top) return index;
  if (index > top + visibleRows - 1) return std::max(0, index - visibleRows + 1);
  return top;
}

TColor RowTextColor(const TPlayListBoxColors& c, TRowText part, bool lackSource, bool selected, bool playing) {
  if (lackSource) return c.Unactive;
  if (selected) return c.Highlight;
  if (playing) return c.Select;
  switch (part) {
    case TRowText::Number: return c.Number;
    case TRowText::Duration: return c.Duration;
    case TRowText::Caption: break;
  }
  return c.Text;
}

}  // namespace ml
