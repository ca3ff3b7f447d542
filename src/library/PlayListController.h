#pragma once
// The playlist frame without its windows: which list is shown, which songs are selected, what
// plays and what plays next. The frame only draws what this says and forwards clicks to it;
// the main window does the playing through IPlayListHost.
#include "library/MusicFileMgr.h"

#include <functional>
#include <set>
#include <string>
#include <vector>

namespace ml {

enum TPlayOrder { poInOrder = 0, poRandom = 1 };
enum TPlayLoop { plLoopAll = 0, plSinglePlay = 1, plSingleRepeat = 2 };

// What the controller asks of the rest of the program.
class IPlayListHost {
public:
  virtual ~IPlayListHost() = default;
  virtual void PlayEntryRequested(TShareFileInfo* entry) = 0;  // hand the song to the player
  virtual void StopRequested() = 0;                             // press Stop
  // The transfer manager drops its download of this song and its temporary file.
  virtual void CancelDownload(const TMD5Digest& /*digest*/) {}
  // "是否确定从硬盘上删除选的%d个文件?" — only a yes deletes anything.
  virtual bool ConfirmDeleteFiles(int count) = 0;
};

// The settings the controller starts from and hands back at the end.
struct TPlayListSettings {
  int ActivePlayList = 0;
  int ActivePlayIndex = 0;
  int PlayListLoopType = 0;
  int PlayListOrderType = 0;
  bool DisableDelFile = false;
  bool EnablePlaylistDrag = true;
};

struct TFindOptions {
  std::string Title, Artist, Album;  // an empty pattern matches everything
  bool MatchCase = false;
  bool WholeText = false;
  bool Backwards = false;
};

class TPlayListController {
public:
  TPlayListController(TMusicFileMgr& mgr, IPlayListHost& host, const TPlayListSettings& settings,
                      uint32_t randomSeed = 0 /* 0: from the clock */);
  ~TPlayListController();

  // ---- the shown list (right-hand box) ----
  TPlayList* ShownList() const { return shown_; }
  const std::vector<TShareFileInfo*>& Songs() const { return box_; }
  // The file of the song in row i as the library has it now (the hashing thread may move a
  // merged song); empty for a row out of range or a song without a file yet.
  std::string FileOf(size_t i) const;
  const std::set<size_t>& Selection() const { return selected_; }
  void Select(const std::set<size_t>& indexes);
  void SelectAll();
  void DeselectAll() { selected_.clear(); }
  TShareFileInfo* SelectedEntry() const;
  void ShowList(int index);

  // ---- adding ----
  // Adds files to the shown list, one result per path tried; progress(index, path) returning
  // false stops the adding.
  std::vector<TAddResult> AddFiles(const std::vector<std::string>& paths,
                                   const std::function<bool(size_t, const std::string&)>& progress = {});
  TAddResult AddFile(const std::string& path, bool playNow);
  void AddEntry(TShareFileInfo* entry, bool playNow);
  TShareFileInfo* AddSearchResult(const std::string& caption, const TMD5Digest& digest, bool playNow);
  // Adopts a programme list from the service, shows it and (with play) plays it.
  TPlayList* ShowProgrammeList(TProgrammeList list, bool play);

  // ---- playing ----
  void PlayEntry(TPlayList* list, TShareFileInfo* entry);
  void PlaySelected();
  TShareFileInfo* NextEntry(bool automatic);
  TShareFileInfo* PreviousEntry(bool automatic);
  void StopPlaying();
  TPlayList* PlayingList() const { return playing_; }
  TShareFileInfo* CurrentEntry() const { return current_; }
  TShareFileInfo* ResumeEntry() const { return resume_; }
  void ClearResumeEntry() { resume_ = nullptr; }
  void SetOrderMode(int mode);
  void SetLoopMode(int mode);
  int OrderMode() const { return order_; }
  int LoopMode() const { return loop_; }
  // Player state 1 (playing) with its duration, 4 (media information ready) with the record.
  void PlayerStateChanged(int state, int32_t durationMs, const TMediaInfo* info);
  std::function<void()> OnModeChanged;

  // ---- editing songs ----
  void MoveSelectedTo(size_t target);
  void MoveUp();
  void MoveDown();
  void MoveTop();
  void MoveBottom();
  // Removes the selected songs; fromDisk also deletes their files (after the host confirms).
  // Returns false when nothing was done.
  bool RemoveSelected(bool fromDisk);
  void ClearList();
  void RenameSong(size_t index, const std::string& caption);
  // Songs dragged onto another list: appended there, and moved out of the shown list unless copy.
  void DropSelectedOnList(int listIndex, bool copy);

  // ---- editing lists (left-hand box) ----
  const std::vector<std::unique_ptr<TPlayList>>& Lists() const { return mgr_.PlayLists(); }
  int ShownListIndex() const { return mgr_.IndexOfPlayList(shown_); }
  // Where the playing list stands among the lists; -1 when none plays or it is not one of them.
  int PlayingListIndex() const { return playing_ ? mgr_.IndexOfPlayList(playing_) : -1; }
  TPlayList* NewList();
  void RenameList(int index, const std::string& name);
  bool DeleteList(int index);  // never the last list
  void MoveListTo(int selectedIndex, int target);

  // ---- finding ----
  // The next song matching every given pattern; selects it. -1 when none (the start resets).
  int FindNext(const TFindOptions& options);
  // Selects every song matching any given pattern; returns how many indexes were collected.
  int MarkAll(const TFindOptions& options);
  // Selects every song whose caption contains text (case-sensitive); empty text changes nothing.
  void QuickFind(const std::string& text);

  // ---- the list kept on the service ----
  // Only the first list travels, and only while it is shown and has songs.
  bool CanUpload() const { return ShownListIndex() == 0 && !box_.empty(); }
  // The first list's songs as the service keeps them (the shown order stored first); empty when
  // there is nothing to send.
  std::string UploadBody();
  // A downloaded body replaces the songs of list index; when that list plays, its current song
  // is forgotten (the song heard plays on). False when the index is no list.
  bool ReplaceListSongs(int index, std::string_view body);

  // What the settings keep at exit.
  TPlayListSettings SettingsToSave() const;

private:
  bool IsManaged(const TPlayList* list) const;
  void StoreShownOrder();
  void StoreOrderInto(TPlayList* list, const std::vector<TShareFileInfo*>& items);
  void FillBox();
  void RebuildShuffle();
  const std::vector<TShareFileInfo*>& Order() const;
  size_t AppendToShown(TShareFileInfo* entry);
  void OnDuplicateFound(TShareFileInfo* removed, TShareFileInfo* kept);
  void OnEntryRemoved(TShareFileInfo* entry);
  bool Matches(const TShareFileInfo& e, const TFindOptions& o, int which) const;

  TMusicFileMgr& mgr_;
  IPlayListHost& host_;
  TPlayListSettings settings_;
  TPlayList* shown_ = nullptr;
  std::vector<TShareFileInfo*> box_;
  std::set<size_t> selected_;
  TPlayList* playing_ = nullptr;
  TShareFileInfo* current_ = nullptr;
  TShareFileInfo* resume_ = nullptr;
  int order_ = poInOrder;
  int loop_ = plLoopAll;
  std::vector<TShareFileInfo*> shuffled_;
  std::vector<std::pair<TShareFileInfo*, TShareFileInfo*>> mergePairs_;
  bool dirty_ = false;
  int findStart_ = 0;
  uint32_t seed_;
};

}  // namespace ml
