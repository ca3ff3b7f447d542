#include "skin/ui/uLuiSkinButton.h"

#include "skin/ui/SkinQt.h"

#include <QMouseEvent>
#include <QPainter>

namespace ml {

TLuiSkinButton::TLuiSkinButton(TSkinButtonKind kind, QWidget* parent) : QWidget(parent), kind_(kind) {
  resize(22, 23);
  setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
  setAttribute(Qt::WA_Hover);
}

void TLuiSkinButton::SetGlyph(const QImage& strip, int numGlyphs) {
  glyph_ = strip;
  numGlyphs_ = numGlyphs;
  update();
}

void TLuiSkinButton::SetCheck(bool check) {
  if (check_ == check) return;
  check_ = check;
  update();
}

void TLuiSkinButton::SetDown(bool down) {
  if (groupIndex_ == 0 || down == Down()) return;
  if (!down && !allowAllUp_) return;
  press_ = down ? TButtonPress::Latched : TButtonPress::Up;
  if (down && parentWidget())
    for (auto* other : parentWidget()->findChildren<TLuiSkinButton*>(Qt::FindDirectChildrenOnly))
      if (other != this && other->groupIndex_ == groupIndex_ && other->Down()) {
        other->press_ = TButtonPress::Up;
        other->update();
      }
  update();
}

int TLuiSkinButton::CurrentFrame() const {
  return ButtonFrameIndex({numGlyphs_, isEnabled(), press_, hovered_, check_});
}

void TLuiSkinButton::UpdateSkin(bool miniMode, TColor tint, bool setRect) {
  const TSkinButtonElement where = SkinButtonElement(kind_);
  SetInSkin(false);
  if (!where.Element) return;
  const TLuiSkinManager& skin = *SkinManager();
  const char* form = where.Form ? where.Form : TLuiSkinManager::ButtonForm(where.Element, miniMode);
  const TSkinButtonLook look = skin.GetButton(form, where.Element);
  SetInSkin(look.Found);
  if (!look.Found) return;
  // A button's strip takes its own top-left pixel as the key.
  const QImage strip = LoadSkinImage(look.Image, tint, TSkinKey::TopLeft);
  if (strip.isNull()) return;
  glyph_ = strip;
  const QSize frame(numGlyphs_ > 0 ? strip.width() / numGlyphs_ : 0, strip.height());
  const bool pageButton = kind_ == TSkinButtonKind::bkPrevPage || kind_ == TSkinButtonKind::bkNextPage;
  if (setRect && !pageButton && !look.Position.IsEmpty())
    setGeometry(ToQRect(look.Position));
  else
    resize(frame);
  update();
}

void TLuiSkinButton::paintEvent(QPaintEvent*) {
  QPainter p(this);
  if (glyph_.isNull()) {
    p.fillRect(rect(), palette().button());
    return;
  }
  const TRect source = ButtonFrameRect(glyph_.width(), glyph_.height(), numGlyphs_, CurrentFrame());
  if (source.Width() <= 0) return;
  p.setRenderHint(QPainter::SmoothPixmapTransform, false);
  p.drawImage(rect(), glyph_, ToQRect(source));
}

void TLuiSkinButton::enterEvent(QEnterEvent*) {
  if (!isEnabled()) return;
  hovered_ = true;
  update();
}

void TLuiSkinButton::leaveEvent(QEvent*) {
  if (held_) return;
  hovered_ = false;
  update();
}

void TLuiSkinButton::mousePressEvent(QMouseEvent* e) {
  if (e->button() != Qt::LeftButton || !isEnabled()) return;
  if (press_ != TButtonPress::Latched) press_ = TButtonPress::Pressed;
  held_ = true;
  update();
}

void TLuiSkinButton::mouseMoveEvent(QMouseEvent* e) {
  if (!held_) return;
  if (press_ == TButtonPress::Latched) return;
  const TButtonPress now = rect().contains(e->position().toPoint()) ? TButtonPress::Pressed : TButtonPress::Up;
  if (now != press_) {
    press_ = now;
    update();
  }
}

void TLuiSkinButton::mouseReleaseEvent(QMouseEvent* e) {
  if (e->button() != Qt::LeftButton || !held_) return;
  held_ = false;
  const bool inside = rect().contains(e->position().toPoint());
  if (groupIndex_ == 0) {
    press_ = TButtonPress::Up;
  } else {
    if (press_ == TButtonPress::Pressed) press_ = TButtonPress::Up;
    if (inside) SetDown(!Down());
  }
  hovered_ = inside;
  update();
  if (inside) emit Clicked();
}

void TLuiSkinButton::mouseDoubleClickEvent(QMouseEvent* e) {
  if (Down()) emit DoubleClicked();
  mousePressEvent(e);
}

void TLuiSkinButton::changeEvent(QEvent* e) {
  if (e->type() == QEvent::EnabledChange) {
    if (!isEnabled()) hovered_ = false;
    update();
  }
  QWidget::changeEvent(e);
}

}  // namespace ml
