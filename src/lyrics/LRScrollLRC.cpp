#include "lyrics/LRScrollLRC.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace ml {
namespace {

// a * b / c in 64 bits, for pixel and time products that overflow 32.
int64_t MulDiv(int64_t a, int64_t b, int64_t c) { return c == 0 ? 0 : a * b / c; }

}  // namespace

TLRScrollLRCModel::TLRScrollLRCModel(const TLyricTextMeasure& measure) : measure_(measure) {
  RebuildFadeTable();
  ResetFrame();
}

TLyricColor TLRScrollLRCModel::FadeColor(TLyricColor current, TLyricColor scroll, int i) {
  TLyricColor out = 0;
  for (int shift = 0; shift < 24; shift += 8) {
    uint32_t c = (current >> shift) & 0xFF, s = (scroll >> shift) & 0xFF;
    uint32_t mixed = c * i / FadeSteps + s * (FadeSteps - i) / FadeSteps;
    out |= (mixed & 0xFF) << shift;
  }
  return out;
}

int TLRScrollLRCModel::FadeStepAt(int32_t position, int32_t start) {
  if (position <= start) return 0;
  // A new line fades in over its first second.
  return static_cast<int>(std::min<int64_t>(MulDiv(int64_t(position) - start, FadeSteps, 1000), FadeSteps - 1));
}

uint8_t TLRScrollLRCModel::EdgeAlpha(int i, int n) {
  if (n <= 0) return 0;
  const int step = 255 / std::min(n, 255);
  return static_cast<uint8_t>(std::max(0, 255 - i * step));
}

void TLRScrollLRCModel::RebuildFadeTable() {
  for (int i = 0; i < FadeSteps; ++i) fade_[i] = FadeColor(current_, scroll_, i);
}

void TLRScrollLRCModel::SetCurrentColor(TLyricColor c) {
  current_ = c;
  RebuildFadeTable();
}

void TLRScrollLRCModel::SetScrollColor(TLyricColor c) {
  scroll_ = c;
  RebuildFadeTable();
}

int TLRScrollLRCModel::LineHeight(std::string_view text) const { return measure_.TextHeight(text) + LineSpacing; }

int TLRScrollLRCModel::LineWidth(std::string_view text) const {
  return measure_.TextWidth(std::string(text) + LineGap);
}

void TLRScrollLRCModel::ResetFrame() {
  frame_ = TLyricFrame{};
  frame_.ParentBackground = Background && Kind != TLRScrollLRCKind::slVertical;
  frame_.BackColor = BKColor;
  frame_.Position = position_;
}

void TLRScrollLRCModel::Resize(int width, int height) {
  width_ = std::max(0, width);
  height_ = std::max(0, height);
  Refresh();
}

void TLRScrollLRCModel::Refresh() {
  ResetFrame();
  if (LRCParse) Compose(position_);
}

void TLRScrollLRCModel::ClearLyrics() {
  if (LRCParse) LRCParse->ClearLines();
  shownLength_ = 0;
  ResetFrame();
}

bool TLRScrollLRCModel::UpdatePosition(int32_t t) {
  if (!Visible || !Enabled || dragging_) return false;
  return Compose(t);
}

bool TLRScrollLRCModel::Compose(int32_t t) {
  TLineInfo line;
  if (!LRCParse || !LRCParse->GetLineAt(t, line) || line.Length <= 0) return false;
  position_ = t;
  shownLength_ = line.Length;
  ResetFrame();
  frame_.HasLine = true;
  frame_.FadeStep = FadeStepAt(t, line.Start);
  const TLines& source = LRCParse->Lines[line.Index];
  for (size_t w = 0; w < source.Words.size(); ++w)
    if (int64_t(source.Words[w].Time) - LRCParse->Offset <= t) frame_.CurrentWord = static_cast<int>(w);
  switch (Kind) {
    case TLRScrollLRCKind::slVertical: ComposeVertical(line, t); break;
    case TLRScrollLRCKind::slHorizontal: ComposeHorizontal(line, t); break;
    case TLRScrollLRCKind::slSingleLIne: ComposeSingleLine(line, t); break;
  }
  frame_.Current = std::move(line);
  return true;
}

