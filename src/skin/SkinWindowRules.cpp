#include "skin/SkinWindowRules.h"

#include <algorithm>
#include <cstdlib>

namespace ml {

namespace {

TRect Box(int left, int top, int right, int bottom) { return TRect{left, top, right, bottom}; }

bool Visible(uint32_t pixel, TColor key) {
  if ((pixel >> 24) == 0) return false;
  const uint32_t rgb = pixel & 0xFFFFFF;
  const uint32_t keyRgb = uint32_t(ColorRed(key)) << 16 | uint32_t(ColorGreen(key)) << 8 | ColorBlue(key);
  return rgb != keyRgb;
}

bool Overlap(int a0, int a1, int b0, int b1) { return a0 < b1 && b0 < a1; }

// The edge of `edges` nearest to `value` within `distance`, or value itself.
int Nearest(int value, const std::vector<int>& edges, int distance) {
  int best = value, bestGap = distance + 1;
  for (int e : edges) {
    const int gap = std::abs(e - value);
    if (gap < bestGap) best = e, bestGap = gap;
  }
  return best;
}

}  // namespace

std::vector<TSlicePiece> NineSlicePieces(int imageWidth, int imageHeight, int seperateX, int seperateY, int width,
                                         int height) {
  if (imageWidth <= 0 || imageHeight <= 0) return {};
  const int sx = std::clamp(seperateX, 0, imageWidth - 1), sy = std::clamp(seperateY, 0, imageHeight - 1);
  width = std::max(width, imageWidth);
  height = std::max(height, imageHeight);
  // Image columns: [0, sx) left corner, sx the stretched column, (sx, W) right corner; rows alike.
  const int rightW = imageWidth - sx - 1, bottomH = imageHeight - sy - 1;
  const int xs[4] = {0, sx, sx + 1, imageWidth};           // image
  const int xt[4] = {0, sx, width - rightW, width};          // window
  const int ys[4] = {0, sy, sy + 1, imageHeight};
  const int yt[4] = {0, sy, height - bottomH, height};
  std::vector<TSlicePiece> pieces;
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) {
      const TRect source = Box(xs[c], ys[r], xs[c + 1], ys[r + 1]);
      const TRect target = Box(xt[c], yt[r], xt[c + 1], yt[r + 1]);
      if (source.Width() > 0 && source.Height() > 0 && target.Width() > 0 && target.Height() > 0)
        pieces.push_back({source, target});
    }
  return pieces;
}

TSkinImage ComposeNineSlice(const TSkinImage& image, int seperateX, int seperateY, int width, int height) {
  TSkinImage out;
  if (image.Width <= 0 || image.Height <= 0) return out;
  out.Width = std::max(width, image.Width);
  out.Height = std::max(height, image.Height);
  out.Pixels.assign(size_t(out.Width) * size_t(out.Height), 0);
  for (const TSlicePiece& p : NineSlicePieces(image.Width, image.Height, seperateX, seperateY, width, height)) {
    // Stretched pieces are one pixel across in the stretched direction, so nearest-neighbour
    // sampling repeats that line exactly.
    for (int y = p.Target.Top; y < p.Target.Bottom; ++y) {
      const int sy = p.Source.Top + int(int64_t(y - p.Target.Top) * p.Source.Height() / p.Target.Height());
      for (int x = p.Target.Left; x < p.Target.Right; ++x) {
        const int sx = p.Source.Left + int(int64_t(x - p.Target.Left) * p.Source.Width() / p.Target.Width());
        out.Pixels[size_t(y) * out.Width + x] = image.Pixels[size_t(sy) * image.Width + sx];
      }
    }
  }
  return out;
}

