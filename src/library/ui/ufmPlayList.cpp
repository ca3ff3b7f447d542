#include "library/ui/ufmPlayList.h"

#include "library/ui/dlgFileProperties.h"
#include "library/ui/uLuiPlayListBox.h"
#include "library/ui/ufrmFindSong.h"
#include "library/ui/ufrmQuickFindSong.h"
#include "library/ui/ufrmUpPlaylistProgress.h"
#include "skin/ui/SkinQt.h"
#include "skin/ui/uLuiSkinScrollBar.h"

#include <QComboBox>
#include <QContextMenuEvent>
#include <QDesktopServices>
#include <QDragMoveEvent>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSplitter>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>

namespace ml {

namespace {

constexpr int kBarWidth = 13;

std::set<size_t> SelectedRows(const TLuiPlayListBox& box) {
  std::set<size_t> rows;
  for (const QModelIndex& i : box.selectionModel()->selectedRows()) rows.insert(size_t(i.row()));
  return rows;
}

void SelectRows(TLuiPlayListBox& box, const std::set<size_t>& rows) {
  QItemSelection selection;
  for (size_t row : rows) {
    const QModelIndex index = box.Model().index(int(row));
    selection.select(index, index);
  }
  box.selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
}

}  // namespace

TfmPlayList::TfmPlayList(TLuiSkinManager* skin, QWidget* parent) : QWidget(parent) {
  splPlayList_ = new QSplitter(Qt::Horizontal, this);
  splPlayList_->setHandleWidth(3);
  splPlayList_->setChildrenCollapsible(false);
  listPane_ = new QWidget(splPlayList_);
  songPane_ = new QWidget(splPlayList_);
  splPlayList_->setCollapsible(0, true);
  splPlayList_->setStretchFactor(1, 1);
  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(splPlayList_);
  connect(splPlayList_, &QSplitter::splitterMoved, this, [this] {
    if (const int w = splPlayList_->sizes().value(0); w > 0) rememberedWidth_ = w;
  });

  // One box class for both: the same delegate draws songs and lists, each with its skin element.
  lbPlayListMgr_ = new TLuiPlayListBox(TLuiPlayListBoxKind::lkPlayListMgr, listPane_);
  lbPlayList_ = new TLuiPlayListBox(TLuiPlayListBoxKind::lkPlayList, songPane_);
  sbPlayListMgr_ = new TLuiSkinScrollBar(Qt::Vertical, listPane_);
  sbPlayList_ = new TLuiSkinScrollBar(Qt::Vertical, songPane_);
  for (TLuiSkinScrollBar* bar : {sbPlayListMgr_, sbPlayList_}) bar->resize(kBarWidth, 10);
  if (skin) {
    lbPlayListMgr_->SetSkinManager(skin);
    lbPlayList_->SetSkinManager(skin);
    sbPlayListMgr_->SetSkinManager(skin);
    sbPlayList_->SetSkinManager(skin);
  }
  lbPlayListMgr_->SetScrollBar(sbPlayListMgr_);
  lbPlayList_->SetScrollBar(sbPlayList_);

  pnlTip_ = new QWidget(songPane_);
  pnlTip_->setAutoFillBackground(true);
  auto* tipText = new QLabel(QString::fromUtf8(kEmptyTip), pnlTip_);
  tipText->setAlignment(Qt::AlignCenter);
  auto* add = new QPushButton(QStringLiteral("添加歌曲"), pnlTip_);
  auto* download = new QPushButton(QStringLiteral("下载播放列表"), pnlTip_);
  auto* tipButtons = new QHBoxLayout;
  tipButtons->addStretch();
  tipButtons->addWidget(add);
  tipButtons->addWidget(download);
  tipButtons->addStretch();
  auto* tipLayout = new QVBoxLayout(pnlTip_);
  tipLayout->addStretch();
  tipLayout->addWidget(tipText);
  tipLayout->addLayout(tipButtons);
  tipLayout->addStretch();
  pnlTip_->hide();
  connect(add, &QPushButton::clicked, this, &TfmPlayList::AddSongsRequested);
  connect(download, &QPushButton::clicked, this, [this] { Download(); });

  edtName_ = new QLineEdit(this);
  edtName_->hide();
  edtName_->installEventFilter(this);
  connect(edtName_, &QLineEdit::returnPressed, this, [this] { CommitRename(); });
  connect(edtName_, &QLineEdit::textChanged, this, [this](const QString& text) {
    // An empty name cannot be committed: the box waits, disabled, until there is one.
    if (renaming_) renaming_->setEnabled(!text.isEmpty());
  });

  for (QWidget* pane : {listPane_, songPane_}) pane->installEventFilter(this);
  splPlayList_->handle(1)->installEventFilter(this);
  for (TLuiPlayListBox* box : {lbPlayListMgr_, lbPlayList_}) {
    box->installEventFilter(this);
    box->viewport()->installEventFilter(this);
  }
  connect(lbPlayList_, &QListView::doubleClicked, this, [this](const QModelIndex& index) { emit PlayRequested(index.row()); });
  connect(lbPlayList_, &TLuiPlayListBox::SelectChanged, this, [this] { SongsSelected(); });
  connect(lbPlayListMgr_, &TLuiPlayListBox::SelectChanged, this, [this] { ListChosen(); });

  Inform = [this](const std::string& caption, const std::string& text) {
    QMessageBox::warning(this, Q(caption), Q(text));
  };
  Ask = [this](const std::string& caption, const std::string& text) {
    return QMessageBox::warning(this, Q(caption), Q(text), QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
  };
  OpenFolder = [](const QUrl& folder) { return QDesktopServices::openUrl(folder); };
  BuildMenus();
}

TfmPlayList::~TfmPlayList() {
  if (sync_) {
    sync_->OnUploadDone = nullptr;
    sync_->OnDownloadDone = nullptr;
  }
}

void TfmPlayList::BuildMenus() {
  auto add = [this](QMenu& menu, const char* caption, std::function<void()> fn) {
    QAction* a = menu.addAction(QString::fromUtf8(caption));
    connect(a, &QAction::triggered, this, [fn = std::move(fn)] { fn(); });
    return a;
  };
  auto songs = [this](void (TPlayListController::*op)()) {
    return [this, op] {
      if (!c_) return;
      (c_->*op)();
      ShowState(FirstSelected());
    };
  };
  add(findMenu_, "快速定位", [this] { ShowQuickFind(); });
  QAction* find = add(findMenu_, "查找歌曲", [this] { ShowFindDialog(); });
  find->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_F));
  find->setShortcutContext(Qt::WidgetWithChildrenShortcut);
  addAction(find);
  actFindNext_ = add(findMenu_, "查找下一个", [this] { FindNext(); });

