#include "app/MainWindowRules.h"

#include "base/StrUtil.h"
#include "base/TimeText.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace ml {

namespace {

std::string BufferingText(double fraction, int dots) {
  char text[64];
  std::snprintf(text, sizeof text, "正在缓冲(%d%%)", int(std::clamp(fraction, 0.0, 1.0) * 100));
  return std::string(text) + std::string(size_t(dots), '.');
}

}  // namespace

void TOnlinePlayBuffer::Reset() { *this = TOnlinePlayBuffer(); }

TOnlinePlayBuffer::TAction TOnlinePlayBuffer::Tick(const TTick& t) {
  const double ahead = t.Size > 0 ? double(t.Downloaded) - t.PlayFraction * double(t.Size) : 0;
  TAction action = TAction::None;
  switch (state_) {
    case TState::Waiting:
      // A song smaller than the start amount starts when it is complete, not never.
      if (double(t.Downloaded) > kStartBytes || t.Complete) {
        state_ = TState::Playing;
        status_.clear();
        return TAction::StartPlayback;
      }
      ++ticks_;
      if (shown_ < 0.99) shown_ = std::max(shown_, double(t.Downloaded) / kStartBytes);
      status_ = BufferingText(shown_, (ticks_ % 13) / 2);
      break;
    case TState::Playing:
      if (!t.Complete && t.Size > 0 && ahead < kLowWaterBytes) {
        state_ = TState::Rebuffering;
        ticks_ = 0;
        pausedAt_ = t.Downloaded;
        status_ = BufferingText(0, 0);
        return TAction::Pause;
      }
      return TAction::None;
    case TState::Rebuffering:
      if (t.UserPaused) return TAction::None;
      if (t.Complete || ahead > kResumeBytes) {
        state_ = TState::Playing;
        status_.clear();
        return TAction::Resume;
      }
      ++ticks_;
      status_ = BufferingText(double(t.Downloaded - pausedAt_) / kResumeBytes, (ticks_ % 13) / 2);
      break;
  }
  if (ticks_ > kGiveUpTicks) {
    ticks_ = 0;
    action = TAction::SkipToNext;
  }
  return action;
}

bool SeekAllowed(bool downloading, int64_t size, double downloadedFraction, double target, bool playing) {
  if (downloading) return (downloadedFraction - target) * double(size) >= TOnlinePlayBuffer::kLowWaterBytes;
  return playing;
}

std::string TSearchGate::Keyword(std::string_view boxText, std::string_view hint) {
  const std::string text(Trim(boxText));
  if (text == Trim(hint)) return {};
  std::string lower = text;
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return c < 0x80 ? char(std::tolower(c)) : char(c); });
  return lower;
}

bool TSuggestionList::Edited(std::string_view text, std::string_view hint) {
  const std::string_view trimmed = Trim(text);
  if (!enabled_ || trimmed.empty() || trimmed == Trim(hint)) {
    Hide();
    return false;
  }
  typing_ = true;
  return true;
}

bool TSuggestionList::Arrived(std::string_view boxText, std::vector<TSuggestion> words) {
  if (Trim(boxText).empty() || words.empty() || !typing_ || !enabled_) {
    Hide();
    return false;
  }
  typing_ = false;
  words_ = std::move(words);
  selected_ = -1;
  shown_ = true;
  return true;
}

std::optional<std::string> TSuggestionList::Move(int step) {
  if (!shown_ || words_.empty()) return std::nullopt;
  const int n = int(words_.size());
  // From no selection, Down takes the first word and Up the last.
  selected_ = selected_ < 0 ? (step > 0 ? 0 : n - 1) : ((selected_ + step) % n + n) % n;
  return words_[size_t(selected_)].Word;
}

void TSuggestionList::Hover(int row) {
  if (shown_) selected_ = row >= 0 && row < int(words_.size()) ? row : -1;
}

void TSuggestionList::Hide() {
  shown_ = false;
  typing_ = false;
  selected_ = -1;
}

void TSuggestionList::SetEnabled(bool enabled) {
  enabled_ = enabled;
  if (!enabled) Hide();
}

TRect TSuggestionList::Placement(const TRect& box, const TRect& button, int itemHeight, size_t count) {
  const int32_t height = itemHeight * int32_t(count) + 2;
  return {button.Right - kWidth, box.Bottom, button.Right, box.Bottom + height};
}

bool TSearchGate::ShouldSearch(const std::string& keyword, int64_t nowMs) {
  if (keyword.empty()) return false;
  if (keyword == last_ && lastMs_ && nowMs - *lastMs_ < kRepeatMs) return false;
  last_ = keyword;
  lastMs_ = nowMs;
  return true;
}

