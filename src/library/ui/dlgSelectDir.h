#pragma once
// The folder picker of "add folder": a folder tree, whether subfolders are included, and which
// song types are taken. The result feeds ScanFolder as it is.
#include <QDialog>

#include <string>
#include <vector>

class QCheckBox;
class QFileSystemModel;
class QPushButton;
class QTreeView;

namespace ml {

class TdlgSelectDir final : public QDialog {
  Q_OBJECT
public:
  // extensions: the song types offered, without the dot (e.g. "mp3"), each with its box checked;
  // start: the folder selected at first (none when it does not exist).
  TdlgSelectDir(const std::vector<std::string>& extensions, const QString& start, QWidget* parent = nullptr);

  // The chosen folder; empty while none is selected.
  std::string Folder() const;
  bool Recursive() const;
  // The checked types, upper case with their dots, joined with "|" (".MP3|.WAV").
  std::string Extensions() const;

  void SelectFolder(const QString& path);
  QTreeView* Tree() const { return tree_; }
  QCheckBox* SubfoldersBox() const { return subfolders_; }
  const std::vector<QCheckBox*>& TypeBoxes() const { return types_; }
  QPushButton* OkButton() const { return ok_; }

private:
  // OK needs a folder and at least one type (with none, nothing would be added).
  void UpdateOk();

  QFileSystemModel* model_;
  QTreeView* tree_;
  QCheckBox* subfolders_;
  std::vector<QCheckBox*> types_;
  QPushButton* ok_;
};

}  // namespace ml
