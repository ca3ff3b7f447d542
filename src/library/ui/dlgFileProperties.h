#pragma once
// A song file's properties as the library knows them: where it is, its size, tags and length.
// (The desktop has no properties dialog of its own for a file.)
#include "library/MusicFileMgr.h"

#include <QDialog>

namespace ml {

class TdlgFileProperties : public QDialog {
  Q_OBJECT
public:
  TdlgFileProperties(const TShareFileInfo& song, QWidget* parent = nullptr);
  // The rows shown: label and value, in order.
  const std::vector<std::pair<QString, QString>>& Rows() const { return rows_; }

private:
  std::vector<std::pair<QString, QString>> rows_;
};

}  // namespace ml
