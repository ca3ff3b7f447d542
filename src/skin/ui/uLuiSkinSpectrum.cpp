#include "skin/ui/uLuiSkinSpectrum.h"

#include "skin/SkinColors.h"
#include "skin/SkinElements.h"
#include "skin/ui/SkinQt.h"

#include <QLinearGradient>
#include <QPainter>

namespace ml {

TLuiSkinSpectrum::TLuiSkinSpectrum(QWidget* parent) : QWidget(parent) {
  resize(128, 40);
  BuildGradient();
}

void TLuiSkinSpectrum::SetColors(TColor start, TColor center, TColor end, TColor peek) {
  start_ = start, center_ = center, end_ = end, peek_ = peek;
  BuildGradient();
  update();
}

void TLuiSkinSpectrum::SetSpectrumEnabled(bool enabled) {
  enabled_ = enabled;
  update();
}

void TLuiSkinSpectrum::ShowLevels(const std::array<float, SpectrumLevelCount>& levels) {
  if (!enabled_) return;
  FitBars();
  bars_.ShowLevels(levels);
  update();
}

void TLuiSkinSpectrum::UpdateSkin(bool miniMode, TColor tint, bool setRect) {
  const TSkinElement* element = FindSkinElement("playerForm", "Visual");
  const TSkinColorsLook look = SkinManager()->GetColors("playerForm", "Visual", element->Colors);
  // The spectrum belongs to the normal layout only.
  SetInSkin(look.Found && !miniMode);
  if (!look.Found) return;
  SetColors(TintColor(look.Get("SpectrumStartColor"), tint), TintColor(look.Get("SpectrumCenterColor"), tint),
            TintColor(look.Get("SpectrumEndColor"), tint), TintColor(look.Get("SpectrumPeekColor"), tint));
  const TRect position = ParseSkinPosition(SkinManager()->Element("playerForm", "Visual").Attribute("position"));
  if (setRect && !position.IsEmpty()) setGeometry(ToQRect(position));
}

void TLuiSkinSpectrum::resizeEvent(QResizeEvent*) {
  FitBars();
  BuildGradient();
}

void TLuiSkinSpectrum::FitBars() {
  // A hidden control hears of its size only when shown: the bars follow the size it has now.
  if (barsSize_ == size()) return;
  barsSize_ = size();
  bars_.SetSize(width(), height());
}

void TLuiSkinSpectrum::BuildGradient() {
  gradient_ = QImage(3, std::max(1, height()), QImage::Format_ARGB32);
  QPainter p(&gradient_);
  QLinearGradient g(0, 0, 0, gradient_.height());
  g.setColorAt(0.0, ToQColor(start_));
  g.setColorAt(0.5, ToQColor(center_));
  g.setColorAt(1.0, ToQColor(end_));
  p.fillRect(gradient_.rect(), g);
}

void TLuiSkinSpectrum::paintEvent(QPaintEvent*) {
  if (!enabled_) return;
  QPainter p(this);
  const int h = bars_.Height();
  for (int c = 0; c < bars_.ColumnCount(); ++c) {
    const int b = std::min(bars_.Bar(c), h);
    if (b > 0) p.drawImage(QRect(bars_.ColumnX(c), h - b, 3, b), gradient_, QRect(0, h - b, 3, b));
    if (bars_.PeakY(c) >= 0) p.fillRect(QRect(bars_.ColumnX(c), bars_.PeakY(c), 3, 1), ToQColor(peek_));
  }
}

}  // namespace ml
