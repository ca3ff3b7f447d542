#pragma once
// The rules of a skinned window, kept apart from any toolkit so they can be tested on their own:
// how a window is painted from its skin image at any size (nine slices around a separation
// point), which part of it is the window (the pixels that are not the key colour), what the
// mouse does at each point of its frame, and how windows snap to the screen and to each other
// and move together when docked.
#include "base/ColorText.h"
#include "base/Rect.h"
#include "skin/SkinColors.h"

#include <cstddef>
#include <vector>

namespace ml {

// A piece of the skin image (Source) drawn stretched into the window (Target).
struct TSlicePiece {
  TRect Source, Target;
};

// The separation point splits the image into four corners, copied unscaled to the window's
// corners; the image's column at SeperateX fills the gaps along the top and bottom, its row at
// SeperateY the gaps along the sides, and its pixel at the point the middle. At the image's own
// size the window is the image. The point is clamped into the image; a window smaller than the
// image is drawn at the image's size (a window is never smaller than its skin).
std::vector<TSlicePiece> NineSlicePieces(int imageWidth, int imageHeight, int seperateX, int seperateY,
                                         int width, int height);
// The window of width x height painted from image by NineSlicePieces.
TSkinImage ComposeNineSlice(const TSkinImage& image, int seperateX, int seperateY, int width, int height);

// A window's shape: for each row the runs of pixels that are neither the key colour nor fully
// transparent, as one-pixel-high rectangles. A picture that would need more than maxRects runs
// (a dithered or noisy image) keeps the rows scanned so far and takes each remaining row whole,
// from its first to its last visible pixel: the outline stays right and the region small.
inline constexpr std::size_t kMaxShapeRects = 10000;
std::vector<TRect> ShapeRects(const TSkinImage& image, TColor keyColor = kSkinKeyColor,
                              std::size_t maxRects = kMaxShapeRects);

// What the mouse does at a point of a skinned window (codes as the window system numbers them).
enum TSkinHit : int {
  hitNowhere = 0,
  hitMove = 1,
  hitLeft = 10,
  hitRight = 11,
  hitTop = 12,
  hitTopLeft = 13,
  hitTopRight = 14,
  hitBottom = 15,
  hitBottomLeft = 16,
  hitBottomRight = 17,
};
struct TSkinBorders {
  int Left = 6, Top = 6, Right = 6, Bottom = 6;
};
// A border width of 5 or less is stored as 6, so a frame can always be caught with the mouse.
int SkinBorderWidth(int wanted);
// Border bands for resizing (only when resizable), corners where two bands meet, the rest moves
// the window; outside the window nothing.
TSkinHit SkinHitTest(int width, int height, int x, int y, const TSkinBorders& borders, bool resizable);

// Where a window being moved to `wanted` lands: each edge within `distance` pixels of an edge of
// the work area or of another window (one it overlaps along the other axis) snaps to it.
inline constexpr int kSnapDistance = 10;
TRect SnapMove(const TRect& wanted, const TRect& workArea, const std::vector<TRect>& others,
               int distance = kSnapDistance);
// Whether two windows touch: an edge of one lies on an edge of the other and they overlap
// along that edge.
bool WindowsTouch(const TRect& a, const TRect& b);
// Which of `others` are docked to `main`: touching it directly or through another docked one.
std::vector<bool> DockedWindows(const TRect& main, const std::vector<TRect>& others);

}  // namespace ml
