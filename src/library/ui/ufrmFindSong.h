#pragma once
// The find dialog of the playlist: patterns for the caption, the artist and the album (each with
// the history of what was looked for), case, whole-text and backwards options. It only gathers
// the search; the playlist frame runs it on its controller.
#include "library/PlayListController.h"

#include <QDialog>

class QCheckBox;
class QComboBox;
class QPushButton;

namespace ml {

class TfrmFindSong : public QDialog {
  Q_OBJECT
public:
  explicit TfrmFindSong(QWidget* parent = nullptr);
  TFindOptions Options() const;
  QComboBox& TitleBox() { return *title_; }
  QComboBox& ArtistBox() { return *artist_; }
  QComboBox& AlbumBox() { return *album_; }
  QCheckBox& MatchCase() { return *matchCase_; }
  QCheckBox& WholeText() { return *wholeText_; }
  QCheckBox& Backwards() { return *backwards_; }
  QPushButton& FindNextButton() { return *findNext_; }
  QPushButton& MarkAllButton() { return *markAll_; }
  // Every pattern given goes into its box's history, newest first, once.
  void RecordHistory();

signals:
  void FindNextClicked();
  void MarkAllClicked();

protected:
  void showEvent(QShowEvent*) override;
  void hideEvent(QHideEvent*) override;

private:
  QComboBox *title_, *artist_, *album_;
  QCheckBox *matchCase_, *wholeText_, *backwards_;
  QPushButton *findNext_, *markAll_;
};

// Puts text at the top of a combo box's history (once); an empty text is not kept.
void RememberInHistory(QComboBox& box, const QString& text);

}  // namespace ml
