#include "skin/ui/uLuiSkinLEDDigtal.h"

#include "skin/SkinControlRules.h"
#include "skin/ui/SkinQt.h"

#include <QMouseEvent>
#include <QPainter>

namespace ml {

TLuiSkinLEDDigtal::TLuiSkinLEDDigtal(QWidget* parent) : QWidget(parent) {
  resize(60, 20);
  setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void TLuiSkinLEDDigtal::SetDigits(const QImage& strip) {
  digits_ = strip;
  update();
}

void TLuiSkinLEDDigtal::SetTime(int positionMs, int lengthMs) {
  if (positionMs / 1000 == positionMs_ / 1000 && lengthMs == lengthMs_) {
    positionMs_ = positionMs;
    return;
  }
  positionMs_ = positionMs;
  lengthMs_ = lengthMs;
  update();
}

void TLuiSkinLEDDigtal::SetRemaining(bool remaining) {
  remaining_ = remaining;
  update();
}

QString TLuiSkinLEDDigtal::Text() const {
  return QString::fromStdString(LedTimeText(positionMs_, lengthMs_, remaining_));
}

void TLuiSkinLEDDigtal::UpdateSkin(bool miniMode, TColor tint, bool setRect) {
  const TLuiSkinManager& skin = *SkinManager();
  const TXmlNode led = skin.Element(TLuiSkinManager::MainForm(miniMode), "led");
  SetInSkin(bool(led));
  if (!led) return;
  const QImage strip = LoadSkinImage(skin.Image(led, "image"), tint);
  if (!strip.isNull()) SetDigits(strip);
  const TRect position = ParseSkinPosition(led.Attribute("position"));
  if (setRect && !position.IsEmpty()) setGeometry(ToQRect(position));
}

void TLuiSkinLEDDigtal::paintEvent(QPaintEvent*) {
  QPainter p(this);
  const std::string text = LedTimeText(positionMs_, lengthMs_, remaining_);
  const int w = digits_.width() / kLedGlyphCount;
  if (digits_.isNull() || w <= 0) {
    p.setPen(palette().windowText().color());
    p.drawText(rect(), Qt::AlignLeft | Qt::AlignVCenter, QString::fromStdString(text));
    return;
  }
  int x = 0;
  for (char c : text) {
    const int index = LedGlyphIndex(c);
    if (index >= 0) p.drawImage(QPoint(x, 0), digits_, QRect(index * w, 0, w, digits_.height()));
    x += w;
  }
}

void TLuiSkinLEDDigtal::mouseReleaseEvent(QMouseEvent* e) {
  if (e->button() != Qt::LeftButton || !rect().contains(e->position().toPoint())) return;
  SetRemaining(!remaining_);
  emit Clicked();
}

}  // namespace ml
