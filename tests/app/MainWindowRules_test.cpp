// The main window's rules as tables, without a window: playing a song that is still arriving
// (start, pause, go on, give up, and a song smaller than the start amount), the seek guard, the
// search gate, the play-mode cycles, the title and label texts (rotation by whole characters),
// hotkey matching and registration, placements and the ticked tint.
#include "app/MainWindowRules.h"

#include <gtest/gtest.h>

using namespace ml;
using A = TOnlinePlayBuffer::TAction;
using S = TOnlinePlayBuffer::TState;

namespace {

constexpr int64_t kSize = 4'000'000;

TOnlinePlayBuffer::TTick At(int64_t downloaded, double play = 0, bool complete = false, bool userPaused = false,
                            int64_t size = kSize) {
  return {downloaded, size, complete, play, userPaused};
}

TEST(OnlinePlay, StartsPausesGoesOnAndGivesUp) {
  TOnlinePlayBuffer b;
  EXPECT_EQ(b.Tick(At(50'000)), A::None);
  EXPECT_EQ(b.Status(), "正在缓冲(28%)");
  EXPECT_EQ(b.Tick(At(40'000)), A::None);  // the shown figure never goes back (a dot added)
  EXPECT_EQ(b.Status(), "正在缓冲(28%).");
  EXPECT_EQ(b.Tick(At(174'763)), A::StartPlayback);
  EXPECT_EQ(b.State(), S::Playing);
  EXPECT_TRUE(b.Status().empty());
  // 0.1 of 4 MB played, 450,000 bytes there: 50,000 ahead, enough.
  EXPECT_EQ(b.Tick(At(450'000, 0.1)), A::None);
  // 40,000 ahead: below 43,690.67, so it pauses.
  EXPECT_EQ(b.Tick(At(440'000, 0.1)), A::Pause);
  EXPECT_EQ(b.State(), S::Rebuffering);
  EXPECT_EQ(b.Tick(At(505'536, 0.1)), A::None);  // 65,536 since the pause: half of what it waits for
  EXPECT_EQ(b.Status(), "正在缓冲(50%)");
  EXPECT_EQ(b.Tick(At(600'000, 0.1, false, true)), A::None);  // the user paused: it waits for them
  EXPECT_EQ(b.Tick(At(531'073, 0.1)), A::Resume);              // 131,073 ahead
  EXPECT_EQ(b.State(), S::Playing);
  // Complete: never pauses again, whatever is ahead.
  EXPECT_EQ(b.Tick(At(kSize, 0.999, true)), A::None);

  // Nothing arriving for more than 200 ticks: the next song.
  b.Reset();
  int ticks = 0;
  A last = A::None;
  while (last == A::None && ticks < 1000) last = b.Tick(At(1000)), ++ticks;
  EXPECT_EQ(last, A::SkipToNext);
  EXPECT_EQ(ticks, 201);
}

TEST(OnlinePlay, ASongSmallerThanTheStartAmountStartsWhenComplete) {
  TOnlinePlayBuffer b;
  EXPECT_EQ(b.Tick(At(90'000, 0, false, false, 90'000)), A::None);
  EXPECT_EQ(b.Tick(At(90'000, 0, true, false, 90'000)), A::StartPlayback);
  EXPECT_EQ(b.Tick(At(90'000, 0.5, true, false, 90'000)), A::None);  // and plays through
}

TEST(OnlinePlay, TheWaitingDotsCycle) {
  TOnlinePlayBuffer b;
  std::vector<size_t> dots;
  for (int i = 0; i < 14; ++i) {
    b.Tick(At(0));
    dots.push_back(b.Status().size() - std::string("正在缓冲(0%)").size());
  }
  EXPECT_EQ(dots, (std::vector<size_t>{0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 0, 0}));
}

TEST(SeekGuard, ADownloadingSongSeeksOnlyWhereEnoughHasArrived) {
  struct Case {
    bool downloading;
    double downloaded, target;
    bool playing, want;
  } cases[] = {
      {true, 0.5, 0.49, true, false},  // 40,000 bytes before the end of what arrived
      {true, 0.5, 0.48, true, true},   // 80,000
      {true, 0.5, 0.7, true, false},   // past it
      {false, 0, 0.7, true, true},
      {false, 0, 0.7, false, false},   // stopped: no seek
  };
  for (const Case& c : cases)
    EXPECT_EQ(SeekAllowed(c.downloading, kSize, c.downloaded, c.target, c.playing), c.want) << c.target;
}

TEST(SearchGate, TheSameTextWithinOneAndAHalfSecondsGoesOnce) {
  EXPECT_EQ(TSearchGate::Keyword("  Star LIGHT ", "搜索歌曲，歌手"), "star light");
  EXPECT_EQ(TSearchGate::Keyword("搜索歌曲，歌手", "搜索歌曲，歌手"), "");
  EXPECT_EQ(TSearchGate::Keyword("星光 ABC", ""), "星光 abc");
  TSearchGate gate;
  EXPECT_FALSE(gate.ShouldSearch("", 0));  // an empty box opens the page and searches nothing
  EXPECT_TRUE(gate.ShouldSearch("star", 1000));
  EXPECT_FALSE(gate.ShouldSearch("star", 2000));
  EXPECT_TRUE(gate.ShouldSearch("moon", 2100));  // other text: at once
  EXPECT_TRUE(gate.ShouldSearch("moon", 3600));  // the same after 1.5 s: again
}

TEST(PlayModes, LoopCyclesAndOrderToggles) {
  EXPECT_EQ(NextLoopMode(0), 1);
  EXPECT_EQ(NextLoopMode(1), 2);
  EXPECT_EQ(NextLoopMode(2), 0);
  EXPECT_EQ(NextOrderMode(0), 1);
  EXPECT_EQ(NextOrderMode(1), 0);
}

TEST(Texts, TitlesLabelsAndRotationByWholeCharacters) {
  EXPECT_EQ(PlayingTitle("星光", "MiniLirra"), " 星光 - MiniLirra ");
  EXPECT_EQ(PlayingInfo("星光", 5'000), "星光 [0:05]");
  EXPECT_EQ(RotateTitle("星光 A"), "光 A星");
  EXPECT_EQ(RotateTitle("ab"), "ba");
  EXPECT_EQ(RotateTitle(""), "");
  // A whole turn gives the text back: no character is ever cut.
  std::string t = " 星光 - 歌手 ";
  for (int i = 0; i < 9; ++i) t = RotateTitle(t);
  EXPECT_EQ(t, " 星光 - 歌手 ");
}

TEST(Hotkeys, LocalMatchesAndGlobalRegistrations) {
  std::array<THotKeyMap, HotKeyCount> keys{};
  keys[3].LocalKey = kShortcutCtrl + 'N';
  keys[7].LocalKey = kShortcutCtrl + 'N';  // a second row with the same shortcut: the first wins
  keys[5].GlobalKey = kShortcutCtrl + kShortcutAlt + 'M';
  EXPECT_EQ(MatchLocalHotkey(keys, kShortcutCtrl + 'N'), 3);
  EXPECT_EQ(MatchLocalHotkey(keys, 'N'), std::nullopt);
  EXPECT_EQ(MatchLocalHotkey(keys, 0), std::nullopt);  // rows without a shortcut never match
  const auto registered = GlobalHotkeys(keys);
  ASSERT_EQ(registered.size(), 5u);  // the media keys always, then action 5 only
  EXPECT_EQ(registered[0], (THotkeyRegistration{1001, 179}));
  EXPECT_EQ(registered[4], (THotkeyRegistration{5, 'M', false, true, true}));
  EXPECT_EQ(HotkeyAction(1001), 1);
  EXPECT_EQ(HotkeyAction(1004), 4);
  EXPECT_EQ(HotkeyAction(20), 20);
}

TEST(Placement, FullMiniAndRealign) {
  const TRect work{0, 0, 1280, 1000};
  const TPlacement full = FullPlacement(work, {}, {});
  EXPECT_EQ(full.Main, (TRect{310, 248, 640, 751}));
  EXPECT_EQ(full.Lyric, (TRect{640, 248, 970, 751}));
  const TRect saved{20, 30, 350, 533}, savedLyric{400, 30, 800, 300};
  EXPECT_EQ(FullPlacement(work, saved, savedLyric).Lyric, savedLyric);
  const TPlacement mini = MiniPlacement(work, 300, 26, 380, {});
  EXPECT_EQ(mini.Main, (TRect{300, 0, 600, 26}));
  EXPECT_EQ(mini.Lyric, (TRect{600, 0, 980, 26}));
  EXPECT_EQ(MiniPlacement(work, 300, 26, 380, TRect{5, 900, 305, 926}).Main, (TRect{5, 900, 305, 926}));
  EXPECT_EQ(RealignPlacement(work, false, 330, 503, 380).Main, full.Main);
}

TEST(Tints, TheTickedEntry) {
  EXPECT_EQ(TickedTint(0), kDefaultTint);
  EXPECT_EQ(TickedTint(MakeColor(29, 147, 221)), 1);
  EXPECT_EQ(TickedTint(MakeColor(1, 2, 3)), kCustomTint);
}

}  // namespace

// The suggestion list: typing asks (never for an empty box or its hint, nor with suggestions
// off), words show only after typing and while the box holds text, the arrows wrap and hand over
// the word, hovering selects, and the list sits under the box at the search button's right edge.
TEST(SuggestionList, AsksShowsMovesAndIsPlaced) {
  const std::string hint = "搜索歌曲，歌手";
  TSuggestionList list;
  EXPECT_FALSE(list.Edited("", hint));
  EXPECT_FALSE(list.Edited("  ", hint));
  EXPECT_FALSE(list.Edited(hint, hint));
  EXPECT_FALSE(list.Arrived("lu", {{"Luna", 4}})) << "words nobody typed for";

  const std::vector<TSuggestion> words{{"Luna Park", 4}, {"Lunar", 2}, {"Lune", 1}};
  EXPECT_TRUE(list.Edited("lu", hint));
  EXPECT_FALSE(list.Arrived("", words)) << "the box was emptied meanwhile";
  EXPECT_TRUE(list.Edited("lu", hint));
  EXPECT_FALSE(list.Arrived("lu", {})) << "no words: hidden";
  EXPECT_TRUE(list.Edited("lu", hint));
  ASSERT_TRUE(list.Arrived("lu", words));
  EXPECT_EQ(list.Words(), words);
  EXPECT_EQ(list.Selected(), -1);
  EXPECT_FALSE(list.Arrived("lu", words)) << "a second answer without typing hides";

  EXPECT_TRUE(list.Edited("lun", hint));
  ASSERT_TRUE(list.Arrived("lun", words));
  struct Step {
    int step;
    int selected;
  };
  for (const Step s : {Step{+1, 0}, Step{+1, 1}, Step{+1, 2}, Step{+1, 0}, Step{-1, 2}, Step{-1, 1}}) {
    const std::optional<std::string> word = list.Move(s.step);
    ASSERT_TRUE(word);
    EXPECT_EQ(list.Selected(), s.selected);
    EXPECT_EQ(*word, words[size_t(s.selected)].Word);
  }
  list.Hover(2);
  EXPECT_EQ(list.Selected(), 2);
  list.Hover(7);
  EXPECT_EQ(list.Selected(), -1);
  EXPECT_EQ(list.Move(-1), "Lune") << "from no selection, Up takes the last";

  list.SetEnabled(false);
  EXPECT_FALSE(list.Shown());
  EXPECT_FALSE(list.Move(1));
  EXPECT_FALSE(list.Edited("lun", hint)) << "suggestions off";
  list.SetEnabled(true);
  EXPECT_TRUE(list.Edited("lun", hint));
  list.Hide();
  EXPECT_FALSE(list.Arrived("lun", words)) << "hidden since the typing";

  // Box at x 20..180, y 40..60; the search button ends at x 230.
  EXPECT_EQ(TSuggestionList::Placement({20, 40, 180, 60}, {190, 38, 230, 62}, 18, 3), (TRect{30, 60, 230, 116}));
  EXPECT_EQ(TSuggestionList::Placement({20, 40, 180, 60}, {190, 38, 230, 62}, 18, 1).Height(), 20);
}