// The current line starts centred and rises by its own height over its duration; earlier lines
// stack above it, later ones below.
void TLRScrollLRCModel::ComposeVertical(const TLineInfo& line, int32_t t) {
  const int W = width_, H = height_, k = frame_.FadeStep;
  const int h = LineHeight(line.Text);
  shownExtent_ = h;
  const int y = H / 2 - static_cast<int>(MulDiv(h, int64_t(t) - line.Start, line.Length));
  frame_.Scroll = y;

  TLineInfo other;
  int top = y;
  for (int32_t index = line.Index; top > 0 && LRCParse->GetPrevLine(index, other); index = other.Index) {
    const int oh = LineHeight(other.Text);
    // The line just left behind fades out while the new one fades in.
    TLyricColor color = index == line.Index ? fade_[FadeSteps - 1 - k] : scroll_;
    frame_.Texts.push_back({other.Text, {0, top - oh, W, top}, TLyricAlign::Center, false, color});
    top -= oh;
  }
  int bottom = y + h;
  for (int32_t index = line.Index; bottom < H && LRCParse->GetNextLine(index, other); index = other.Index) {
    const int oh = LineHeight(other.Text);
    frame_.Texts.push_back({other.Text, {0, bottom, W, bottom + oh}, TLyricAlign::Center, false, scroll_});
    bottom += oh;
  }
  frame_.Texts.push_back({line.Text, {0, y, W, y + h}, TLyricAlign::Center, false, fade_[k]});
  if (BlendValue > 0) AddBlends(true, VerticalBlendRows, H);
  if (dragging_) AddMarker();
}

// The current line enters at the centre and slides left past it over its duration.
void TLRScrollLRCModel::ComposeHorizontal(const TLineInfo& line, int32_t t) {
  const int W = width_, H = height_, k = frame_.FadeStep;
  const int w = LineWidth(line.Text);
  shownExtent_ = w;
  const int x = W / 2 - static_cast<int>(MulDiv(int64_t(t) - line.Start, w, line.Length));
  frame_.Scroll = x;

  TLineInfo other;
  int right = x;
  int32_t index = line.Index;
  if (right > 0 && LRCParse->GetPrevLine(index, other)) {
    const int ow = LineWidth(other.Text);
    frame_.Texts.push_back({other.Text + LineGap, {right - ow, 0, right, H}, TLyricAlign::Right, true,
                            fade_[FadeSteps - 1 - k]});
    right -= ow;
    index = other.Index;
    // The earlier lines go out as one run, earliest first, right-aligned against that line.
    std::string earlier;
    const int runRight = right;
    for (; right > 0 && LRCParse->GetPrevLine(index, other); index = other.Index) {
      earlier.insert(0, other.Text + LineGap);
      right -= LineWidth(other.Text);
    }
    if (!earlier.empty())
      frame_.Texts.push_back({earlier, {right, 0, runRight, H}, TLyricAlign::Right, true, scroll_});
  }

  frame_.Texts.push_back({line.Text + LineGap, {x, 0, x + w, H}, TLyricAlign::Left, true, fade_[k]});

  // Following lines run on while they start inside the control, so the one entering at the right
  // edge is already partly visible.
  std::string later;
  int left = x + w;
  for (index = line.Index; left < W && LRCParse->GetNextLine(index, other); index = other.Index) {
    later += other.Text + LineGap;
    left += LineWidth(other.Text);
  }
  if (!later.empty()) frame_.Texts.push_back({later, {x + w, 0, left, H}, TLyricAlign::Left, true, scroll_});

  if (BlendValue > 0) AddBlends(false, BlendValue, W);
  if (dragging_) AddMarker();
}

// Only the current line; one wider than the control scrolls so its end is in view when the line
// is over.
void TLRScrollLRCModel::ComposeSingleLine(const TLineInfo& line, int32_t t) {
  const int W = width_, H = height_;
  const int tw = measure_.TextWidth(line.Text);
  shownExtent_ = tw;
  if (tw <= W) {
    frame_.Scroll = (W - tw) / 2;
    frame_.Texts.push_back({line.Text, {0, 0, W, H}, TLyricAlign::Center, true, current_});
    return;
  }
  const int shift = static_cast<int>(MulDiv(tw - W, int64_t(t) - line.Start, line.Length));
  frame_.Scroll = -shift;
  frame_.Texts.push_back({line.Text, {-shift, 0, -shift + tw, H}, TLyricAlign::Left, true, current_});
}

// The background over the n outermost rows or columns at both edges, most opaque at the edge.
void TLRScrollLRCModel::AddBlends(bool rows, int n, int extent) {
  const int count = std::min({n, 255, extent});
  for (int i = 0; i < count; ++i) {
    const uint8_t alpha = EdgeAlpha(i, count);
    frame_.Blends.push_back({rows, i, alpha});
    frame_.Blends.push_back({rows, extent - 1 - i, alpha});
  }
}

