#pragma once
// The playlist box: the songs of a playlist (or the names of the playlists) in a QListView over
// a model, each row painted by a delegate: a number, the caption cut to fit with "...", the
// duration at the right, on alternating stripes; selected rows in a gradient, the playing row
// with its mark, songs without a source in grey. It has no scroll bar of its own: it drives the
// skinned one beside it. Only the rows in view are ever touched, so a list of 100,000 songs
// scrolls as one of ten.
#include "library/PlayListBoxRules.h"
#include "skin/ui/SkinControl.h"

#include <QAbstractListModel>
#include <QImage>
#include <QListView>
#include <QStringList>
#include <QUrl>

#include <cstdint>
#include <functional>
#include <string>

class QMimeData;

namespace ml {

class TLuiSkinScrollBar;

enum class TLuiPlayListBoxKind { lkPlayList, lkPlayListMgr, lkBillBoard };

// What a row shows.
struct TPlayListBoxRow {
  std::string Caption;
  int32_t DurationMs = 0;
  bool LackSource = false;
  bool HasObject = true;  // a row without its song or list gets only its background
};

// The rows, read from their owner when shown: count and row i.
class TPlayListModel : public QAbstractListModel {
  Q_OBJECT
public:
  using TCount = std::function<size_t()>;
  using TRowAt = std::function<TPlayListBoxRow(size_t)>;
  using TFileAt = std::function<std::string(size_t)>;
  void SetSource(TCount count, TRowAt row);
  // Where row i's file is (empty: none): dragged rows carry their files to other programs.
  void SetFiles(TFileAt file) { file_ = std::move(file); }
  // The owner's rows changed: everything is read again.
  void Reload();
  TPlayListBoxRow Row(int index) const;

  int rowCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  QStringList mimeTypes() const override;
  // The dragged rows: their numbers for our own boxes, and the files that exist as URLs, which
  // file managers and other players take (as a copy: only Copy is offered outside).
  QMimeData* mimeData(const QModelIndexList& indexes) const override;
  static constexpr const char* kRowsFormat = "application/x-minilirra-rows";

private:
  TCount count_;
  TRowAt row_;
  TFileAt file_;
};

class TLuiPlayListBox : public QListView, public TSkinControl {
  Q_OBJECT
public:
  explicit TLuiPlayListBox(TLuiPlayListBoxKind kind = TLuiPlayListBoxKind::lkPlayList, QWidget* parent = nullptr);
  ~TLuiPlayListBox() override;

  TPlayListModel& Model() { return model_; }
  // A drag of files from outside; songs dragged from our own boxes carry their files too, but
  // are moved or copied between lists by the frame instead.
  static bool DroppedFiles(const QMimeData* data);
  TLuiPlayListBoxKind Kind() const { return kind_; }
  void SetKind(TLuiPlayListBoxKind kind);
  const TPlayListBoxColors& Colors() const { return colors_; }
  void SetColors(const TPlayListBoxColors& colors);
  void SetPlayingBmp(const QImage& image);
  const QImage& PlayingBmp() const { return playing_; }
  int StartSeqNum() const { return startSeqNum_; }
  void SetStartSeqNum(int first);  // values of 0 or less are ignored
  int PlayingIndex() const { return playingIndex_; }
  void SetPlayingIndex(int index);
  int ItemHeight() const { return itemHeight_; }
  int VisibleRowCount() const;
  int TopRow() const;
  void SetTopRow(int row);
  void EnsureVisible(int index);
  // Where a row's caption is drawn (for renaming in place); empty outside the rows.
  QRect GetTextRect(int index) const;
  // The skinned scroll bar the box drives, placed at its right and shown when needed.
  void SetScrollBar(TLuiSkinScrollBar* bar);
  // Width of the number cell (the widest number the list shows, at least 15), 0 for playlists.
  int NumberWidth() const;
  // A row's rectangle as the box shows it (never past its right edge).
  QRect FitRow(QRect row) const;
  // The drop point of a drag over the box: a line at the top of row (at the bottom of the last
  // row when row is the count); -1 for none.
  void SetDropMark(int row);
  int DropMark() const { return dropMark_; }
  // Files dropped on the box (local paths of the URLs, in order): FilesDropped.
  void DropUrls(const QList<QUrl>& urls);

  void UpdateSkin(bool miniMode, TColor tint, bool setRect) override;

signals:
  void Changed();
  void ItemChanged();
  void SelectChanged(int oldIndex, int newIndex);
  void FilesDropped(const QStringList& paths);

protected:
  void paintEvent(QPaintEvent*) override;
  void resizeEvent(QResizeEvent*) override;
  void changeEvent(QEvent*) override;
  void dragEnterEvent(QDragEnterEvent*) override;
  void dragMoveEvent(QDragMoveEvent*) override;
  void dropEvent(QDropEvent*) override;

private:
  void SyncScrollBar();
  void FitItemHeight();
  void CheckSelection();

  TPlayListModel model_;
  TLuiPlayListBoxKind kind_;
  TPlayListBoxColors colors_;
  QImage playing_;
  int startSeqNum_ = 1, playingIndex_ = -1, itemHeight_ = 15;
  int rememberedCount_ = 0, rememberedIndex_ = -1, dropMark_ = -1;
  TLuiSkinScrollBar* bar_ = nullptr;
  bool syncing_ = false;
};

}  // namespace ml
