#pragma once
// The rules of the skinned controls that do not need a toolkit: which frame of a button's strip
// shows, where a track bar's thumb sits and what value a click means, the time the digit display
// shows and which of its digit pictures each character takes.
#include "base/Rect.h"

#include <string>

namespace ml {

// A button's press state: up, pressed (the mouse held on it), latched down (a group's button).
enum class TButtonPress { Up = 0, Pressed = 2, Latched = 3 };

struct TButtonView {
  int NumGlyphs = 4;
  bool Enabled = true;
  TButtonPress Press = TButtonPress::Up;
  bool Hovered = false;
  bool Check = false;
};
// The frame of the strip to show: 2 frames are normal and disabled; 3 or 4 are normal, hovered,
// pressed or latched down (and disabled with 4); a checked button shows pressed where it would
// show normal.
int ButtonFrameIndex(const TButtonView& view);
// Frame `frame` of a strip of numGlyphs frames side by side; the empty rectangle when the strip
// is narrower than its frame count (a frame 0 pixels wide): such a button draws nothing.
TRect ButtonFrameRect(int stripWidth, int stripHeight, int numGlyphs, int frame);

// A track bar of `length` pixels along its axis with a thumb `thumb` pixels long and values
// 0..max. Vertical bars count from the bottom. Offsets are the thumb's start along the axis.
struct TTrackBarAxis {
  int Length = 0, Thumb = 0, Max = 100;
  bool Vertical = false;
};
int TrackBarThumbOffset(const TTrackBarAxis& axis, int position);
// The value a press at `pixel` (along the axis, from the control's top or left) means: the
// thumb centred there, clamped to 0..max.
int TrackBarValueAt(const TTrackBarAxis& axis, int pixel);
// The filled part of the bar: from the start to the thumb's centre, or to its far edge when the
// skin asks the fill to cover the thumb too (FulFill).
TRect TrackBarFillRect(const TTrackBarAxis& axis, int position, int breadth, bool fulFill);

// The time the digit display shows: "mm:ss" played, or "-mm:ss" left when `remaining` (and the
// length is known); minutes go past 99 as they are.
std::string LedTimeText(int positionMs, int lengthMs, bool remaining);
// The picture of the digit strip for a character: 0-9 the digits, 10 ":", 11 "-"; -1 for others.
inline constexpr int kLedGlyphCount = 12;
int LedGlyphIndex(char c);

}  // namespace ml
