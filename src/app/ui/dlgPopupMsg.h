#pragma once
// The sliding notice at the bottom right of the screen: a caption, a message (a link when it has
// one), the options link and a close button. It slides up out of the screen's bottom edge over
// two seconds and back down when it hides; a notice that arrives while one is shown replaces its
// text where it stands, without a new slide.
#include "app/ServicesShell.h"

#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>

class QLabel;
class QPushButton;

namespace ml {

class TdlgPopupMsg : public QWidget {
  Q_OBJECT
public:
  static constexpr int kSlideMs = 2000;
  static constexpr int kWidth = 260;
  static constexpr int kRightMargin = 10;

  explicit TdlgPopupMsg(QWidget* parent = nullptr);
  void ShowNotice(const TNotice& notice);
  void HideNotice();
  // Where it stands when fully shown (its bottom on the work area's bottom edge).
  QRect TargetRect() const;
  bool Sliding() const { return slide_.isActive(); }
  QString Caption() const;
  QString Text() const;

signals:
  void OptionsClicked();

private:
  void SlideStep();
  int FullHeight(const QString& text) const;

  QLabel *caption_, *message_, *options_;
  QPushButton* close_;
  QString link_;
  int fullHeight_ = 0;
  bool hiding_ = false;
  QTimer slide_, autoHide_;
  QElapsedTimer slideClock_;
};

}  // namespace ml
