#include "library/ui/ufrmQuickFindSong.h"

#include "library/ui/ufrmFindSong.h"

#include <QComboBox>
#include <QLabel>
#include <QVBoxLayout>

namespace ml {

TfrmQuickFindSong::TfrmQuickFindSong(QWidget* parent) : QDialog(parent, Qt::Tool | Qt::WindowStaysOnTopHint) {
  setWindowTitle(QStringLiteral("快速定位歌曲"));
  text_ = new QComboBox(this);
  text_->setEditable(true);
  text_->setInsertPolicy(QComboBox::NoInsert);
  text_->setMinimumWidth(240);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(text_);
  layout->addWidget(new QLabel(QString::fromUtf8(kHint), this));
  connect(text_, &QComboBox::editTextChanged, this, &TfrmQuickFindSong::TextChanged);
}

void TfrmQuickFindSong::hideEvent(QHideEvent* e) {
  RememberInHistory(*text_, text_->currentText());
  text_->blockSignals(true);
  text_->setEditText({});
  text_->blockSignals(false);
  QDialog::hideEvent(e);
}

}  // namespace ml
