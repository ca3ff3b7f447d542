#pragma once
// The association dialog "关联歌唱文件": finds lyric files in the lyric folder by a title (or
// picks one anywhere), renames or deletes them, and hands the chosen one to its opener, which
// makes it the playing song's lyric. The matching, the folder walk, the rename and the delete are
// lyrics/LyricFileSearch; this is their window. The walk runs a batch of entries per turn of the
// event loop, so a large folder fills the list while the window keeps answering.
#include <QDialog>

#include <functional>
#include <memory>
#include <string>

class QCheckBox;
class QLineEdit;
class QPushButton;
class QTimer;
class QTreeWidget;
class QTreeWidgetItem;

namespace ml {

class TLyricFolderScan;

class TfrmAssociateLRC final : public QDialog {
  Q_OBJECT
public:
  // Entries the folder walk looks at per turn of the event loop.
  static constexpr size_t ScanBatch = 200;

  // lyricFolder: where "本地搜索" looks; currentFile: the lyric file shown now (may be empty).
  TfrmAssociateLRC(std::string lyricFolder, const std::string& currentFile, QWidget* parent = nullptr);
  ~TfrmAssociateLRC() override;

  // "本地搜索" (and Enter in the title box).
  void LocalSearch();
  // "浏览": a file chosen anywhere becomes the only row.
  void Browse();
  // "重命名": opens the editor on the selected row's name; committing renames the file.
  void RenameSelected();
  // "删除文件", after asking.
  void DeleteSelected();
  // "关联": closes with OK when a row is chosen; ChosenFile() then names it.
  void Associate();

  // The file "关联" chose (empty when none was).
  const std::string& ChosenFile() const { return chosen_; }
  // The folder walk of a search is still going.
  bool Scanning() const;
  // The path of a row.
  static std::string RowPath(const QTreeWidgetItem* item);

  QLineEdit* TitleBox() const { return edtTitle_; }
  QCheckBox* PartialBox() const { return chkPartial_; }
  QTreeWidget* Files() const { return lvwLRCFiles_; }
  QPushButton* SearchButton() const { return btnSearch_; }

  // "撤销关联": drop the playing song's association (the opener does it; the dialog stays).
  std::function<void()> OnCancelLink;
  // Where messages go (caption, text, whether it is an error); default: a message box.
  std::function<void(const QString& caption, const QString& text, bool error)> ShowMessage;
  // The yes/no question before a delete; default: a message box.
  std::function<bool(const QString& caption, const QString& text)> Confirm;
  // "浏览"'s file chooser, starting in a folder; empty when cancelled. Default: a file dialog.
  std::function<QString(const QString& folder)> ChooseFile;

  void done(int result) override;

private:
  void Say(const QString& caption, const QString& text, bool error);
  void ScanMore();
  void StopScan();
  void SetOnlyRow(const std::string& path);
  QTreeWidgetItem* AddRow(const std::string& path);
  void Renamed(QTreeWidgetItem* item, int column);

  std::string folder_;
  std::string chosen_;
  std::unique_ptr<TLyricFolderScan> scan_;
  QTimer* scanTimer_;
  bool filling_ = false;  // rows being set by the dialog itself, not edited by the user

  QLineEdit* edtTitle_;
  QCheckBox* chkPartial_;
  QTreeWidget* lvwLRCFiles_;
  QPushButton *btnSearch_, *btnBrowse_, *btnRename_, *btnDelete_, *btnCancelLink_, *btnAssociate_, *btnCancel_;
};

}  // namespace ml
