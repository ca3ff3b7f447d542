#pragma once
// The skinned track bar (volume, play position, and the effect sliders): a fill picture shown up
// to the thumb, the thumb picture at the value, horizontal or vertical (vertical counts from the
// bottom). The play position bar also shows how much of the song has arrived (SelEnd).
#include "skin/SkinControlRules.h"
#include "skin/ui/SkinControl.h"

#include <QImage>
#include <QWidget>

namespace ml {

enum class TSkinTrackBarKind { tkVolume, tkProgress, tbBalance, tbSurround, tbPreamp };

class TLuiSkinTrackBar : public QWidget, public TSkinControl {
  Q_OBJECT
public:
  explicit TLuiSkinTrackBar(TSkinTrackBarKind kind, QWidget* parent = nullptr);

  void SetMax(int max);
  int Max() const { return max_; }
  void SetPosition(int position);  // from the program: no signal
  int Position() const { return position_; }
  // The part of the range that is ready (a song still arriving), drawn behind the fill.
  void SetSelEnd(int selEnd);
  void SetVertical(bool vertical);
  bool Vertical() const { return vertical_; }
  void SetImages(const QImage& thumb, const QImage& fill, bool fulFill);
  bool Dragging() const { return dragging_; }

  void UpdateSkin(bool miniMode, TColor tint, bool setRect) override;

signals:
  void PositionChanged(int position);  // by the user, while dragging
  void Released(int position);         // the user let go

protected:
  void paintEvent(QPaintEvent*) override;
  void mousePressEvent(QMouseEvent*) override;
  void mouseMoveEvent(QMouseEvent*) override;
  void mouseReleaseEvent(QMouseEvent*) override;
  void wheelEvent(QWheelEvent*) override;

private:
  TTrackBarAxis Axis() const;
  void MoveTo(int pixel);

  TSkinTrackBarKind kind_;
  QImage thumb_, fill_;
  bool fulFill_ = false, vertical_ = false, dragging_ = false;
  int max_ = 100, position_ = 0, selEnd_ = 0;
};

}  // namespace ml
