#include "library/PlayListController.h"

#include "base/DebugTrace.h"
#include "base/FileUtil.h"
#include "base/StrUtil.h"
#include "media/uTagInfo.h"

#include <algorithm>
#include <chrono>
#include <random>
#include <unistd.h>

namespace ml {
namespace {

template <typename C>
long IndexOf(const C& items, const TShareFileInfo* e) {
  auto it = std::find(items.begin(), items.end(), e);
  return it == items.end() ? -1 : static_cast<long>(it - items.begin());
}

std::string UpperAscii(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return out;
}

}  // namespace

TPlayListController::TPlayListController(TMusicFileMgr& mgr, IPlayListHost& host, const TPlayListSettings& settings,
                                         uint32_t randomSeed)
    : mgr_(mgr), host_(host), settings_(settings), order_(settings.PlayListOrderType == poRandom ? poRandom : poInOrder),
      loop_(std::clamp(settings.PlayListLoopType, 0, 2)),
      seed_(randomSeed ? randomSeed
                       : static_cast<uint32_t>(std::chrono::steady_clock::now().time_since_epoch().count())) {
  if (mgr_.PlayLists().empty()) mgr_.NewPlayList("[默认]");
  int active = settings.ActivePlayList;
  ShowList(active >= 0 && active < static_cast<int>(mgr_.PlayLists().size()) ? active : 0);
  mgr_.SetOnEntryRemoved([this](TShareFileInfo* e) { OnEntryRemoved(e); });
  mgr_.SetOnDuplicateFound([this](TShareFileInfo* removed, TShareFileInfo* kept) { OnDuplicateFound(removed, kept); });
}

TPlayListController::~TPlayListController() {
  mgr_.SetOnDuplicateFound(nullptr);
  mgr_.SetOnEntryRemoved(nullptr);
  StoreShownOrder();
}

bool TPlayListController::IsManaged(const TPlayList* list) const { return list && mgr_.IndexOfPlayList(list) >= 0; }

// ---- the shown list ------------------------------------------------------------------------

void TPlayListController::Select(const std::set<size_t>& indexes) {
  selected_.clear();
  for (size_t i : indexes)
    if (i < box_.size()) selected_.insert(i);
}

void TPlayListController::SelectAll() {
  selected_.clear();
  for (size_t i = 0; i < box_.size(); ++i) selected_.insert(i);
}

std::string TPlayListController::FileOf(size_t i) const {
  return i < box_.size() ? mgr_.Snapshot(box_[i]).FileName : std::string();
}

TShareFileInfo* TPlayListController::SelectedEntry() const {
  return selected_.empty() ? nullptr : box_[*selected_.begin()];
}

void TPlayListController::ShowList(int index) {
  if (index < 0 || index >= static_cast<int>(mgr_.PlayLists().size())) return;
  if (IsManaged(shown_) && dirty_) StoreShownOrder();
  shown_ = mgr_.PlayLists()[static_cast<size_t>(index)].get();
  settings_.ActivePlayList = index;
  FillBox();
  dirty_ = false;
}

void TPlayListController::FillBox() {
  box_ = shown_ ? shown_->Items : std::vector<TShareFileInfo*>{};
  selected_.clear();
}

void TPlayListController::StoreOrderInto(TPlayList* list, const std::vector<TShareFileInfo*>& items) {
  if (!IsManaged(list)) return;
  list->Items.clear();
  for (TShareFileInfo* e : items) {
    TShareFileInfo* put = e;
    for (auto& [removed, kept] : mergePairs_)
      if (removed == e) put = IndexOf(items, kept) >= 0 ? nullptr : kept;
    if (put) list->Items.push_back(put);
  }
  mgr_.Changed();
}

void TPlayListController::StoreShownOrder() { StoreOrderInto(shown_, box_); }

// ---- adding -----------------------------------------------------------------------------------

size_t TPlayListController::AppendToShown(TShareFileInfo* entry) {
  long at = IndexOf(box_, entry);
  if (at < 0) {
    box_.push_back(entry);
    at = static_cast<long>(box_.size() - 1);
    if (shown_ == playing_) shuffled_.push_back(entry);
    dirty_ = true;
  }
  selected_.insert(static_cast<size_t>(at));
  return static_cast<size_t>(at);
}

std::vector<TAddResult> TPlayListController::AddFiles(const std::vector<std::string>& paths,
                                                      const std::function<bool(size_t, const std::string&)>& progress) {
  DeselectAll();
  std::vector<TAddResult> results;
  for (size_t i = 0; i < paths.size(); ++i) {
    if (progress && !progress(i, paths[i])) break;
    results.push_back(mgr_.AddFile(paths[i]));
    if (results.back().Entry) AppendToShown(results.back().Entry);
  }
  StoreShownOrder();
  return results;
}

TAddResult TPlayListController::AddFile(const std::string& path, bool playNow) {
  TAddResult r = mgr_.AddFile(path);
  if (r.Entry) AddEntry(r.Entry, playNow);
  return r;
}

void TPlayListController::AddEntry(TShareFileInfo* entry, bool playNow) {
  DeselectAll();
  AppendToShown(entry);
  StoreShownOrder();
  if (!playNow) return;
  // Songs appended and played at once: come back to the song that was playing when the last
  // of them ends. The first song remembered stays remembered for a run of such additions.
  if (shown_ == playing_ && !resume_) resume_ = current_;
  PlayEntry(shown_, entry);
}

TShareFileInfo* TPlayListController::AddSearchResult(const std::string& caption, const TMD5Digest& digest,
                                                     bool playNow) {
  TShareFileInfo* e = mgr_.AddFromSearchResult(caption, digest);
  AddEntry(e, playNow);
  return e;
}

TPlayList* TPlayListController::ShowProgrammeList(TProgrammeList list, bool play) {
  TPlayList* adopted = mgr_.AddProgrammeList(std::move(list));
  ShowList(mgr_.IndexOfPlayList(adopted));
  if (play && adopted != playing_) PlayEntry(adopted, nullptr);
  return adopted;
}

// ---- playing ----------------------------------------------------------------------------------

void TPlayListController::RebuildShuffle() {
  shuffled_ = playing_ ? playing_->Items : std::vector<TShareFileInfo*>{};
  // Fisher-Yates: every order equally likely (swapping each place with any place is not).
  std::mt19937 rng(seed_++);
  std::shuffle(shuffled_.begin(), shuffled_.end(), rng);
}

const std::vector<TShareFileInfo*>& TPlayListController::Order() const {
  return order_ == poRandom ? shuffled_ : playing_->Items;
}

void TPlayListController::PlayEntry(TPlayList* list, TShareFileInfo* entry) {
  if (!list) return;
  host_.StopRequested();
  TPlayList* previous = playing_;
  playing_ = list;
  if (playing_ != previous) {
    if (playing_ == shown_) StoreShownOrder();
    dirty_ = false;
    RebuildShuffle();
  } else if (dirty_) {
    dirty_ = false;
    StoreShownOrder();
    RebuildShuffle();
  }
  if (!entry) entry = NextEntry(true);
  if (!entry) {
    playing_ = nullptr;
    current_ = nullptr;
    host_.StopRequested();
    return;
  }
  current_ = entry;
  if (entry == resume_) resume_ = nullptr;
  host_.PlayEntryRequested(entry);
}

void TPlayListController::PlaySelected() {
  if (TShareFileInfo* e = SelectedEntry()) {
    resume_ = nullptr;
    PlayEntry(shown_, e);
  }
}

TShareFileInfo* TPlayListController::NextEntry(bool automatic) {
  if (!playing_ || playing_->Items.empty()) return nullptr;
  const auto& ord = Order();
  const long n = static_cast<long>(ord.size());
  if (n == 0) return nullptr;
  TShareFileInfo* cand = nullptr;
  long pos = 0;
  if (!current_) {
    cand = ord[0];
  } else if (loop_ == plSingleRepeat && automatic) {
    cand = current_;
    pos = IndexOf(ord, current_);
  } else {
    const long a = IndexOf(ord, current_);
    if (resume_ && a == n - 1) {
      long r = IndexOf(ord, resume_);
      if (r >= 0) {
        cand = resume_;
        pos = r;
      } else {
        resume_ = nullptr;
      }
    }
    if (!cand) {
      if (a < n - 1 || loop_ == plLoopAll || !automatic) {
        pos = (a + 1) % n;
        cand = ord[static_cast<size_t>(pos)];
      } else {
        return nullptr;
      }
    }
  }
  if (cand->LackSource && loop_ != plSingleRepeat && pos >= 0) {
    // Songs the service found no source for are stepped over.
    TShareFileInfo* taken = nullptr;
    for (long p = pos;;) {
      if (p == n - 1 && loop_ != plLoopAll) return nullptr;
      p = (p + 1) % n;
      if (!ord[static_cast<size_t>(p)]->LackSource) {
        taken = ord[static_cast<size_t>(p)];
        break;
      }
      if (p == pos) break;
    }
    cand = taken;
  }
  return cand;
}

TShareFileInfo* TPlayListController::PreviousEntry(bool automatic) {
  if (!playing_ || playing_->Items.empty()) return nullptr;
  const auto& ord = Order();
  const long n = static_cast<long>(ord.size());
  if (n == 0) return nullptr;
  if (!current_) return ord[0];
  if (loop_ == plSingleRepeat && automatic) return current_;
  const long a = IndexOf(ord, current_);
  if (!(a > 0 || loop_ == plLoopAll || !automatic)) return nullptr;
  const long pos = ((a + n - 1) % n + n) % n;
  TShareFileInfo* cand = ord[static_cast<size_t>(pos)];
  if (cand->LackSource && loop_ != plSingleRepeat) {
    TShareFileInfo* taken = nullptr;
    for (long p = pos; p > 0 || loop_ == plLoopAll;) {
      p = (p - 1 + n) % n;
      if (!ord[static_cast<size_t>(p)]->LackSource) {
        taken = ord[static_cast<size_t>(p)];
        break;
      }
      if (p == pos) break;
    }
    cand = taken;
  }
  return cand;
}

void TPlayListController::StopPlaying() {
  playing_ = nullptr;
  current_ = nullptr;
  host_.StopRequested();
}

void TPlayListController::SetOrderMode(int mode) {
  order_ = mode == poRandom ? poRandom : poInOrder;
  if (order_ == poRandom && playing_) RebuildShuffle();
  if (OnModeChanged) OnModeChanged();
}

void TPlayListController::SetLoopMode(int mode) {
  loop_ = std::clamp(mode, 0, 2);
  if (OnModeChanged) OnModeChanged();
}

void TPlayListController::PlayerStateChanged(int state, int32_t durationMs, const TMediaInfo* info) {
  if (!current_) return;
  if (state == 1) mgr_.SetDuration(current_, durationMs);
  if (state == 4 && info) mgr_.UpdateFromMediaInfo(current_, *info);
}

// ---- editing songs ------------------------------------------------------------------------------

void TPlayListController::MoveSelectedTo(size_t target) {
  if (selected_.empty()) return;
  std::vector<TShareFileInfo*> moving;
  for (auto it = selected_.rbegin(); it != selected_.rend(); ++it) {
    if (*it < target) --target;
    moving.insert(moving.begin(), box_[*it]);
    box_.erase(box_.begin() + static_cast<ptrdiff_t>(*it));
  }
  selected_.clear();
  target = std::min(target, box_.size());
  box_.insert(box_.begin() + static_cast<ptrdiff_t>(target), moving.begin(), moving.end());
  for (size_t i = 0; i < moving.size(); ++i) selected_.insert(target + i);
  dirty_ = true;
  StoreShownOrder();
}

void TPlayListController::MoveUp() {
  if (selected_.size() == 1 && *selected_.begin() > 0) MoveSelectedTo(*selected_.begin() - 1);
}

void TPlayListController::MoveDown() {
  if (selected_.size() == 1 && *selected_.begin() + 1 < box_.size()) MoveSelectedTo(*selected_.begin() + 2);
}

void TPlayListController::MoveTop() { MoveSelectedTo(0); }

void TPlayListController::MoveBottom() { MoveSelectedTo(box_.size()); }

bool TPlayListController::RemoveSelected(bool fromDisk) {
  if (selected_.empty() || (fromDisk && settings_.DisableDelFile)) return false;
  if (fromDisk && !host_.ConfirmDeleteFiles(static_cast<int>(selected_.size()))) return false;
  const size_t highest = *selected_.rbegin();
  const size_t removedCount = selected_.size();
  for (auto it = selected_.rbegin(); it != selected_.rend(); ++it) {
    TShareFileInfo* e = box_[*it];
    if (e == current_) host_.StopRequested();
    box_.erase(box_.begin() + static_cast<ptrdiff_t>(*it));
    if (shown_ == playing_) {
      std::erase(shuffled_, e);
      if (e == current_) current_ = nullptr;
    }
    const TShareFileInfo snap = mgr_.Snapshot(e);
    const bool fileThere = FileExists(snap.FileName);
    if ((fromDisk || !fileThere) && !LRMD5::MD5DigestIsZero(snap.FileHash)) host_.CancelDownload(snap.FileHash);
    if (fromDisk) {
      // The song leaves the library only once its file is really gone.
      if (fileThere && ::unlink(snap.FileName.c_str()) != 0) {
        DebugTrace("playlist: cannot delete %s", snap.FileName.c_str());
        continue;
      }
      mgr_.RemoveEntry(e);
    }
  }
  selected_.clear();
  if (fromDisk) mgr_.PurgeRemoved();
  dirty_ = true;
  StoreShownOrder();
  if (!box_.empty()) selected_.insert(std::min(highest - removedCount + 1, box_.size() - 1));
  return true;
}

void TPlayListController::ClearList() {
  box_.clear();
  selected_.clear();
  if (shown_ == playing_) shuffled_.clear();
  dirty_ = true;
  StoreShownOrder();
}

void TPlayListController::RenameSong(size_t index, const std::string& caption) {
  if (index < box_.size()) mgr_.SetCaption(box_[index], caption);
}

void TPlayListController::DropSelectedOnList(int listIndex, bool copy) {
  if (listIndex < 0 || listIndex >= static_cast<int>(mgr_.PlayLists().size())) return;
  TPlayList* target = mgr_.PlayLists()[static_cast<size_t>(listIndex)].get();
  if (target == shown_ || selected_.empty()) return;
  for (auto it = selected_.rbegin(); it != selected_.rend(); ++it) {
    TShareFileInfo* e = box_[*it];
    if (IndexOf(target->Items, e) < 0) target->Items.push_back(e);
    if (!copy) {
      box_.erase(box_.begin() + static_cast<ptrdiff_t>(*it));
      if (shown_ == playing_) std::erase(shuffled_, e);
    }
  }
  selected_.clear();
  TPlayList* source = shown_;
  if (!copy) {
    dirty_ = true;
    StoreShownOrder();
  }
  ShowList(listIndex);
  if (source == playing_ && current_ && IndexOf(source->Items, current_) < 0) {
    playing_ = target;
    RebuildShuffle();
  }
}

// ---- editing lists --------------------------------------------------------------------------------

TPlayList* TPlayListController::NewList() {
  TPlayList* list = mgr_.NewPlayList("列表" + std::to_string(mgr_.PlayLists().size() + 1));
  ShowList(mgr_.IndexOfPlayList(list));
  return list;
}

void TPlayListController::RenameList(int index, const std::string& name) {
  if (index < 0 || index >= static_cast<int>(mgr_.PlayLists().size()) || name.empty()) return;
  mgr_.PlayLists()[static_cast<size_t>(index)]->Name = CleanText(name);
  mgr_.Changed();
}

bool TPlayListController::DeleteList(int index) {
  const int count = static_cast<int>(mgr_.PlayLists().size());
  if (index < 0 || index >= count || count < 2) return false;
  TPlayList* list = mgr_.PlayLists()[static_cast<size_t>(index)].get();
  // A list that is being played must not be referenced once it is gone.
  if (list == playing_) StopPlaying();
  if (list == shown_) {
    shown_ = nullptr;
    dirty_ = false;
  }
  mgr_.DeletePlayList(list);
  ShowList(0);
  return true;
}

void TPlayListController::MoveListTo(int selectedIndex, int target) {
  const int count = static_cast<int>(mgr_.PlayLists().size());
  if (selectedIndex < 0 || selectedIndex >= count) return;
  target = std::clamp(target, 0, count);
  if (target == selectedIndex || target == selectedIndex + 1) return;
  if (selectedIndex < target) --target;
  mgr_.MovePlayList(static_cast<size_t>(selectedIndex), static_cast<size_t>(target));
  settings_.ActivePlayList = mgr_.IndexOfPlayList(shown_);
}

// ---- the list kept on the service ---------------------------------------------------------------

std::string TPlayListController::UploadBody() {
  StoreShownOrder();
  if (mgr_.PlayLists().empty() || mgr_.PlayLists().front()->Items.empty()) return {};
  return mgr_.BuildPayload(*mgr_.PlayLists().front());
}

bool TPlayListController::ReplaceListSongs(int index, std::string_view body) {
  if (index < 0 || index >= static_cast<int>(mgr_.PlayLists().size())) return false;
  TPlayList* list = mgr_.PlayLists()[static_cast<size_t>(index)].get();
  if (list == playing_) {
    current_ = nullptr;
    shuffled_.clear();
  }
  list->Items.clear();
  for (const TDownPlayListInfo& song : TMusicFileMgr::ParsePayload(body))
    if (TShareFileInfo* e = mgr_.AddFromPlayListInfo(song)) list->Items.push_back(e);
  if (list == playing_) RebuildShuffle();
  if (list == shown_) {
    FillBox();
    dirty_ = false;
  }
  mgr_.Changed();
  return true;
}

// ---- finding ----------------------------------------------------------------------------------------

bool TPlayListController::Matches(const TShareFileInfo& e, const TFindOptions& o, int which) const {
  const std::string* pattern[] = {&o.Title, &o.Artist, &o.Album};
  const std::string* value[] = {&e.Caption, &e.Artist, &e.Album};
  std::string p(Trim(*pattern[which])), v(Trim(*value[which]));
  if (p.empty()) return true;
  if (v.empty()) return false;
  if (!o.MatchCase) {
    p = UpperAscii(p);
    v = UpperAscii(v);
  }
  return o.WholeText ? v == p : v.find(p) != std::string::npos;
}

int TPlayListController::FindNext(const TFindOptions& o) {
  DeselectAll();
  if (Trim(o.Title).empty() && Trim(o.Artist).empty() && Trim(o.Album).empty()) return -1;
  const int count = static_cast<int>(box_.size());
  auto all = [&](int i) {
    TShareFileInfo e = mgr_.Snapshot(box_[static_cast<size_t>(i)]);
    return Matches(e, o, 0) && Matches(e, o, 1) && Matches(e, o, 2);
  };
  if (!o.Backwards) {
    if (findStart_ >= count) findStart_ = 0;
    for (int i = findStart_; i < count; ++i)
      if (all(i)) {
        findStart_ = i + 1;
        selected_.insert(static_cast<size_t>(i));
        return i;
      }
  } else {
    for (int i = (findStart_ == 0 ? count : findStart_) - 1; i >= 0; --i)
      if (all(i)) {
        findStart_ = i;
        selected_.insert(static_cast<size_t>(i));
        return i;
      }
  }
  findStart_ = 0;  // no wrap-around: the next search starts again from the top
  return -1;
}

int TPlayListController::MarkAll(const TFindOptions& o) {
  DeselectAll();
  for (int which = 0; which < 3; ++which) {
    const std::string* pattern[] = {&o.Title, &o.Artist, &o.Album};
    if (Trim(*pattern[which]).empty()) continue;
    for (size_t i = 0; i < box_.size(); ++i)
      if (Matches(mgr_.Snapshot(box_[i]), o, which)) selected_.insert(i);
  }
  // A song that matches two patterns is one song found, not two.
  return static_cast<int>(selected_.size());
}

void TPlayListController::QuickFind(const std::string& text) {
  if (text.empty()) return;
  selected_.clear();
  for (size_t i = 0; i < box_.size(); ++i)
    if (mgr_.Snapshot(box_[i]).Caption.find(text) != std::string::npos) selected_.insert(i);
}

// ---- library events -----------------------------------------------------------------------------------

void TPlayListController::OnDuplicateFound(TShareFileInfo* removed, TShareFileInfo* kept) {
  mergePairs_.emplace_back(removed, kept);
  if (removed == current_) current_ = kept;
  if (resume_ == removed) resume_ = kept;
  const bool inBox = IndexOf(box_, removed) >= 0;
  if (inBox && dirty_) StoreShownOrder();
  mgr_.ReplaceInPlayLists(removed, kept);
  // The kept song takes the removed one's place in the shuffled order, once.
  bool seen = false;
  std::erase_if(shuffled_, [&](TShareFileInfo*& e) {
    if (e == removed) e = kept;
    if (e != kept) return false;
    if (seen) return true;
    seen = true;
    return false;
  });
  if (inBox) {
    FillBox();
    dirty_ = false;
  }
}

void TPlayListController::OnEntryRemoved(TShareFileInfo* entry) {
  if (entry == current_) StopPlaying();
}

TPlayListSettings TPlayListController::SettingsToSave() const {
  TPlayListSettings s = settings_;
  s.PlayListLoopType = loop_;
  s.PlayListOrderType = order_;
  s.ActivePlayList = std::max(0, mgr_.IndexOfPlayList(shown_));
  s.ActivePlayIndex = playing_ ? static_cast<int>(IndexOf(playing_->Items, current_)) : -1;
  return s;
}

}  // namespace ml
