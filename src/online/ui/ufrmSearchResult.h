#pragma once
// The search result frame: one page of the song search as a list (name with its availability
// bar, artist, duration, size), the page strip with the previous and next buttons, and the
// search's state. Everything it shows comes from its TSongSearch, read again whenever the search
// changes; what the user does with a row leaves as a signal for the main window.
#include <QWidget>

#include "skin/ui/SkinControl.h"

class QLabel;
class QMenu;
class QPushButton;
class QTreeWidget;

namespace ml {

class TSongSearch;
struct TSearchResultInfo;

// The colours a page is drawn in (the skin's lyricForm and its SearchResult element).
struct TSearchResultColors {
  TColor Background = 0xFFFFFF;
  TColor Font = 0;
  TColor HighlightText = 0xFFFFFF;
  TColor HighlightBkgnd1 = 0xC08040;
  TColor HighlightBkgnd2 = 0x804020;
};

class TfrmSearchResult : public QWidget, public TSkinControl {
  Q_OBJECT
public:
  enum TColumn { ColName, ColArtist, ColDuration, ColSize, ColumnCount };

  // The search outlives the frame; the frame takes its OnChanged.
  explicit TfrmSearchResult(TSongSearch& search, QWidget* parent = nullptr);
  ~TfrmSearchResult() override;

  // Shows the search as it is now.
  void Reload();
  const TSearchResultColors& Colors() const { return colors_; }

  QTreeWidget* List() const { return list_; }
  QPushButton* PreviousButton() const { return prev_; }
  QPushButton* NextButton() const { return next_; }
  QLabel* PageStrip() const { return pages_; }
  QLabel* Status() const { return status_; }
  // The context menu of the focused row: add the selected rows, play the focused one, search
  // one of its related words. Null without a focused row.
  QMenu* MakeContextMenu();

  void UpdateSkin(bool miniMode, TColor tint, bool setRect) override;

signals:
  // A row to play (double click, Enter, the menu's play) or to add to the playlist: its digest
  // as 32 hexadecimal digits, its name and size.
  void SongChosen(const QString& digest, const QString& name, qint64 size, bool play);
  // A related word of a row was chosen: the main window searches for it.
  void KeywordChosen(const QString& keyword);

private:
  // The row of the search an item of the list shows; null when there is none.
  const TSearchResultInfo* RowOf(int item) const;
  void Choose(int item, bool play);

  TSongSearch& search_;
  TSearchResultColors colors_;
  QTreeWidget* list_;
  QPushButton* prev_;
  QPushButton* next_;
  QLabel* pages_;
  QLabel* status_;
};

}  // namespace ml
