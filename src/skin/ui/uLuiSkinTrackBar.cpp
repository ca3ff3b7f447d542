#include "skin/ui/uLuiSkinTrackBar.h"

#include "skin/ui/SkinQt.h"

#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>

#include <algorithm>

namespace ml {

TLuiSkinTrackBar::TLuiSkinTrackBar(TSkinTrackBarKind kind, QWidget* parent) : QWidget(parent), kind_(kind) {
  resize(100, 12);
}

void TLuiSkinTrackBar::SetMax(int max) {
  max_ = std::max(max, 0);
  position_ = std::clamp(position_, 0, max_);
  update();
}

void TLuiSkinTrackBar::SetPosition(int position) {
  // The program's updates wait while the user holds the thumb.
  if (dragging_) return;
  position = std::clamp(position, 0, max_);
  if (position == position_) return;
  position_ = position;
  update();
}

void TLuiSkinTrackBar::SetSelEnd(int selEnd) {
  selEnd_ = std::clamp(selEnd, 0, max_);
  update();
}

void TLuiSkinTrackBar::SetVertical(bool vertical) {
  vertical_ = vertical;
  update();
}

void TLuiSkinTrackBar::SetImages(const QImage& thumb, const QImage& fill, bool fulFill) {
  thumb_ = thumb;
  fill_ = fill;
  fulFill_ = fulFill;
  update();
}

void TLuiSkinTrackBar::UpdateSkin(bool miniMode, TColor tint, bool setRect) {
  const char* name = kind_ == TSkinTrackBarKind::tkVolume ? "volume" : kind_ == TSkinTrackBarKind::tkProgress ? "progress" : nullptr;
  SetInSkin(false);
  if (!name) return;
  const TLuiSkinManager& skin = *SkinManager();
  const TSkinTrackBarLook look = skin.GetTrackBar(TLuiSkinManager::MainForm(miniMode), name);
  SetInSkin(look.Found);
  if (!look.Found) return;
  vertical_ = look.Vertical;
  SetImages(LoadSkinImage(look.Thumb, tint), LoadSkinImage(look.Fill, tint), look.FulFill != 0);
  if (setRect && !look.Position.IsEmpty()) setGeometry(ToQRect(look.Position));
}

TTrackBarAxis TLuiSkinTrackBar::Axis() const {
  const int thumb = thumb_.isNull() ? 0 : vertical_ ? thumb_.height() : thumb_.width();
  return {vertical_ ? height() : width(), thumb, max_, vertical_};
}

void TLuiSkinTrackBar::paintEvent(QPaintEvent*) {
  QPainter p(this);
  const TTrackBarAxis axis = Axis();
  const int breadth = vertical_ ? width() : height();
  if (!fill_.isNull()) {
    // The fill picture covers the bar; the part up to the thumb shows, and what has arrived
    // shows faint beyond it.
    const QImage fill = fill_.scaled(size());
    if (selEnd_ > position_) {
      const QRect arrived = ToQRect(TrackBarFillRect(axis, selEnd_, breadth, true));
      p.setOpacity(0.35);
      p.drawImage(arrived, fill, arrived);
      p.setOpacity(1.0);
    }
    const QRect filled = ToQRect(TrackBarFillRect(axis, position_, breadth, fulFill_));
    p.drawImage(filled, fill, filled);
  }
  if (!thumb_.isNull()) {
    const int offset = TrackBarThumbOffset(axis, position_);
    const QPoint at = vertical_ ? QPoint((width() - thumb_.width()) / 2, offset)
                                : QPoint(offset, (height() - thumb_.height()) / 2);
    p.drawImage(at, thumb_);
  }
}

void TLuiSkinTrackBar::MoveTo(int pixel) {
  const int value = TrackBarValueAt(Axis(), pixel);
  if (value == position_) return;
  position_ = value;
  update();
  emit PositionChanged(position_);
}

void TLuiSkinTrackBar::mousePressEvent(QMouseEvent* e) {
  if (e->button() != Qt::LeftButton) return;
  dragging_ = true;
  MoveTo(vertical_ ? int(e->position().y()) : int(e->position().x()));
}

void TLuiSkinTrackBar::mouseMoveEvent(QMouseEvent* e) {
  if (dragging_) MoveTo(vertical_ ? int(e->position().y()) : int(e->position().x()));
}

void TLuiSkinTrackBar::mouseReleaseEvent(QMouseEvent* e) {
  if (e->button() != Qt::LeftButton || !dragging_) return;
  dragging_ = false;
  emit Released(position_);
}

void TLuiSkinTrackBar::wheelEvent(QWheelEvent* e) {
  const int step = std::max(1, max_ / 20) * (e->angleDelta().y() > 0 ? 1 : -1);
  const int value = std::clamp(position_ + step, 0, max_);
  if (value == position_) return;
  position_ = value;
  update();
  emit PositionChanged(position_);
  emit Released(position_);
}

}  // namespace ml
