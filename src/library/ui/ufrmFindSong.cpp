#include "library/ui/ufrmFindSong.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>

namespace ml {

void RememberInHistory(QComboBox& box, const QString& text) {
  const QString kept = text.trimmed();
  if (kept.isEmpty()) return;
  if (const int old = box.findText(kept); old >= 0) box.removeItem(old);
  box.insertItem(0, kept);
  box.setEditText(text);
}

TfrmFindSong::TfrmFindSong(QWidget* parent) : QDialog(parent, Qt::Tool | Qt::WindowStaysOnTopHint) {
  setWindowTitle(QStringLiteral("查找文件"));
  auto combo = [this] {
    auto* c = new QComboBox(this);
    c->setEditable(true);
    c->setInsertPolicy(QComboBox::NoInsert);
    c->setMinimumWidth(200);
    return c;
  };
  title_ = combo();
  artist_ = combo();
  album_ = combo();
  auto* form = new QFormLayout;
  form->addRow(QStringLiteral("标题"), title_);
  form->addRow(QStringLiteral("艺术家"), artist_);
  form->addRow(QStringLiteral("专辑"), album_);
  matchCase_ = new QCheckBox(QStringLiteral("大小写匹配"), this);
  wholeText_ = new QCheckBox(QStringLiteral("全字符匹配"), this);
  backwards_ = new QCheckBox(QStringLiteral("反方向查找"), this);
  findNext_ = new QPushButton(QStringLiteral("查找下一个"), this);
  findNext_->setDefault(true);
  markAll_ = new QPushButton(QStringLiteral("标记全部"), this);
  auto* close = new QPushButton(QStringLiteral("关闭"), this);
  auto* options = new QVBoxLayout;
  for (QWidget* w : {static_cast<QWidget*>(matchCase_), static_cast<QWidget*>(wholeText_), static_cast<QWidget*>(backwards_)})
    options->addWidget(w);
  auto* buttons = new QVBoxLayout;
  for (QPushButton* b : {findNext_, markAll_, close}) buttons->addWidget(b);
  buttons->addStretch();
  auto* left = new QVBoxLayout;
  left->addLayout(form);
  left->addLayout(options);
  auto* all = new QHBoxLayout(this);
  all->addLayout(left);
  all->addLayout(buttons);
  connect(findNext_, &QPushButton::clicked, this, &TfrmFindSong::FindNextClicked);
  connect(markAll_, &QPushButton::clicked, this, &TfrmFindSong::MarkAllClicked);
  connect(close, &QPushButton::clicked, this, &QDialog::close);
}

TFindOptions TfrmFindSong::Options() const {
  TFindOptions o;
  o.Title = title_->currentText().toStdString();
  o.Artist = artist_->currentText().toStdString();
  o.Album = album_->currentText().toStdString();
  o.MatchCase = matchCase_->isChecked();
  o.WholeText = wholeText_->isChecked();
  o.Backwards = backwards_->isChecked();
  return o;
}

void TfrmFindSong::RecordHistory() {
  for (QComboBox* c : {title_, artist_, album_}) RememberInHistory(*c, c->currentText());
}

void TfrmFindSong::showEvent(QShowEvent* e) {
  // Every search starts from empty patterns; what was looked for waits in the histories.
  for (QComboBox* c : {title_, artist_, album_}) c->setEditText({});
  QDialog::showEvent(e);
}

void TfrmFindSong::hideEvent(QHideEvent* e) {
  RecordHistory();
  QDialog::hideEvent(e);
}

}  // namespace ml