  actUpload_ = add(syncMenu_, "上传播放列表&", [this] { Upload(); });
  actDownload_ = add(syncMenu_, "下载播放列表&", [this] { Download(); });

  add(songMenu_, "播放(&P)", [this] {
    if (FirstSelected() >= 0) emit PlayRequested(FirstSelected());
  });
  actRename_ = add(songMenu_, "重命名&", [this] {
    if (FirstSelected() >= 0) BeginRename(*lbPlayList_, FirstSelected());
  });
  actBrowseFile_ = add(songMenu_, "浏览文件...&", [this] { BrowseFile(); });
  actFileAttribute_ = add(songMenu_, "文件属性(&R)", [this] { ShowFileProperties(); });
  songMenu_.addSeparator();
  add(songMenu_, "上移", songs(&TPlayListController::MoveUp));
  add(songMenu_, "下移", songs(&TPlayListController::MoveDown));
  add(songMenu_, "移动至顶部", songs(&TPlayListController::MoveTop));
  add(songMenu_, "移动至底部", songs(&TPlayListController::MoveBottom));
  songMenu_.addSeparator();
  add(songMenu_, "删除(&D)                 Del", [this] { RemoveSelected(false); });
  actDelMusicFile_ = add(songMenu_, "物理删除(&H)         Shift + Del", [this] { RemoveSelected(true); });
  add(songMenu_, "清空列表&", songs(&TPlayListController::ClearList));

  add(listMenu_, "新建列表(&N)", [this] { NewList(); });
  add(listMenu_, "重命名列表(&R)", [this] {
    if (c_) BeginRename(*lbPlayListMgr_, c_->ShownListIndex());
  });
  actDelList_ = add(listMenu_, "删除列表(&E)", [this] { DeleteList(); });
  listMenu_.addSeparator();
  add(listMenu_, "上移(&U)        Ctrl + ↑", [this] { MoveList(-1); });
  add(listMenu_, "下移(&D)        Ctrl + ↓", [this] { MoveList(+1); });
  for (QMenu* m : {&findMenu_, &syncMenu_, &songMenu_, &listMenu_})
    connect(m, &QMenu::aboutToShow, this, [this] { UpdateActions(); });
  UpdateActions();
}

