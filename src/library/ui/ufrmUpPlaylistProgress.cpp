#include "library/ui/ufrmUpPlaylistProgress.h"

#include <QApplication>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace ml {

TfrmUpPlaylistProgress::TfrmUpPlaylistProgress(const QString& title, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowStaysOnTopHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                          Qt::CustomizeWindowHint) {
  setAttribute(Qt::WA_DeleteOnClose);
  setWindowTitle(title);
  lblProgress_ = new QLabel(this);
  lblProgress_->setMinimumWidth(260);
  lblProgress_->setWordWrap(true);
  ok_ = new QPushButton(QStringLiteral("确定(&O)"), this);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(ok_);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(lblProgress_);
  layout->addLayout(buttons);
  connect(ok_, &QPushButton::clicked, this, &QDialog::close);
}

QString TfrmUpPlaylistProgress::Text() const { return lblProgress_->text(); }

void TfrmUpPlaylistProgress::SetRunning(bool running) {
  running_ = running;
  ok_->setEnabled(!running);
  const bool shown = isVisible();
  setWindowFlag(Qt::WindowCloseButtonHint, !running);
  if (shown) show();  // a changed flag hides the window until it is shown again
}

void TfrmUpPlaylistProgress::ShowRunning(const QString& text) {
  lblProgress_->setText(text);
  if (!running_) SetRunning(true);
}

void TfrmUpPlaylistProgress::ShowFinal(const QString& text) {
  lblProgress_->setText(text);
  SetRunning(false);
  QApplication::beep();
}

void TfrmUpPlaylistProgress::closeEvent(QCloseEvent* e) {
  // A running transfer keeps its window: its end is what the user waits to read.
  if (running_) e->ignore();
  else QDialog::closeEvent(e);
}

}  // namespace ml
