#pragma once
// The window that follows a playlist upload or download: a status line and an OK button that
// stays disabled (and the close box hidden) until the transfer has a final word.
#include <QDialog>

class QLabel;
class QPushButton;

namespace ml {

class TfrmUpPlaylistProgress : public QDialog {
  Q_OBJECT
public:
  TfrmUpPlaylistProgress(const QString& title, QWidget* parent = nullptr);
  // A step of the running transfer.
  void ShowRunning(const QString& text);
  // The outcome: OK and the close box come back, with the information beep.
  void ShowFinal(const QString& text);
  bool Running() const { return running_; }
  QString Text() const;
  QPushButton& OKButton() { return *ok_; }

protected:
  void closeEvent(QCloseEvent*) override;

private:
  void SetRunning(bool running);

  QLabel* lblProgress_;
  QPushButton* ok_;
  bool running_ = false;
};

}  // namespace ml