bool TfmPlayList::CanUpload() {
  UpdateActions();
  return actUpload_->isEnabled();
}

bool TfmPlayList::CanDownload() {
  UpdateActions();
  return actDownload_->isEnabled();
}

void TfmPlayList::UpdateActions() {
  const bool has = c_ != nullptr;
  const bool idle = has && sync_ && !sync_->Busy();
  actUpload_->setEnabled(idle && c_->CanUpload());
  actDownload_->setEnabled(idle && !c_->Lists().empty());
  actBrowseFile_->setVisible(has && c_->Selection().size() == 1);
  actFileAttribute_->setEnabled(has && c_->Selection().size() == 1);
  actRename_->setEnabled(has && !c_->Selection().empty());
  actDelMusicFile_->setEnabled(has && !c_->SettingsToSave().DisableDelFile);
  actDelList_->setEnabled(has && c_->Lists().size() > 1);
}

void TfmPlayList::SetController(TPlayListController* controller) {
  c_ = controller;
  if (!c_) return;
  lbPlayList_->Model().SetSource([this] { return c_->Songs().size(); },
                                 [this](size_t i) {
                                   const TShareFileInfo* e = c_->Songs()[i];
                                   return TPlayListBoxRow{e->Caption, e->Duration, e->LackSource, true};
                                 });
  lbPlayList_->Model().SetFiles([this](size_t i) { return c_->FileOf(i); });
  lbPlayListMgr_->Model().SetSource([this] { return c_->Lists().size(); },
                                    [this](size_t i) { return TPlayListBoxRow{c_->Lists()[i]->Name, 0, false, true}; });
  UpdateActions();
  ShowState();
}

void TfmPlayList::SetSync(IPlaylistSyncService* sync) {
  if (sync_) {
    sync_->OnUploadDone = nullptr;
    sync_->OnDownloadDone = nullptr;
  }
  sync_ = sync;
  if (sync_) {
    sync_->OnUploadDone = [this](bool ok, const std::string& error) { UploadDone(ok, error); };
    sync_->OnDownloadDone = [this](bool ok, const std::string& body, const std::string& error) {
      DownloadDone(ok, body, error);
    };
  }
  UpdateActions();
}

void TfmPlayList::ShowState(int scrollTo) {
  if (!c_) return;
  showing_ = true;
  lbPlayListMgr_->Model().Reload();
  const QModelIndex shown = lbPlayListMgr_->Model().index(c_->ShownListIndex());
  lbPlayListMgr_->selectionModel()->setCurrentIndex(shown, QItemSelectionModel::ClearAndSelect);
  lbPlayListMgr_->SetPlayingIndex(c_->PlayingListIndex());

  const auto& songs = c_->Songs();
  const bool empty = songs.empty();
  if (!empty) {
    pnlTip_->hide();
    lbPlayList_->show();
  }
  lbPlayList_->Model().Reload();
  SelectRows(*lbPlayList_, c_->Selection());
  int playing = -1;
  if (c_->PlayingList() == c_->ShownList()) {
    const TShareFileInfo* entry = PlayingEntry ? PlayingEntry() : c_->CurrentEntry();
    if (auto it = std::find(songs.begin(), songs.end(), entry); it != songs.end()) playing = int(it - songs.begin());
  }
  lbPlayList_->SetPlayingIndex(playing);
  if (empty) {
    lbPlayList_->hide();
    sbPlayList_->hide();
    pnlTip_->show();
    pnlTip_->raise();
  }
  // The tip and the splitter's handle in the song box's colours, as the skin gives them.
  QPalette tip = pnlTip_->palette();
  tip.setColor(QPalette::Window, ToQColor(lbPlayList_->Colors().Background1));
  tip.setColor(QPalette::WindowText, ToQColor(lbPlayList_->Colors().Text));
  pnlTip_->setPalette(tip);
  QSplitterHandle* handle = splPlayList_->handle(1);
  QPalette line = handle->palette();
  line.setColor(QPalette::Window, ToQColor(lbPlayList_->Colors().DivideLine));
  handle->setPalette(line);
  handle->setAutoFillBackground(true);
  showing_ = false;
  if (const int row = scrollTo >= 0 ? scrollTo : playing; row >= 0) lbPlayList_->EnsureVisible(row);
  UpdateActions();
}