int NextLoopMode(int mode) { return (std::clamp(mode, 0, 2) + 1) % 3; }
int NextOrderMode(int mode) { return mode == 0 ? 1 : 0; }

std::string PlayingTitle(std::string_view song, std::string_view appTitle) {
  return " " + std::string(song) + " - " + std::string(appTitle) + " ";
}

std::string PlayingInfo(std::string_view song, int64_t durationMs) {
  return std::string(song) + " [" + FormatTimeText(std::max<int64_t>(durationMs, 0) / 1000, true) + "]";
}

std::string RotateTitle(std::string_view title) {
  if (title.empty()) return {};
  // The first character's bytes: a lead byte and its continuation bytes (10xxxxxx).
  size_t n = 1;
  while (n < title.size() && (static_cast<unsigned char>(title[n]) & 0xC0) == 0x80) ++n;
  return std::string(title.substr(n)) + std::string(title.substr(0, n));
}

std::optional<int> MatchLocalHotkey(const std::array<THotKeyMap, HotKeyCount>& keys, int32_t shortcut) {
  if (shortcut == 0) return std::nullopt;
  for (size_t i = 0; i < keys.size(); ++i)
    if (keys[i].LocalKey == shortcut) return int(i);
  return std::nullopt;
}

std::vector<THotkeyRegistration> GlobalHotkeys(const std::array<THotKeyMap, HotKeyCount>& keys) {
  // The media keys' virtual codes: play/pause, previous, next, stop.
  std::vector<THotkeyRegistration> out{{1001, 179}, {1002, 177}, {1003, 176}, {1004, 178}};
  for (size_t i = 0; i < keys.size(); ++i) {
    const int32_t k = keys[i].GlobalKey;
    if (k == 0) continue;
    out.push_back({int(i), k & 0xFF, (k & kShortcutShift) != 0, (k & kShortcutCtrl) != 0, (k & kShortcutAlt) != 0});
  }
  return out;
}

int HotkeyAction(int id) { return id >= 1001 && id <= 1004 ? id - 1000 : id; }

namespace {

TRect Box(int left, int top, int width, int height) { return TRect{left, top, left + width, top + height}; }

}  // namespace

TPlacement FullPlacement(const TRect& work, const TRect& savedMain, const TRect& savedLyric) {
  if (!savedMain.IsEmpty()) return {savedMain, savedLyric.IsEmpty() ? Box(savedMain.Right, savedMain.Top, kLyricWidth, savedMain.Height()) : savedLyric};
  // The pair is centred: the main window left of the middle, the lyric window right of it.
  const int middle = work.Left + work.Width() / 2;
  const int top = work.Top + (work.Height() - kMainHeight) / 2;
  const TRect main = Box(middle - kMainWidth, top, kMainWidth, kMainHeight);
  return {main, Box(main.Right, top, kLyricWidth, kMainHeight)};
}

TPlacement MiniPlacement(const TRect& work, int mainWidth, int mainHeight, int miniLyricWidth, const TRect& savedMini) {
  TRect main;
  if (savedMini.IsEmpty())
    main = Box(work.Left + (work.Width() - mainWidth - miniLyricWidth) / 2, work.Top, mainWidth, mainHeight);
  else
    main = Box(savedMini.Left, savedMini.Top, mainWidth, mainHeight);
  return {main, Box(main.Right, main.Top, miniLyricWidth, mainHeight)};
}

TPlacement RealignPlacement(const TRect& work, bool miniMode, int mainWidth, int mainHeight, int miniLyricWidth) {
  return miniMode ? MiniPlacement(work, mainWidth, mainHeight, miniLyricWidth, {}) : FullPlacement(work, {}, {});
}

const std::array<TTintEntry, 6>& TintEntries() {
  static const std::array<TTintEntry, 6> entries{{{"红色", MakeColor(223, 0, 0)},
                                                  {"蓝色", MakeColor(29, 147, 221)},
                                                  {"黄色", MakeColor(236, 178, 23)},
                                                  {"紫色", MakeColor(134, 19, 188)},
                                                  {"橙色", MakeColor(245, 170, 110)},
                                                  {"绿色", MakeColor(5, 134, 153)}}};
  return entries;
}

int TickedTint(TColor adjustColor) {
  if (adjustColor == 0) return kDefaultTint;
  for (size_t i = 0; i < TintEntries().size(); ++i)
    if (TintEntries()[i].Color == adjustColor) return int(i);
  return kCustomTint;
}

}  // namespace ml
