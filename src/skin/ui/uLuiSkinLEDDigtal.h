#pragma once
// The play time in digit pictures: the skin's "led" strip holds twelve equal pictures, the
// digits 0-9, ":" and "-". A click switches between the time played and the time left.
#include "skin/ui/SkinControl.h"

#include <QImage>
#include <QWidget>

namespace ml {

class TLuiSkinLEDDigtal : public QWidget, public TSkinControl {
  Q_OBJECT
public:
  explicit TLuiSkinLEDDigtal(QWidget* parent = nullptr);

  void SetDigits(const QImage& strip);
  void SetTime(int positionMs, int lengthMs);
  void SetRemaining(bool remaining);
  bool Remaining() const { return remaining_; }
  QString Text() const;

  void UpdateSkin(bool miniMode, TColor tint, bool setRect) override;

signals:
  void Clicked();

protected:
  void paintEvent(QPaintEvent*) override;
  void mouseReleaseEvent(QMouseEvent*) override;

private:
  QImage digits_;
  int positionMs_ = 0, lengthMs_ = 0;
  bool remaining_ = false;
};

}  // namespace ml
