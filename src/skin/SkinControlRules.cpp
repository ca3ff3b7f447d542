#include "skin/SkinControlRules.h"

#include "base/TimeText.h"

#include <algorithm>

namespace ml {

int ButtonFrameIndex(const TButtonView& v) {
  int frame = 0;
  if (v.NumGlyphs == 2) {
    frame = v.Enabled ? 0 : 1;
  } else if (v.NumGlyphs >= 3) {
    if (!v.Enabled)
      frame = v.NumGlyphs >= 4 ? 3 : 0;
    else if (v.Press != TButtonPress::Up)
      frame = 2;
    else if (v.Hovered)
      frame = 1;
  }
  if (v.Check && frame == 0 && v.NumGlyphs >= 3) frame = 2;
  return frame;
}

TRect ButtonFrameRect(int stripWidth, int stripHeight, int numGlyphs, int frame) {
  if (numGlyphs <= 0 || stripHeight <= 0 || frame < 0 || frame >= numGlyphs) return {};
  const int w = stripWidth / numGlyphs;
  if (w <= 0) return {};
  return TRect{frame * w, 0, frame * w + w, stripHeight};
}

namespace {

int Travel(const TTrackBarAxis& a) { return std::max(0, a.Length - a.Thumb); }

}  // namespace

int TrackBarThumbOffset(const TTrackBarAxis& a, int position) {
  if (a.Max <= 0) return a.Vertical ? Travel(a) : 0;
  const int p = std::clamp(position, 0, a.Max);
  const int along = int(int64_t(Travel(a)) * p / a.Max);
  return a.Vertical ? Travel(a) - along : along;
}

int TrackBarValueAt(const TTrackBarAxis& a, int pixel) {
  const int travel = Travel(a);
  if (travel == 0 || a.Max <= 0) return 0;
  int along = std::clamp(pixel - a.Thumb / 2, 0, travel);
  if (a.Vertical) along = travel - along;
  return int((int64_t(along) * a.Max + travel / 2) / travel);
}

TRect TrackBarFillRect(const TTrackBarAxis& a, int position, int breadth, bool fulFill) {
  const int offset = TrackBarThumbOffset(a, position);
  if (a.Vertical) {
    const int top = fulFill ? offset : offset + a.Thumb / 2;
    return TRect{0, std::clamp(top, 0, a.Length), breadth, a.Length};
  }
  const int right = fulFill ? offset + a.Thumb : offset + a.Thumb / 2;
  return TRect{0, 0, std::clamp(right, 0, a.Length), breadth};
}

std::string LedTimeText(int positionMs, int lengthMs, bool remaining) {
  const bool left = remaining && lengthMs > 0;
  const int ms = std::max(left ? lengthMs - positionMs : positionMs, 0);
  return (left ? "-" : "") + FormatTimeText(ms / 1000);
}

int LedGlyphIndex(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c == ':') return 10;
  if (c == '-') return 11;
  return -1;
}

}  // namespace ml