int TfmPlayList::FirstSelected() const {
  return c_ && !c_->Selection().empty() ? int(*c_->Selection().begin()) : -1;
}

void TfmPlayList::SongsSelected() {
  if (c_ && !showing_) c_->Select(SelectedRows(*lbPlayList_));
}

void TfmPlayList::ListChosen() {
  if (!c_ || showing_) return;
  const int row = lbPlayListMgr_->currentIndex().isValid() ? lbPlayListMgr_->currentIndex().row() : -1;
  if (row < 0 || row == c_->ShownListIndex()) return;
  c_->ShowList(row);
  ShowState();
}

// ---- the left pane ----------------------------------------------------------------------------

int TfmPlayList::PaneWidth() const {
  const int w = splPlayList_->sizes().value(0);
  return w > 0 ? w : rememberedWidth_;
}

bool TfmPlayList::PaneVisible() const { return splPlayList_->sizes().value(0) > 0; }

void TfmPlayList::SetPane(int width, bool visible) {
  rememberedWidth_ = width > 0 ? width : kDefaultPaneWidth;
  const int total = std::max(splPlayList_->width(), rememberedWidth_ + 100);
  splPlayList_->setSizes({visible ? rememberedWidth_ : 0, total - (visible ? rememberedWidth_ : 0)});
}

void TfmPlayList::LayoutPane(QWidget* pane) {
  const bool songs = pane == songPane_;
  TLuiPlayListBox* box = songs ? lbPlayList_ : lbPlayListMgr_;
  TLuiSkinScrollBar* bar = songs ? sbPlayList_ : sbPlayListMgr_;
  const QRect r = pane->rect();
  box->setGeometry(r.adjusted(0, 0, bar->isVisible() ? -kBarWidth : 0, 0));
  bar->setGeometry(r.right() + 1 - kBarWidth, 0, kBarWidth, r.height());
  if (songs) pnlTip_->setGeometry(r);
}

// ---- lists -----------------------------------------------------------------------------------

void TfmPlayList::NewList() {
  if (!c_) return;
  c_->NewList();
  ShowState();
}

void TfmPlayList::DeleteList() {
  if (!c_ || !c_->DeleteList(c_->ShownListIndex())) return;
  ShowState();
}

void TfmPlayList::MoveList(int delta) {
  if (!c_) return;
  const int at = c_->ShownListIndex();
  // One place up is before the previous list; one place down is before the list after next.
  c_->MoveListTo(at, delta < 0 ? at - 1 : at + 2);
  ShowState();
}

// ---- renaming in place --------------------------------------------------------------------------

void TfmPlayList::BeginRename(TLuiPlayListBox& box, int row) {
  const QRect text = box.GetTextRect(row);
  if (text.isEmpty()) return;
  EndRename();
  renaming_ = &box;
  renamingRow_ = row;
  const QPoint topLeft = box.viewport()->mapTo(this, text.topLeft());
  edtName_->setGeometry(QRect(topLeft, text.size()).adjusted(0, -1, 0, 1));
  edtName_->setFont(box.font());
  edtName_->setText(Q(box.Model().Row(row).Caption));
  edtName_->selectAll();
  edtName_->show();
  edtName_->raise();
  edtName_->setFocus();
}

void TfmPlayList::CommitRename() {
  if (!renaming_ || !c_) return;
  const std::string text = edtName_->text().toStdString();
  if (text.empty()) return;
  TLuiPlayListBox* box = renaming_;
  const int row = renamingRow_;
  EndRename();
  if (box == lbPlayList_) c_->RenameSong(size_t(row), text);
  else c_->RenameList(row, text);
  ShowState();
}

void TfmPlayList::EndRename() {
  if (!renaming_) return;
  TLuiPlayListBox* box = renaming_;
  renaming_ = nullptr;  // hiding the editor takes its focus away: that must not commit again
  box->setEnabled(true);
  edtName_->hide();
  box->setFocus();
}

// ---- keys, menus and drags ---------------------------------------------------------------------------

