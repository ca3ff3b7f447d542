#include "lyrics/LRScrollLRC.h"

#include <gtest/gtest.h>

using namespace ml;

namespace {

// Fixed pitch: 6 pixels an ASCII character, 12 any other, 12 pixels high (lines are 17 high).
class FakeMeasure : public TLyricTextMeasure {
public:
  int TextWidth(std::string_view s) const override {
    int w = 0;
    for (unsigned char c : s) {
      if (c < 0x80) w += 6;
      else if ((c & 0xC0) != 0x80) w += 12;
    }
    return w;
  }
  int TextHeight(std::string_view) const override { return 12; }
};

constexpr TLyricColor kCurrent = 0x0000FF, kScroll = 0x00FF00;

struct Fixture {
  FakeMeasure measure;
  TLRCParse parser;
  TLRScrollLRCModel model{measure};
  Fixture(TLRScrollLRCKind kind, int w, int h, const char* lrc = "[00:01]aaaa\n[00:03]bb\n[00:05]cccc\n[00:07]d\n") {
    EXPECT_TRUE(parser.LoadFromBytes(lrc));
    model.LRCParse = &parser;
    model.Kind = kind;
    model.SetCurrentColor(kCurrent);
    model.SetScrollColor(kScroll);
    model.Resize(w, h);
  }
  const TLyricTextItem& Item(const std::string& text) {
    for (const auto& it : model.Frame().Texts)
      if (it.Text == text) return it;
    ADD_FAILURE() << "no item " << text;
    static TLyricTextItem none;
    return none;
  }
};

const std::string kGap = TLRScrollLRCModel::LineGap;

TEST(LRScrollLRCTest, FadeTableMixesChannelByChannel) {
  EXPECT_EQ(TLRScrollLRCModel::FadeColor(0xFF0000, 11443351, 0), TLyricColor{11443351});
  // 19/20 of the current colour and 1/20 of the other, each term divided on its own.
  EXPECT_EQ(TLRScrollLRCModel::FadeColor(0x0000FF, 0x00FF00, 19), TLyricColor{(12u << 8) | 242u});
  // Both terms round down, so mixing a colour with itself can lose one step.
  EXPECT_EQ(TLRScrollLRCModel::FadeColor(0x102030, 0x102030, 7), TLyricColor{0x0F1F2F});

  FakeMeasure m;
  TLRScrollLRCModel model(m);
  EXPECT_EQ(model.CurrentColor(), TLyricColor{0xFF0000});
  EXPECT_EQ(model.ScrollColor(), TLyricColor{11443351});
  EXPECT_EQ(model.BlendValue, 50);
  EXPECT_EQ(model.FadeTable()[0], TLyricColor{11443351});
  model.SetScrollColor(0);
  EXPECT_EQ(model.FadeTable()[10], TLyricColor{0x7F0000});

  struct { int32_t pos, start; int step; } steps[] = {{1000, 1000, 0}, {900, 1000, 0}, {1049, 1000, 0},
                                                       {1050, 1000, 1}, {1999, 1000, 19}, {9000, 1000, 19}};
  for (auto s : steps) EXPECT_EQ(TLRScrollLRCModel::FadeStepAt(s.pos, s.start), s.step) << s.pos;
}

TEST(LRScrollLRCTest, VerticalLayout) {
  Fixture f(TLRScrollLRCKind::slVertical, 100, 100);
  const auto& fade = f.model.FadeTable();

  // At the exact start of a line it is centred in the other lines' colour; the one before it is
  // almost the current colour, the ones after stack below.
  ASSERT_TRUE(f.model.UpdatePosition(3000));
  EXPECT_EQ(f.model.Frame().Current.Index, 1);
  EXPECT_EQ(f.model.Frame().Scroll, 50);
  EXPECT_EQ(f.Item("bb").Rect, (TLyricRect{0, 50, 100, 67}));
  EXPECT_EQ(f.Item("bb").Color, kScroll);
  EXPECT_EQ(f.Item("bb").Align, TLyricAlign::Center);
  EXPECT_EQ(f.Item("aaaa").Rect, (TLyricRect{0, 33, 100, 50}));
  EXPECT_EQ(f.Item("aaaa").Color, fade[19]);
  EXPECT_EQ(f.Item("cccc").Rect, (TLyricRect{0, 67, 100, 84}));
  EXPECT_EQ(f.Item("d").Rect, (TLyricRect{0, 84, 100, 101}));
  EXPECT_EQ(f.model.Frame().Texts.size(), 4u);

  // A second later it has risen half its height over its two seconds and faded in.
  ASSERT_TRUE(f.model.UpdatePosition(4000));
  EXPECT_DOUBLE_EQ(f.model.Frame().Progress(), 0.5);
  EXPECT_EQ(f.model.Frame().Scroll, 50 - 17 * 1000 / 2000);
  EXPECT_EQ(f.Item("bb").Color, fade[19]);
  EXPECT_EQ(f.Item("aaaa").Color, kScroll);

  // Top and bottom 15 rows fade into the background, the outermost fully.
  const auto& blends = f.model.Frame().Blends;
  ASSERT_EQ(blends.size(), 30u);
  EXPECT_TRUE(blends[0].Rows);
  EXPECT_EQ(blends[0].Index, 0);
  EXPECT_EQ(blends[0].Alpha, 255);
  EXPECT_EQ(blends[1].Index, 99);
  EXPECT_EQ(blends[1].Alpha, 255);
  EXPECT_EQ(blends[28].Index, 14);
  EXPECT_EQ(blends[28].Alpha, 255 - 14 * 17);

  // Before the first line nothing new is drawn; hidden or disabled controls ignore updates.
  EXPECT_FALSE(f.model.UpdatePosition(500));
  EXPECT_EQ(f.model.Position(), 4000);
  f.model.Visible = false;
  EXPECT_FALSE(f.model.UpdatePosition(5000));
  f.model.Visible = true;

  // The last line lasts a minute: thirty seconds in it has risen half its height.
  ASSERT_TRUE(f.model.UpdatePosition(37000));
  EXPECT_EQ(f.model.Frame().Current.Length, 60000);
  EXPECT_EQ(f.model.Frame().Scroll, 50 - 8);

  f.model.BlendValue = 0;
  f.model.Refresh();
  EXPECT_TRUE(f.model.Frame().Blends.empty());
  EXPECT_FALSE(f.model.Frame().ParentBackground);

  f.model.ClearLyrics();
  EXPECT_EQ(f.parser.Count(), 0);
  EXPECT_FALSE(f.model.Frame().HasLine);
  EXPECT_FALSE(f.model.UpdatePosition(3000));
}

TEST(LRScrollLRCTest, HorizontalLayout) {
  Fixture f(TLRScrollLRCKind::slHorizontal, 200, 20);
  const auto& fade = f.model.FadeTable();

  ASSERT_TRUE(f.model.UpdatePosition(3000));
  EXPECT_EQ(f.model.Frame().Scroll, 100);
  EXPECT_EQ(f.Item("bb" + kGap).Rect, (TLyricRect{100, 0, 124, 20}));
  EXPECT_EQ(f.Item("bb" + kGap).Color, kScroll);
  EXPECT_EQ(f.Item("aaaa" + kGap).Rect, (TLyricRect{64, 0, 100, 20}));
  EXPECT_EQ(f.Item("aaaa" + kGap).Align, TLyricAlign::Right);
  EXPECT_EQ(f.Item("aaaa" + kGap).Color, fade[19]);
  // The following lines run on as one text in the other lines' colour.
  EXPECT_EQ(f.Item("cccc" + kGap + "d" + kGap).Rect, (TLyricRect{124, 0, 178, 20}));
  EXPECT_EQ(f.Item("cccc" + kGap + "d" + kGap).Color, kScroll);

  // A second on the line has slid half its width left of the centre.
  ASSERT_TRUE(f.model.UpdatePosition(4000));
  EXPECT_EQ(f.model.Frame().Scroll, 100 - 12);

  // Deep in the song the earlier lines gather into one run, earliest first.
  Fixture late(TLRScrollLRCKind::slHorizontal, 200, 20);
  ASSERT_TRUE(late.model.UpdatePosition(7000));
  EXPECT_EQ(late.Item("cccc" + kGap).Rect, (TLyricRect{64, 0, 100, 20}));
  EXPECT_EQ(late.Item("aaaa" + kGap + "bb" + kGap).Rect, (TLyricRect{4, 0, 64, 20}));

  // Left and right BlendValue columns; an absurd width is capped, none means no blending.
  const auto& blends = f.model.Frame().Blends;
  ASSERT_EQ(blends.size(), 100u);
  EXPECT_FALSE(blends[0].Rows);
  EXPECT_EQ(blends[2].Index, 1);
  EXPECT_EQ(blends[2].Alpha, 250);
  EXPECT_EQ(blends[3].Index, 198);
  for (int value : {0, -5}) {
    f.model.BlendValue = value;
    f.model.Refresh();
    EXPECT_TRUE(f.model.Frame().Blends.empty());
  }
  f.model.BlendValue = 100000;
  f.model.Refresh();
  EXPECT_EQ(f.model.Frame().Blends.size(), 2u * 200);

  f.model.Background = true;
  f.model.Refresh();
  EXPECT_TRUE(f.model.Frame().ParentBackground);
}

TEST(LRScrollLRCTest, SingleLineScrollsAWideLineToItsEnd) {
  Fixture f(TLRScrollLRCKind::slSingleLIne, 30, 20, "[00:01]abcdefghij\n[00:03]ab\n");
  struct { int32_t t; int scroll; } cases[] = {{1000, 0}, {2000, -15}, {2999, -29}};
  for (auto c : cases) {
    ASSERT_TRUE(f.model.UpdatePosition(c.t));
    EXPECT_EQ(f.model.Frame().Scroll, c.scroll) << c.t;
    ASSERT_EQ(f.model.Frame().Texts.size(), 1u);
    EXPECT_EQ(f.model.Frame().Texts[0].Rect.Left, c.scroll);
    EXPECT_EQ(f.model.Frame().Texts[0].Color, kCurrent);
  }
  ASSERT_TRUE(f.model.UpdatePosition(3000));
  EXPECT_EQ(f.model.Frame().Scroll, 9);  // fits: centred
  EXPECT_EQ(f.model.Frame().Texts[0].Align, TLyricAlign::Center);
}

TEST(LRScrollLRCTest, WordTimedLinesReportTheWordBeingSung) {
  Fixture f(TLRScrollLRCKind::slVertical, 100, 100, "[offset:200]\n[00:10]<00:10.00>a<00:10.50>b<00:11.00>\n");
  struct { int32_t t; int word; } cases[] = {{9800, 0}, {10299, 0}, {10300, 1}, {10800, 2}};
  for (auto c : cases) {
    ASSERT_TRUE(f.model.UpdatePosition(c.t));
    EXPECT_EQ(f.model.Frame().CurrentWord, c.word) << c.t;
  }
}

struct DragCase {
  const char* name;
  TLRScrollLRCKind kind;
  std::vector<std::pair<int, int>> moves;  // pointer positions after the press at (100, 50)
  bool accept;
  int32_t end;       // position after release
  int events;        // OnChangePosition calls
};

TEST(LRScrollLRCTest, DraggingTurnsIntoASeekPosition) {
  // Line bb: 2000 ms over 17 pixels (vertical) or 24 pixels (horizontal); MaxTime 8000.
  const DragCase cases[] = {
      {"up one line height: forward one line length", TLRScrollLRCKind::slVertical, {{100, 33}}, true, 5000, 1},
      {"down: back, never below 0", TLRScrollLRCKind::slVertical, {{100, 60}, {100, 1000}}, true, 0, 1},
      {"far up: stops at MaxTime", TLRScrollLRCKind::slVertical, {{100, -1000}}, true, 8000, 1},
      {"refused (paused): snaps back, no seek", TLRScrollLRCKind::slVertical, {{100, 33}}, false, 3000, 0},
      {"a click is no seek", TLRScrollLRCKind::slVertical, {}, true, 3000, 0},
      {"sideways in vertical layout moves nothing", TLRScrollLRCKind::slVertical, {{150, 50}}, true, 3000, 0},
      {"right: back by width", TLRScrollLRCKind::slHorizontal, {{124, 50}}, true, 1000, 1},
      {"left: forward", TLRScrollLRCKind::slHorizontal, {{88, 50}}, true, 4000, 1},
      {"refused horizontally snaps back too", TLRScrollLRCKind::slHorizontal, {{88, 50}}, false, 3000, 0},
      {"single line does not drag", TLRScrollLRCKind::slSingleLIne, {{100, 0}, {0, 50}}, true, 3000, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Fixture f(c.kind, 200, 100);
    f.model.MaxTime = 8000;
    std::vector<int32_t> changes, seeks;
    f.model.OnChange = [&](int32_t t, bool& can) {
      changes.push_back(t);
      if (!c.accept) can = false;
    };
    f.model.OnChangePosition = [&](int32_t t) { seeks.push_back(t); };
    ASSERT_TRUE(f.model.UpdatePosition(3000));
    ASSERT_TRUE(f.model.MouseDown(100, 50));
    EXPECT_TRUE(f.model.Dragging());
    EXPECT_FALSE(f.model.UpdatePosition(3500));  // the timer does not fight the hand
    for (auto [x, y] : c.moves) f.model.MouseMove(x, y);
    f.model.MouseUp(0, 0);
    EXPECT_FALSE(f.model.Dragging());
    EXPECT_EQ(f.model.Position(), c.end);
    EXPECT_EQ(static_cast<int>(seeks.size()), c.events);
    if (!seeks.empty()) {
      EXPECT_EQ(seeks.back(), c.end);
    }
    EXPECT_TRUE(f.model.Frame().Marker.empty());
  }
}

TEST(LRScrollLRCTest, DragMarker) {
  Fixture v(TLRScrollLRCKind::slVertical, 100, 100);
  v.model.MaxTime = 8000;
  ASSERT_TRUE(v.model.UpdatePosition(3000));
  ASSERT_TRUE(v.model.MouseDown(10, 50));
  v.model.MouseMove(10, 33);
  const auto& frame = v.model.Frame();
  ASSERT_EQ(frame.Marker.size(), 3u);
  EXPECT_EQ(frame.Marker[0].X1, 2);
  EXPECT_EQ(frame.Marker[0].X2, 98);
  EXPECT_EQ(frame.Marker[0].Y1, 50);
  EXPECT_EQ(frame.Marker[1].Y1, 47);
  EXPECT_EQ(frame.Marker[1].Y2, 54);
  ASSERT_EQ(frame.MarkerText.size(), 1u);
  EXPECT_EQ(frame.MarkerText[0].Text, "00:05");
  EXPECT_EQ(frame.MarkerText[0].Rect.Bottom, 49);

  Fixture h(TLRScrollLRCKind::slHorizontal, 100, 20);
  ASSERT_TRUE(h.model.UpdatePosition(3000));
  ASSERT_TRUE(h.model.MouseDown(10, 10));
  ASSERT_EQ(h.model.Frame().Marker.size(), 3u);
  EXPECT_EQ(h.model.Frame().Marker[0].X1, 47);
  EXPECT_EQ(h.model.Frame().Marker[0].X2, 53);
  EXPECT_EQ(h.model.Frame().Marker[1].Y1, 18);

  TLRScrollLRCModel detached(v.measure);
  EXPECT_FALSE(detached.MouseDown(0, 0));
  EXPECT_TRUE(detached.ShowsFindLink());
  EXPECT_FALSE(v.model.ShowsFindLink());
  v.parser.ClearLines();
  EXPECT_TRUE(v.model.ShowsFindLink());
  v.model.Enabled = false;
  v.model.MouseUp(0, 0);
  EXPECT_FALSE(v.model.MouseDown(0, 0));
}

TEST(LRScrollLRCTest, SettingsAndMenuArithmetic) {
  struct { int index, value; } blends[] = {{0, 80}, {3, 50}, {7, 10}, {8, 0}, {-1, 50}, {9, 50}};
  for (auto b : blends) EXPECT_EQ(BlendValueFromIndex(b.index), b.value) << b.index;

  struct { int32_t ms; const char* text; } times[] = {
      {0, "00:00"}, {59499, "00:59"}, {59500, "01:00"}, {3599499, "59:59"}, {3599500, "1:00:00"}, {3723000, "1:02:03"}};
  for (auto t : times) EXPECT_EQ(LyricTimeText(t.ms), t.text);

  EXPECT_EQ(KindFromShowStyle(0), TLRScrollLRCKind::slVertical);
  EXPECT_EQ(KindFromShowStyle(1), TLRScrollLRCKind::slSingleLIne);
  EXPECT_EQ(KindForMode(true), TLRScrollLRCKind::slHorizontal);
  EXPECT_EQ(KindForMode(false), TLRScrollLRCKind::slVertical);

  TLRCParse p;
  ASSERT_TRUE(p.LoadFromBytes("[00:01]a\n"));
  for (int i = 0; i < 200; ++i) StepLyricOffset(p, 0, true);
  EXPECT_EQ(p.Offset, 59500);
  StepLyricOffset(p, 3, false);
  EXPECT_EQ(p.Offset, 54500);
  StepLyricOffset(p, 4, false);  // no such step
  EXPECT_EQ(p.Offset, 54500);

  TLyricSeekState s{true, true, 200000, true, false, false};
  EXPECT_TRUE(ShouldSeekAfterLyricDrag(s));
  EXPECT_TRUE(AcceptLyricDrag(s));
  auto with = [&](auto change) { TLyricSeekState t = s; change(t); return ShouldSeekAfterLyricDrag(t); };
  EXPECT_FALSE(with([](auto& t) { t.Playing = false; }));
  EXPECT_FALSE(with([](auto& t) { t.DragSetsPosition = false; }));
  EXPECT_FALSE(with([](auto& t) { t.Duration = 0; }));
  EXPECT_FALSE(with([](auto& t) { t.HasLines = false; }));
  EXPECT_FALSE(with([](auto& t) { t.Downloading = true; }));
  EXPECT_TRUE(with([](auto& t) { t.Downloading = true; t.PositionDownloaded = true; }));
}

}  // namespace