void TLRScrollLRCModel::AddMarker() {
  const int W = width_, H = height_;
  if (Kind == TLRScrollLRCKind::slVertical) {
    const int mid = H / 2;
    frame_.Marker.push_back({2, mid, W - 2, mid});
    frame_.Marker.push_back({2, mid - 3, 2, mid + 4});
    frame_.Marker.push_back({W - 2, mid - 3, W - 2, mid + 4});
    std::string text = LyricTimeText(position_);
    const int th = measure_.TextHeight(text);
    frame_.MarkerText.push_back(
        {text, {4, mid - 1 - th, 4 + measure_.TextWidth(text), mid - 1}, TLyricAlign::Left, false, current_});
  } else if (Kind == TLRScrollLRCKind::slHorizontal) {
    const int mid = W / 2;
    frame_.Marker.push_back({mid - 3, 2, mid + 3, 2});
    frame_.Marker.push_back({mid - 3, H - 2, mid + 3, H - 2});
    frame_.Marker.push_back({mid, 2, mid, H - 2});
  }
}

bool TLRScrollLRCModel::MouseDown(int x, int y) {
  if (!Enabled || !LRCParse) return false;
  dragging_ = true;
  moved_ = false;
  savedPosition_ = position_;
  lastX_ = x;
  lastY_ = y;
  Compose(position_);
  return true;
}

void TLRScrollLRCModel::MouseMove(int x, int y) {
  if (!dragging_) return;
  int d = 0;
  if (Kind == TLRScrollLRCKind::slVertical) d = y - lastY_;
  else if (Kind == TLRScrollLRCKind::slHorizontal) d = x - lastX_;
  lastX_ = x;
  lastY_ = y;
  // Nothing to scale the move by before a line was shown; the single-line layout does not drag.
  if (d == 0 || shownLength_ <= 0 || shownExtent_ <= 0) return;
  // Dragging the lyrics down (or right) brings earlier lines back: the position goes back by the
  // time the line last shown needs to travel that far.
  const int64_t step = MulDiv(std::abs(d), shownLength_, shownExtent_);
  int64_t pos = position_;
  if (d > 0) pos = std::max<int64_t>(0, pos - step);
  else if (pos < MaxTime) pos = std::min<int64_t>(pos + step, MaxTime);
  position_ = static_cast<int32_t>(pos);
  if (!Compose(position_)) {
    frame_.Position = position_;
    frame_.Marker.clear();
    frame_.MarkerText.clear();
    AddMarker();
  }
  bool canChange = true;
  if (OnChange) OnChange(position_, canChange);
  moved_ = canChange;
}

void TLRScrollLRCModel::MouseUp(int, int) {
  if (!dragging_) return;
  dragging_ = false;
  // A refused drag (the player is not playing) snaps back to where the song is.
  if (!moved_) position_ = savedPosition_;
  position_ = std::max(0, position_);
  ResetFrame();
  Compose(position_);
  if (moved_ && position_ != savedPosition_ && OnChangePosition) OnChangePosition(position_);
}

int BlendValueFromIndex(int index) {
  if (index < 0 || index > 8) index = 3;
  return index == 8 ? 0 : 80 - 10 * index;
}

TLRScrollLRCKind KindFromShowStyle(int style) {
  return style == 0 ? TLRScrollLRCKind::slVertical : TLRScrollLRCKind::slSingleLIne;
}

TLRScrollLRCKind KindForMode(bool miniMode) {
  return miniMode ? TLRScrollLRCKind::slHorizontal : TLRScrollLRCKind::slVertical;
}

std::string LyricTimeText(int32_t ms) {
  const int64_t seconds = (std::max<int64_t>(0, ms) + 500) / 1000;
  char buf[32];
  if (seconds < 3600)
    std::snprintf(buf, sizeof buf, "%.2d:%.2d", int(seconds / 60), int(seconds % 60));
  else
    std::snprintf(buf, sizeof buf, "%d:%.2d:%.2d", int(seconds / 3600), int(seconds / 60 % 60), int(seconds % 60));
  return buf;
}

void StepLyricOffset(TLRCParse& parser, int step, bool forward) {
  if (step < 0 || step >= static_cast<int>(LyricOffsetSteps.size())) return;
  const int64_t next = int64_t(parser.Offset) + (forward ? LyricOffsetSteps[step] : -LyricOffsetSteps[step]);
  if (next < -TLRCParse::MaxOffset || next > TLRCParse::MaxOffset) return;
  parser.SetOffset(static_cast<int32_t>(next));
}

bool ShouldSeekAfterLyricDrag(const TLyricSeekState& s) {
  if (!s.Playing || !s.DragSetsPosition || s.Duration <= 0 || !s.HasLines) return false;
  return !s.Downloading || s.PositionDownloaded;
}

}  // namespace ml