bool TfmPlayList::SongKey(QKeyEvent* e) {
  if (!c_) return false;
  const Qt::KeyboardModifiers mods = e->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier);
  if ((e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter) && mods == Qt::NoModifier) {
    if (lbPlayList_->currentIndex().isValid()) emit PlayRequested(lbPlayList_->currentIndex().row());
    return true;
  }
  if (e->key() == Qt::Key_Delete && (mods == Qt::NoModifier || mods == Qt::ShiftModifier)) {
    RemoveSelected(mods == Qt::ShiftModifier);
    return true;
  }
  if (mods != Qt::ControlModifier) return false;
  void (TPlayListController::*op)() = nullptr;
  switch (e->key()) {
    case Qt::Key_Home: op = &TPlayListController::MoveTop; break;
    case Qt::Key_End: op = &TPlayListController::MoveBottom; break;
    case Qt::Key_Up: op = &TPlayListController::MoveUp; break;
    case Qt::Key_Down: op = &TPlayListController::MoveDown; break;
    default: return false;
  }
  (c_->*op)();
  ShowState(FirstSelected());
  return true;
}

bool TfmPlayList::ListKey(QKeyEvent* e) {
  if ((e->modifiers() & Qt::ControlModifier) && (e->key() == Qt::Key_Up || e->key() == Qt::Key_Down)) {
    MoveList(e->key() == Qt::Key_Up ? -1 : +1);
    return true;
  }
  if (e->key() == Qt::Key_F2 && c_) {
    BeginRename(*lbPlayListMgr_, c_->ShownListIndex());
    return true;
  }
  return false;
}

int TfmPlayList::DropRow(const TLuiPlayListBox& box, QPoint pos) const {
  const QModelIndex at = box.indexAt(pos);
  return at.isValid() ? at.row() : box.model()->rowCount();
}

void TfmPlayList::DropOn(TLuiPlayListBox& target, QPoint pos, const TLuiPlayListBox* source,
                         Qt::KeyboardModifiers keys) {
  if (!c_ || !source) return;
  if (source == lbPlayList_ && &target == lbPlayList_) {
    if (!c_->SettingsToSave().EnablePlaylistDrag || c_->Songs().size() < 2 || c_->Selection().empty()) return;
    c_->MoveSelectedTo(size_t(DropRow(target, pos)));
  } else if (source == lbPlayList_ && &target == lbPlayListMgr_) {
    const QModelIndex list = target.indexAt(pos);
    if (!list.isValid()) return;
    c_->DropSelectedOnList(list.row(), keys & Qt::ControlModifier);
  } else if (source == lbPlayListMgr_ && &target == lbPlayListMgr_) {
    if (c_->Lists().size() < 2) return;
    c_->MoveListTo(c_->ShownListIndex(), DropRow(target, pos));
  } else {
    return;
  }
  ShowState();
}

void TfmPlayList::DragOver(TLuiPlayListBox& box, QPoint pos) {
  // Near the top or bottom edge the box scrolls one row, to reach rows out of view.
  const int half = box.ItemHeight() / 2;
  const int rows = box.Model().rowCount();
  if (pos.y() < half && box.TopRow() > 0) box.SetTopRow(box.TopRow() - 1);
  else if (pos.y() > box.viewport()->height() - half && box.TopRow() + box.VisibleRowCount() < rows)
    box.SetTopRow(box.TopRow() + 1);
  // Songs are put before the row under the pointer; a list is dropped on, so it is not marked.
  if (&box == lbPlayList_) box.SetDropMark(DropRow(box, pos));
}

