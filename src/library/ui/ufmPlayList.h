#pragma once
// The playlist frame: the list of playlists at the left (collapsible behind its splitter) and the
// songs of the shown one at the right, or the empty-list tip in their place; renaming in place,
// drags between and within the boxes, the song menu, the find and quick-find dialogs, and the
// upload and download of the first list. What happens to the lists is decided by
// TPlayListController; this draws its state and hands it the clicks.
#include "library/PlayListController.h"
#include "library/PlaylistSyncService.h"

#include <QMenu>
#include <QPointer>
#include <QWidget>

#include <functional>
#include <string>

class QLineEdit;
class QSplitter;
class QUrl;

namespace ml {

class TLuiPlayListBox;
class TLuiSkinManager;
class TLuiSkinScrollBar;
class TfrmFindSong;
class TfrmQuickFindSong;
class TfrmUpPlaylistProgress;

class TfmPlayList : public QWidget {
  Q_OBJECT
public:
  static constexpr int kDefaultPaneWidth = 90;
  static constexpr const char* kEmptyTip = "您的播放列表暂时为空";

  explicit TfmPlayList(TLuiSkinManager* skin, QWidget* parent = nullptr);
  ~TfmPlayList() override;

  void SetController(TPlayListController* controller);
  // The service behind the sync menu; null greys it.
  void SetSync(IPlaylistSyncService* sync);
  // What the song box marks as playing; unset: the controller's current song.
  std::function<TShareFileInfo*()> PlayingEntry;
  // Messages and questions (message boxes unless replaced).
  std::function<void(const std::string& caption, const std::string& text)> Inform;
  std::function<bool(const std::string& caption, const std::string& text)> Ask;
  // Opens a folder in the desktop's file browser.
  std::function<bool(const QUrl& folder)> OpenFolder;

  // Draws the controller's state: both boxes, the selection, the marks, the tip. The row kept
  // in view is scrollTo, else the playing song.
  void ShowState(int scrollTo = -1);

  TLuiPlayListBox& SongBox() { return *lbPlayList_; }
  TLuiPlayListBox& ListBox() { return *lbPlayListMgr_; }
  QSplitter& Splitter() { return *splPlayList_; }
  QLineEdit& NameEditor() { return *edtName_; }
  QWidget& TipPanel() { return *pnlTip_; }
  QMenu& FindMenu() { return findMenu_; }
  QMenu& SyncMenu() { return syncMenu_; }
  QMenu& SongMenu() { return songMenu_; }
  QMenu& ListMenu() { return listMenu_; }
  TfrmFindSong& FindDialog();
  TfrmQuickFindSong& QuickFindDialog();
  // The upload or download window while it is open.
  TfrmUpPlaylistProgress* ProgressWindow() const;

  // The left pane: its width (the remembered one while collapsed) and whether it shows.
  int PaneWidth() const;
  bool PaneVisible() const;
  void SetPane(int width, bool visible);

  // ---- the commands of the menus and keys ----
  void NewList();
  void DeleteList();
  void MoveList(int delta);  // -1 up, +1 down
  void BeginRename(TLuiPlayListBox& box, int row);
  void ShowFindDialog();
  void ShowQuickFind();
  void FindNext();
  void MarkAll();
  void Upload();
  void Download();
  // Whether an upload or download could start now (what the sync menu and the tray menu offer).
  bool CanUpload();
  bool CanDownload();
  void BrowseFile();
  void ShowFileProperties();
  void RemoveSelected(bool fromDisk);
  // A drag from one of our boxes let go over target at pos (viewport coordinates).
  void DropOn(TLuiPlayListBox& target, QPoint pos, const TLuiPlayListBox* source, Qt::KeyboardModifiers keys);

signals:
  void PlayRequested(int row);   // a song of the shown list to play
  void AddSongsRequested();      // the tip's add button

protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

private:
  void BuildMenus();
  void LayoutPane(QWidget* pane);
  bool SongKey(QKeyEvent* e);
  bool ListKey(QKeyEvent* e);
  void CommitRename();
  void EndRename();
  int FirstSelected() const;  // -1 without a selection
  void SongsSelected();
  void ListChosen();
  void UpdateActions();
  int DropRow(const TLuiPlayListBox& box, QPoint pos) const;
  void DragOver(TLuiPlayListBox& box, QPoint pos);
  TfrmUpPlaylistProgress& OpenProgress(const QString& title);
  void UploadDone(bool ok, const std::string& error);
  void DownloadDone(bool ok, const std::string& body, const std::string& error);
  void Message(const char* caption, const QString& text);

  TPlayListController* c_ = nullptr;
  IPlaylistSyncService* sync_ = nullptr;
  QSplitter* splPlayList_;
  QWidget *listPane_, *songPane_;
  TLuiPlayListBox *lbPlayListMgr_, *lbPlayList_;
  TLuiSkinScrollBar *sbPlayListMgr_, *sbPlayList_;
  QWidget* pnlTip_;
  QLineEdit* edtName_;
  TLuiPlayListBox* renaming_ = nullptr;  // the box whose item the editor renames
  int renamingRow_ = -1;
  int rememberedWidth_ = kDefaultPaneWidth;
  bool showing_ = false;  // the boxes show the controller's state: no echo back
  QMenu findMenu_, syncMenu_, songMenu_, listMenu_;
  QAction *actUpload_, *actDownload_, *actBrowseFile_, *actFileAttribute_, *actDelList_, *actRename_;
  QAction *actDelMusicFile_, *actFindNext_;
  QPointer<TfrmFindSong> findDialog_;
  QPointer<TfrmQuickFindSong> quickFind_;
  QPointer<TfrmUpPlaylistProgress> progress_;
  bool findUsed_ = false;
};

}  // namespace ml