std::vector<TRect> ShapeRects(const TSkinImage& image, TColor keyColor, std::size_t maxRects) {
  std::vector<TRect> rects;
  bool whole = false;
  for (int y = 0; y < image.Height; ++y) {
    const uint32_t* row = image.Pixels.data() + size_t(y) * image.Width;
    if (whole) {
      int first = 0, last = image.Width - 1;
      while (first < image.Width && !Visible(row[first], keyColor)) ++first;
      while (last > first && !Visible(row[last], keyColor)) --last;
      if (first < image.Width) rects.push_back(Box(first, y, last + 1, y + 1));
      continue;
    }
    const size_t rowStart = rects.size();
    for (int x = 0; x < image.Width;) {
      while (x < image.Width && !Visible(row[x], keyColor)) ++x;
      const int start = x;
      while (x < image.Width && Visible(row[x], keyColor)) ++x;
      if (x > start) rects.push_back(Box(start, y, x, y + 1));
    }
    if (rects.size() > maxRects) {
      rects.resize(rowStart);
      whole = true;
      --y;  // this row again, whole
    }
  }
  return rects;
}

int SkinBorderWidth(int wanted) { return wanted <= 5 ? 6 : std::min(wanted, 0xFFFF); }

TSkinHit SkinHitTest(int width, int height, int x, int y, const TSkinBorders& b, bool resizable) {
  if (x < 0 || y < 0 || x >= width || y >= height) return hitNowhere;
  if (!resizable) return hitMove;
  const bool left = x < b.Left, right = x >= width - b.Right, top = y < b.Top, bottom = y >= height - b.Bottom;
  if (top && left) return hitTopLeft;
  if (bottom && right) return hitBottomRight;
  if (bottom && left) return hitBottomLeft;
  if (top && right) return hitTopRight;
  if (right) return hitRight;
  if (left) return hitLeft;
  if (top) return hitTop;
  if (bottom) return hitBottom;
  return hitMove;
}

TRect SnapMove(const TRect& wanted, const TRect& workArea, const std::vector<TRect>& others, int distance) {
  std::vector<int> xEdges{workArea.Left, workArea.Right}, yEdges{workArea.Top, workArea.Bottom};
  for (const TRect& o : others) {
    // Windows side by side snap their vertical edges, windows stacked their horizontal ones.
    if (Overlap(wanted.Top - distance, wanted.Bottom + distance, o.Top, o.Bottom)) {
      xEdges.push_back(o.Left);
      xEdges.push_back(o.Right);
    }
    if (Overlap(wanted.Left - distance, wanted.Right + distance, o.Left, o.Right)) {
      yEdges.push_back(o.Top);
      yEdges.push_back(o.Bottom);
    }
  }
  auto axis = [distance](int low, int high, const std::vector<int>& edges) {
    const int toLow = Nearest(low, edges, distance) - low, toHigh = Nearest(high, edges, distance) - high;
    if (toLow == 0) return toHigh;
    if (toHigh == 0) return toLow;
    return std::abs(toLow) <= std::abs(toHigh) ? toLow : toHigh;
  };
  const int dx = axis(wanted.Left, wanted.Right, xEdges), dy = axis(wanted.Top, wanted.Bottom, yEdges);
  return Box(wanted.Left + dx, wanted.Top + dy, wanted.Right + dx, wanted.Bottom + dy);
}

bool WindowsTouch(const TRect& a, const TRect& b) {
  const bool sideBySide = (a.Right == b.Left || b.Right == a.Left) && Overlap(a.Top, a.Bottom, b.Top, b.Bottom);
  const bool stacked = (a.Bottom == b.Top || b.Bottom == a.Top) && Overlap(a.Left, a.Right, b.Left, b.Right);
  return sideBySide || stacked;
}

std::vector<bool> DockedWindows(const TRect& main, const std::vector<TRect>& others) {
  std::vector<bool> docked(others.size(), false);
  std::vector<TRect> frontier{main};
  while (!frontier.empty()) {
    const TRect w = frontier.back();
    frontier.pop_back();
    for (size_t i = 0; i < others.size(); ++i)
      if (!docked[i] && WindowsTouch(w, others[i])) {
        docked[i] = true;
        frontier.push_back(others[i]);
      }
  }
  return docked;
}

}  // namespace ml