bool TfmPlayList::eventFilter(QObject* watched, QEvent* event) {
  const QEvent::Type type = event->type();
  if (watched == edtName_) {
    if (type == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
      EndRename();
      return true;
    }
    if (type == QEvent::FocusOut && renaming_) {
      // Leaving the editor commits as Enter does; with no name there is nothing to commit.
      if (edtName_->text().isEmpty()) EndRename();
      else CommitRename();
    }
    return false;
  }
  if (watched == splPlayList_->handle(1) && type == QEvent::MouseButtonDblClick) {
    // The handle's double click folds the list of lists away or brings it back at its width.
    SetPane(rememberedWidth_, !PaneVisible());
    return true;
  }
  if ((watched == listPane_ || watched == songPane_) && type == QEvent::Resize) {
    LayoutPane(static_cast<QWidget*>(watched));
    return false;
  }
  if (type == QEvent::KeyPress) {
    if (watched == lbPlayList_) return SongKey(static_cast<QKeyEvent*>(event));
    if (watched == lbPlayListMgr_) return ListKey(static_cast<QKeyEvent*>(event));
    return false;
  }
  TLuiPlayListBox* box = watched == lbPlayList_->viewport()      ? lbPlayList_
                         : watched == lbPlayListMgr_->viewport() ? lbPlayListMgr_
                                                                 : nullptr;
  if (!box) return false;
  if (type == QEvent::MouseButtonPress && renaming_) CommitRename();  // a click outside the editor
  if (type == QEvent::DragLeave) box->SetDropMark(-1);
  if (type == QEvent::ContextMenu) {
    auto* e = static_cast<QContextMenuEvent*>(event);
    // A right click on a row not selected makes it the only selected one first.
    const QModelIndex at = box->indexAt(e->pos());
    if (at.isValid() && !box->selectionModel()->isSelected(at))
      box->selectionModel()->setCurrentIndex(at, QItemSelectionModel::ClearAndSelect);
    UpdateActions();
    (box == lbPlayList_ ? songMenu_ : listMenu_).popup(e->globalPos());
    return true;
  }
  if (type == QEvent::DragEnter || type == QEvent::DragMove || type == QEvent::Drop) {
    auto* e = static_cast<QDropEvent*>(event);
    auto* source = qobject_cast<TLuiPlayListBox*>(e->source());
    if (source != lbPlayList_ && source != lbPlayListMgr_) return false;  // files: the box's own handling
    const QPoint pos = e->position().toPoint();
    if (type == QEvent::Drop) {
      box->SetDropMark(-1);
      DropOn(*box, pos, source, e->modifiers());
    } else {
      DragOver(*box, pos);
    }
    e->setDropAction(source == lbPlayList_ && box == lbPlayListMgr_ && (e->modifiers() & Qt::ControlModifier)
                         ? Qt::CopyAction
                         : Qt::MoveAction);
    e->accept();
    return true;
  }
  return false;
}

void TfmPlayList::RemoveSelected(bool fromDisk) {
  if (!c_) return;
  if (fromDisk && c_->SettingsToSave().DisableDelFile) return;
  if (c_->RemoveSelected(fromDisk)) ShowState();
}

// ---- finding ---------------------------------------------------------------------------------------

TfrmFindSong& TfmPlayList::FindDialog() {
  if (!findDialog_) {
    findDialog_ = new TfrmFindSong(this);
    connect(findDialog_, &TfrmFindSong::FindNextClicked, this, [this] { FindNext(); });
    connect(findDialog_, &TfrmFindSong::MarkAllClicked, this, [this] { MarkAll(); });
  }
  return *findDialog_;
}

TfrmQuickFindSong& TfmPlayList::QuickFindDialog() {
  if (!quickFind_) {
    quickFind_ = new TfrmQuickFindSong(this);
    connect(quickFind_, &TfrmQuickFindSong::TextChanged, this, [this](const QString& text) {
      if (!c_ || text.isEmpty()) return;
      c_->QuickFind(text.toStdString());
      ShowState(FirstSelected());
    });
  }
  return *quickFind_;
}

void TfmPlayList::ShowFindDialog() {
  if (quickFind_) quickFind_->close();
  FindDialog().show();
  FindDialog().raise();
  FindDialog().activateWindow();
}

void TfmPlayList::ShowQuickFind() {
  if (findDialog_) findDialog_->close();
  QuickFindDialog().show();
  QuickFindDialog().raise();
  QuickFindDialog().activateWindow();
}

void TfmPlayList::FindNext() {
  if (!c_) return;
  const TFindOptions options = FindDialog().Options();
  const int found = c_->FindNext(options);
  const bool given = !QString::fromStdString(options.Title + options.Artist + options.Album).trimmed().isEmpty();
  if (found < 0 && given) Message("提示", QStringLiteral("找不到符合条件的歌曲！ "));
  ShowState(found);
}

void TfmPlayList::MarkAll() {
  if (!c_) return;
  FindDialog().RecordHistory();
  const int count = c_->MarkAll(FindDialog().Options());
  Message("提示", QStringLiteral("找到%1首歌曲符合条件！ ").arg(count));
  ShowState(FirstSelected());
}

// ---- the song's file ----------------------------------------------------------------------------------

void TfmPlayList::BrowseFile() {
  if (!c_ || c_->Selection().size() != 1) return;
  const TShareFileInfo* e = c_->SelectedEntry();
  const QFileInfo file(Q(e->FileName));
  if (e->FileName.empty() || !file.exists()) {
    Message("提示", QStringLiteral("“%1” 的歌曲文件不存在，可能是还没有下载到本地!").arg(Q(e->Caption)));
    return;
  }
  // The desktop's file browsers take a folder, not a file to select in it.
  OpenFolder(QUrl::fromLocalFile(file.absolutePath()));
}

