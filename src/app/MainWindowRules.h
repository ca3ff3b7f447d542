#pragma once
// The main window's rules that need no window: when a song still arriving may start, pause and
// go on; whether a seek is allowed; when a search is sent; the search box's suggestion list; how
// the play modes cycle; the texts of the title and the labels; which hotkeys match and which are
// registered; where the windows go; which colour entry is ticked. The window (Qt) is a thin view
// that asks these.
#include "app/uSettingMgr.h"
#include "base/ColorText.h"
#include "base/Rect.h"
#include "online/KeywordSuggest.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ml {

// Playing a song while it downloads, one 100 ms tick at a time.
class TOnlinePlayBuffer {
public:
  // Bytes that must have arrived before a song starts, and that must stay ahead of the play
  // position (below this it pauses); after a pause it goes on with this much ahead again.
  static constexpr double kStartBytes = 131072.0 * 4 / 3;
  static constexpr double kLowWaterBytes = 131072.0 / 3;
  static constexpr double kResumeBytes = 131072.0;
  // Ticks of waiting (20 s) after which the next song is played instead.
  static constexpr int kGiveUpTicks = 200;

  enum class TState { Waiting = 0, Playing = 1, Rebuffering = 3 };
  enum class TAction { None, StartPlayback, Pause, Resume, SkipToNext };

  struct TTick {
    int64_t Downloaded = 0;   // bytes of the song on disk
    int64_t Size = 0;         // the song's size; 0 while unknown
    bool Complete = false;    // the download has finished (verified)
    double PlayFraction = 0;  // the play position as a fraction of the song
    bool UserPaused = false;
  };

  // A new song: waiting for its first bytes.
  void Reset();
  TAction Tick(const TTick& t);
  TState State() const { return state_; }
  // "正在缓冲(N%)" and its dots while waiting or re-buffering; empty while playing.
  const std::string& Status() const { return status_; }

private:
  TState state_ = TState::Waiting;
  int ticks_ = 0;
  double shown_ = 0;  // the waiting fraction shown, never decreasing
  int64_t pausedAt_ = 0;
  std::string status_;
};

// Whether the user may seek to `target` (0..1): in a song still downloading, only when enough of
// it has arrived beyond the target; otherwise only while playing.
bool SeekAllowed(bool downloading, int64_t size, double downloadedFraction, double target, bool playing);

// The search box: the text as searched (trimmed, lower case; the box's hint counts as empty), and
// whether a search goes out now. The same text again within 1.5 s is sent once.
class TSearchGate {
public:
  static constexpr int64_t kRepeatMs = 1500;
  static std::string Keyword(std::string_view boxText, std::string_view hint);
  // True when `keyword` should be searched at nowMs (and remembers it).
  bool ShouldSearch(const std::string& keyword, int64_t nowMs);

private:
  std::string last_;
  std::optional<int64_t> lastMs_;
};

// The suggestion list under the search box: when the service is asked, what the list holds and
// when it shows, the selection the arrow keys move, and where it goes.
class TSuggestionList {
public:
  static constexpr int kWidth = 200;

  // The user typed: true when the service should be asked for text. Empty text, the box's hint,
  // or suggestions turned off hide the list instead.
  bool Edited(std::string_view text, std::string_view hint);
  // Words arrived while the box holds boxText: they show when the user has typed since the last
  // list and the box is not empty; otherwise the list hides. True when it shows.
  bool Arrived(std::string_view boxText, std::vector<TSuggestion> words);
  // Up (-1) or Down (+1) in the box: the selection moves, wrapping at both ends, and its word
  // goes into the box. Nothing while the list is hidden.
  std::optional<std::string> Move(int step);
  // The pointer is over row (hover selects); -1 for none.
  void Hover(int row);
  void Hide();
  void SetEnabled(bool enabled);

  bool Shown() const { return shown_; }
  const std::vector<TSuggestion>& Words() const { return words_; }
  int Selected() const { return selected_; }
  // The list's place on the screen: kWidth wide, one itemHeight per word and a 1-pixel frame,
  // its right edge at the search button's, its top at the box's bottom.
  static TRect Placement(const TRect& box, const TRect& button, int itemHeight, size_t count);

private:
  bool enabled_ = true;
  bool typing_ = false;  // typed since the list last showed
  bool shown_ = false;
  std::vector<TSuggestion> words_;
  int selected_ = -1;
};

// Loop modes 0 loop all, 1 play one song, 2 repeat one: a click on the shown button moves to the
// next. Order modes 0 sequential, 1 random: a click toggles.
int NextLoopMode(int mode);
int NextOrderMode(int mode);

// The title while playing: " TITLE - APP ".
std::string PlayingTitle(std::string_view song, std::string_view appTitle);
// The information label while playing: "TITLE [m:ss]" (FormatTimeText's short form).
std::string PlayingInfo(std::string_view song, int64_t durationMs);
// The scrolling title: its first character (a whole UTF-8 character, never a byte of one) moved
// to the end.
std::string RotateTitle(std::string_view title);

// Hotkeys. Actions are numbered as the key map's rows; the media keys act as 1001..1004.
inline constexpr int kShortcutShift = 8192, kShortcutCtrl = 16384, kShortcutAlt = 32768;
// The first action whose local shortcut is `shortcut` (virtual key + modifier bits), or none.
std::optional<int> MatchLocalHotkey(const std::array<THotKeyMap, HotKeyCount>& keys, int32_t shortcut);
struct THotkeyRegistration {
  int Id = 0;
  int VirtualKey = 0;
  bool Shift = false, Ctrl = false, Alt = false;
  bool operator==(const THotkeyRegistration&) const = default;
};
// What is registered with the desktop when global hotkeys are on: the four media keys always,
// and each action with a global value.
std::vector<THotkeyRegistration> GlobalHotkeys(const std::array<THotKeyMap, HotKeyCount>& keys);
// The action a registered hotkey runs (1001 plays or pauses like 1, 1002..1004 like 2..4).
int HotkeyAction(int id);

// Window placement on a screen's work area.
struct TPlacement {
  TRect Main, Lyric;
};
inline constexpr int kMainWidth = 330, kMainHeight = 503, kLyricWidth = 330;
// Full mode: the saved rectangles, or the main window centred left of the screen's middle with
// the lyric window at its right, as high as it.
TPlacement FullPlacement(const TRect& work, const TRect& savedMain, const TRect& savedLyric);
// Mini mode: the mini lyric window (miniLyricWidth wide) right of the main window, as high as it;
// the pair centred at the top, or the main window at its saved place.
TPlacement MiniPlacement(const TRect& work, int mainWidth, int mainHeight, int miniLyricWidth,
                         const TRect& savedMini);
// The realign command: the saved places forgotten.
TPlacement RealignPlacement(const TRect& work, bool miniMode, int mainWidth, int mainHeight, int miniLyricWidth);

// The colour menu's six tints, and which entry shows ticked for a stored tint: an index, or
// kDefaultTint (0, no tint) or kCustomTint (a tint none of them is).
struct TTintEntry {
  const char* Caption;
  TColor Color;
};
const std::array<TTintEntry, 6>& TintEntries();
inline constexpr int kDefaultTint = -1, kCustomTint = -2;
int TickedTint(TColor adjustColor);

}  // namespace ml
