#pragma once
// The skinned scroll bar: the "ScrollbarBG" picture stretched along the track, the two arrow
// buttons from "ScrollbarButton" (a strip of four: up, down, and each pressed), the slider from
// "ScrollbarSlider" stretched to its length. Vertical or horizontal.
#include "skin/ui/SkinControl.h"

#include <QBasicTimer>
#include <QImage>
#include <QWidget>

#include <algorithm>

namespace ml {

class TLuiSkinScrollBar : public QWidget, public TSkinControl {
  Q_OBJECT
public:
  explicit TLuiSkinScrollBar(Qt::Orientation kind = Qt::Vertical, QWidget* parent = nullptr);

  void SetRange(int min, int max);
  void SetPageStep(int largeChange);
  void SetSmallChange(int step) { smallChange_ = std::max(1, step); }
  void SetPosition(int position);  // clamped; signals when it changes
  int Position() const { return position_; }
  int Min() const { return min_; }
  int Max() const { return max_; }
  void SetImages(const QImage& slider, const QImage& buttons, const QImage& background);
  QRect SliderRect() const;

  void UpdateSkin(bool miniMode, TColor tint, bool setRect) override;

signals:
  void PositionChanged(int position);

protected:
  void paintEvent(QPaintEvent*) override;
  void mousePressEvent(QMouseEvent*) override;
  void mouseMoveEvent(QMouseEvent*) override;
  void mouseReleaseEvent(QMouseEvent*) override;
  void wheelEvent(QWheelEvent*) override;
  void timerEvent(QTimerEvent*) override;

private:
  int Length() const;   // along the bar
  int Breadth() const;  // across it: the buttons are square
  int Along(const QPoint& p) const;
  int SliderLength() const;

  Qt::Orientation kind_;
  QImage slider_, buttons_, background_;
  int min_ = 0, max_ = 100, position_ = 0, largeChange_ = 10, smallChange_ = 1;
  int dragFrom_ = -1, dragPosition_ = 0, repeat_ = 0;  // repeat: -1/+1 while a button is held
  QBasicTimer repeatTimer_;
};

}  // namespace ml