void TfmPlayList::ShowFileProperties() {
  if (!c_ || c_->Selection().size() != 1) return;
  auto* dialog = new TdlgFileProperties(*c_->SelectedEntry(), this);
  dialog->setObjectName("dlgFileProperties");
  dialog->show();
}

// ---- the list kept on the service -----------------------------------------------------------------------

TfrmUpPlaylistProgress* TfmPlayList::ProgressWindow() const { return progress_; }

void TfmPlayList::Message(const char* caption, const QString& text) {
  if (Inform) Inform(caption, text.toStdString());
}

TfrmUpPlaylistProgress& TfmPlayList::OpenProgress(const QString& title) {
  if (progress_) {
    progress_->ShowFinal(progress_->Text());
    progress_->close();
  }
  progress_ = new TfrmUpPlaylistProgress(title, this);
  progress_->move(mapToGlobal(QPoint(20, 30)));
  progress_->show();
  return *progress_;
}

void TfmPlayList::Upload() {
  if (!c_ || !sync_ || sync_->Busy()) return;
  const std::string body = c_->UploadBody();
  if (!sync_->LoggedIn()) {
    Message("提示", QStringLiteral("您还没有登录"));
    sync_->ShowLoginPage();
    return;
  }
  if (c_->Lists().empty() || c_->Lists().front()->Items.empty()) {
    Message("提示", QStringLiteral("您的播放列表为空！"));
    return;
  }
  QPointer<TfrmUpPlaylistProgress> window = &OpenProgress(QStringLiteral("上传播放列表"));
  window->ShowRunning(QStringLiteral("正在连接服务器。。。"));
  std::string error;
  bool started = false;
  if (body.empty()) {
    error = "读取播放列表数据错误";
  } else {
    try {
      started = sync_->StartUpload(body, &error);
    } catch (const std::exception&) {
      error = "未知错误";
    }
  }
  if (!window) return;  // the answer may have come (and ended the upload) while we waited
  if (!started) window->ShowFinal(QStringLiteral("上传播放列表失败：") + Q(error));
  else if (window->Running()) window->ShowRunning(QStringLiteral("服务器连接成功，正在上传播放列表。。。"));
}

void TfmPlayList::UploadDone(bool ok, const std::string& error) {
  if (!progress_) return;
  progress_->ShowFinal(ok ? QStringLiteral("上传播放列表成功") : QStringLiteral("上传播放列表失败: ") + Q(error));
}

void TfmPlayList::Download() {
  if (!c_ || !sync_ || sync_->Busy()) return;
  if (!sync_->LoggedIn()) {
    Message("提示", QStringLiteral("您还没有登录"));
    sync_->ShowLoginPage();
    return;
  }
  QPointer<TfrmUpPlaylistProgress> window = &OpenProgress(QStringLiteral("下载播放列表"));
  window->ShowRunning(QStringLiteral("正在连接服务器。。。"));
  std::string error;
  bool started = false;
  try {
    started = sync_->StartDownload(&error);
  } catch (const std::exception&) {
    error = "未知错误";
  }
  if (!window) return;
  if (!started) window->ShowFinal(QStringLiteral("下载播放列表失败：") + Q(error));
  else if (window->Running()) window->ShowRunning(QStringLiteral("服务器连接成功，正在下载播放列表。。。"));
}

void TfmPlayList::DownloadDone(bool ok, const std::string& body, const std::string& error) {
  if (!c_) return;
  if (!ok) {
    const QString text = QStringLiteral("下载播放列表失败: ") + Q(error);
    if (progress_) progress_->ShowFinal(text);
    else Message("提示", text);
    return;
  }
  if (c_->Lists().empty()) c_->NewList();
  const int target = c_->ShownListIndex();
  if (progress_) {
    progress_->ShowFinal(QStringLiteral("下载播放列表成功"));
    progress_->close();
  }
  const std::string question = "下载播放列表成功,是否确定覆盖您的播放列表：" + c_->Lists()[size_t(target)]->Name;
  if (!Ask || !Ask("询问", question)) return;
  c_->ReplaceListSongs(target, body);
  ShowState();
}

}  // namespace ml
