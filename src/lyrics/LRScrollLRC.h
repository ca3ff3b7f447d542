#pragma once
// The lyric display without its window: everything the scrolling lyric control computes from the
// parser and the play position (which lines stand where, in which colour, how the edges fade, where
// the drag marker goes) and the drag arithmetic that turns a drag into a seek position. The
// windowed control measures texts for it and paints the frame it describes, nothing more.
#include "lyrics/LRCParse.h"

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace ml {

// Colours as the settings and skins keep them: $00BBGGRR.
using TLyricColor = uint32_t;

enum class TLRScrollLRCKind { slHorizontal, slSingleLIne, slVertical };

// Text metrics of the control's font; the window supplies them, tests use a fixed-pitch fake.
class TLyricTextMeasure {
public:
  virtual ~TLyricTextMeasure() = default;
  virtual int TextWidth(std::string_view utf8) const = 0;
  virtual int TextHeight(std::string_view utf8) const = 0;
};

enum class TLyricAlign { Left, Center, Right };

struct TLyricRect {
  int Left = 0, Top = 0, Right = 0, Bottom = 0;
  bool operator==(const TLyricRect&) const = default;
};

// One text drawn on one line without prefix processing, clipped to the control.
struct TLyricTextItem {
  std::string Text;
  TLyricRect Rect;
  TLyricAlign Align = TLyricAlign::Left;
  bool VCenter = false;  // vertically centred, else top-aligned
  TLyricColor Color = 0;
};

// The background alpha-blended over one whole pixel row (Rows) or column with constant Alpha.
struct TLyricEdgeBlend {
  bool Rows = false;
  int Index = 0;
  uint8_t Alpha = 0;
};

// A marker stroke from (X1, Y1) to (X2, Y2), both ends included, in the current line's colour.
struct TLyricStroke {
  int X1 = 0, Y1 = 0, X2 = 0, Y2 = 0;
};

// Everything one picture of the control holds, back to front: background, texts, edge blends,
// drag marker.
struct TLyricFrame {
  bool ParentBackground = false;  // paint over the parent's picture instead of BackColor
  TLyricColor BackColor = 0;
  bool HasLine = false;           // false: the background alone
  TLineInfo Current;              // the line sung at Position (when HasLine)
  int32_t Position = 0;
  int FadeStep = 0;               // 0..19, how far the current line has faded in
  int CurrentWord = -1;           // word being sung on a word-timed line, -1 for none
  int Scroll = 0;                 // the current line's top (vertical) or left edge (horizontal,
                                  // single line)
  std::vector<TLyricTextItem> Texts;
  std::vector<TLyricEdgeBlend> Blends;
  std::vector<TLyricStroke> Marker;
  std::vector<TLyricTextItem> MarkerText;  // the position while dragging (vertical layout)

  // How far into the current line the position is, 0 to 1.
  double Progress() const {
    if (!HasLine || Current.Length <= 0) return 0;
    const double p = double(int64_t(Position) - Current.Start) / Current.Length;
    return p < 0 ? 0 : p > 1 ? 1 : p;
  }
};

class TLRScrollLRCModel {
public:
  static constexpr int FadeSteps = 20;
  static constexpr int LineSpacing = 5;     // added to a line's text height
  static constexpr int VerticalBlendRows = 15;
  static constexpr const char* LineGap = "\xE3\x80\x80";  // the full-width space after each line

  explicit TLRScrollLRCModel(const TLyricTextMeasure& measure);

  // Settings of the control; call Refresh() after changing them so the picture follows.
  TLRScrollLRCKind Kind = TLRScrollLRCKind::slHorizontal;
  int BlendValue = 50;           // width of the horizontal edge fade; 0 turns fading off
  bool IsSmall = false;
  bool Background = false;       // horizontal and single-line layouts over the parent's picture
  TLyricColor BKColor = 0xFFFFFF;
  TLRCParse* LRCParse = nullptr;
  int32_t MaxTime = 0;           // song duration; dragging forward stops there
  bool Visible = true;
  bool Enabled = true;

  // Raised at every drag step; the handler clears canChange to refuse the new position.
  std::function<void(int32_t time, bool& canChange)> OnChange;
  // Raised when a drag ends at a new position.
  std::function<void(int32_t time)> OnChangePosition;

  TLyricColor CurrentColor() const { return current_; }
  TLyricColor ScrollColor() const { return scroll_; }
  void SetCurrentColor(TLyricColor c);
  void SetScrollColor(TLyricColor c);
  const std::array<TLyricColor, FadeSteps>& FadeTable() const { return fade_; }

  int Width() const { return width_; }
  int Height() const { return height_; }
  void Resize(int width, int height);

  // Composes the picture for position t. False, leaving the picture as it was, while hidden,
  // disabled or dragged, or when there is no line to show.
  bool UpdatePosition(int32_t t);
  // Empties the parser and shows the bare background.
  void ClearLyrics();
  // Recomposes at the current position after a setting changed.
  void Refresh();
  const TLyricFrame& Frame() const { return frame_; }
  // The frame shows its find-lyrics link over the control while there is nothing to scroll.
  bool ShowsFindLink() const { return !LRCParse || LRCParse->Count() == 0; }
  int32_t Position() const { return position_; }

  // Left-button dragging. MouseDown is true when a drag began (control enabled, parser attached).
  bool MouseDown(int x, int y);
  void MouseMove(int x, int y);
  void MouseUp(int x, int y);
  bool Dragging() const { return dragging_; }

  // Pure helpers, public for the options dialog, the frame's menu and tests.
  static TLyricColor FadeColor(TLyricColor current, TLyricColor scroll, int i);
  static int FadeStepAt(int32_t position, int32_t start);
  // Background alpha of the i-th row or column from an edge, n of them faded.
  static uint8_t EdgeAlpha(int i, int n);

private:
  void RebuildFadeTable();
  void ResetFrame();
  bool Compose(int32_t t);
  void ComposeVertical(const TLineInfo& line, int32_t t);
  void ComposeHorizontal(const TLineInfo& line, int32_t t);
  void ComposeSingleLine(const TLineInfo& line, int32_t t);
  void AddBlends(bool rows, int n, int extent);
  void AddMarker();
  int LineHeight(std::string_view text) const;
  int LineWidth(std::string_view text) const;

  const TLyricTextMeasure& measure_;
  TLyricColor current_ = 0xFF0000;
  TLyricColor scroll_ = 11443351;
  std::array<TLyricColor, FadeSteps> fade_{};
  int width_ = 100, height_ = 20;
  TLyricFrame frame_;
  int32_t position_ = 0;
  // The line last shown and its size along the scroll direction: the scale of a drag.
  int32_t shownLength_ = 0;
  int shownExtent_ = 0;
  bool dragging_ = false;
  bool moved_ = false;
  int32_t savedPosition_ = 0;
  int lastX_ = 0, lastY_ = 0;
};

// The lyric window's fade width for the options dialog's fade list: "80", "70", ... "10",
// "不淡入淡出" (index 8, no fading). An index outside the list counts as 3.
int BlendValueFromIndex(int index);

// "LRCShowStyle": 0 vertical, anything else single line. The skinned control switches to the
// horizontal layout in mini mode and back to vertical otherwise.
TLRScrollLRCKind KindFromShowStyle(int style);
TLRScrollLRCKind KindForMode(bool miniMode);

// The drag marker's time: "mm:ss" below one hour, "h:mm:ss" from one hour on, in whole seconds.
std::string LyricTimeText(int32_t ms);

// The lyric menu's offset steps: forward (lines earlier) adds, backward subtracts.
inline constexpr std::array<int32_t, 4> LyricOffsetSteps{500, 1000, 2000, 5000};
void StepLyricOffset(TLRCParse& parser, int step, bool forward);

// What the lyric frame asks before a drag moves or seeks the player.
struct TLyricSeekState {
  bool Playing = false;
  bool DragSetsPosition = false;    // the "DragLRCSetPlayPosition" setting
  int32_t Duration = 0;             // 0 while unknown
  bool HasLines = false;
  bool Downloading = false;         // online play of a song still downloading
  bool PositionDownloaded = false;  // the main window accepts the position as already there
};
// A drag may move the lyrics only while the player plays.
inline bool AcceptLyricDrag(const TLyricSeekState& s) { return s.Playing; }
bool ShouldSeekAfterLyricDrag(const TLyricSeekState& s);

}  // namespace ml
