#include "skin/ui/uLuiSkinScrollBar.h"

#include "skin/ui/SkinQt.h"

#include <QMouseEvent>
#include <QPainter>
#include <QTimerEvent>
#include <QWheelEvent>

#include <algorithm>

namespace ml {

namespace {
constexpr int kMinSlider = 12;
constexpr int kRepeatMs = 80;
}  // namespace

TLuiSkinScrollBar::TLuiSkinScrollBar(Qt::Orientation kind, QWidget* parent) : QWidget(parent), kind_(kind) {
  resize(kind == Qt::Vertical ? QSize(14, 100) : QSize(100, 14));
}

void TLuiSkinScrollBar::SetRange(int min, int max) {
  min_ = min;
  max_ = std::max(min, max);
  SetPosition(position_);
  update();
}

void TLuiSkinScrollBar::SetPageStep(int largeChange) {
  largeChange_ = std::max(1, largeChange);
  update();
}

void TLuiSkinScrollBar::SetPosition(int position) {
  position = std::clamp(position, min_, max_);
  if (position == position_) return;
  position_ = position;
  update();
  emit PositionChanged(position_);
}

void TLuiSkinScrollBar::SetImages(const QImage& slider, const QImage& buttons, const QImage& background) {
  slider_ = slider, buttons_ = buttons, background_ = background;
  update();
}

void TLuiSkinScrollBar::UpdateSkin(bool, TColor tint, bool) {
  const TLuiSkinManager& skin = *SkinManager();
  const TXmlNode bar = skin.Element("playerForm", "ScrollBar");
  SetInSkin(bool(bar));
  if (!bar) return;
  SetImages(LoadSkinImage(skin.Image(bar, "ScrollbarSlider"), tint),
            LoadSkinImage(skin.Image(bar, "ScrollbarButton"), tint),
            LoadSkinImage(skin.Image(bar, "ScrollbarBG"), tint));
}

int TLuiSkinScrollBar::Length() const { return kind_ == Qt::Vertical ? height() : width(); }
int TLuiSkinScrollBar::Breadth() const { return kind_ == Qt::Vertical ? width() : height(); }
int TLuiSkinScrollBar::Along(const QPoint& p) const { return kind_ == Qt::Vertical ? p.y() : p.x(); }

int TLuiSkinScrollBar::SliderLength() const {
  const int track = std::max(0, Length() - 2 * Breadth());
  const int64_t span = int64_t(max_ - min_) + largeChange_;
  return std::clamp(int(int64_t(track) * largeChange_ / std::max<int64_t>(span, 1)), std::min(kMinSlider, track), track);
}

QRect TLuiSkinScrollBar::SliderRect() const {
  const int track = std::max(0, Length() - 2 * Breadth()), length = SliderLength();
  const int travel = track - length;
  const int offset = max_ > min_ ? int(int64_t(travel) * (position_ - min_) / (max_ - min_)) : 0;
  const int start = Breadth() + offset;
  return kind_ == Qt::Vertical ? QRect(0, start, Breadth(), length) : QRect(start, 0, length, Breadth());
}

void TLuiSkinScrollBar::paintEvent(QPaintEvent*) {
  QPainter p(this);
  if (!background_.isNull())
    p.drawImage(rect(), background_);
  else
    p.fillRect(rect(), palette().window());
  const int b = Breadth();
  const QRect first(0, 0, b, b);
  const QRect last = kind_ == Qt::Vertical ? QRect(0, height() - b, b, b) : QRect(width() - b, 0, b, b);
  const int frame = buttons_.width() / 4;
  if (frame > 0) {
    p.drawImage(first, buttons_, QRect((repeat_ < 0 ? 2 : 0) * frame, 0, frame, buttons_.height()));
    p.drawImage(last, buttons_, QRect((repeat_ > 0 ? 3 : 1) * frame, 0, frame, buttons_.height()));
  }
  if (max_ > min_) {
    if (!slider_.isNull())
      p.drawImage(SliderRect(), slider_);
    else
      p.fillRect(SliderRect(), palette().button());
  }
}

void TLuiSkinScrollBar::mousePressEvent(QMouseEvent* e) {
  if (e->button() != Qt::LeftButton) return;
  const QPoint at = e->position().toPoint();
  const int along = Along(at), b = Breadth();
  if (along < b || along >= Length() - b) {
    repeat_ = along < b ? -1 : 1;
    SetPosition(position_ + repeat_ * smallChange_);
    repeatTimer_.start(kRepeatMs, this);
    update();
  } else if (SliderRect().contains(at)) {
    dragFrom_ = along;
    dragPosition_ = position_;
  } else {
    SetPosition(position_ + (along < Along(SliderRect().topLeft()) ? -largeChange_ : largeChange_));
  }
}

void TLuiSkinScrollBar::mouseMoveEvent(QMouseEvent* e) {
  if (dragFrom_ < 0) return;
  const int travel = std::max(1, Length() - 2 * Breadth() - SliderLength());
  const int moved = Along(e->position().toPoint()) - dragFrom_;
  SetPosition(dragPosition_ + int(int64_t(moved) * (max_ - min_) / travel));
}

void TLuiSkinScrollBar::mouseReleaseEvent(QMouseEvent*) {
  dragFrom_ = -1;
  repeat_ = 0;
  repeatTimer_.stop();
  update();
}

void TLuiSkinScrollBar::wheelEvent(QWheelEvent* e) {
  SetPosition(position_ - (e->angleDelta().y() / 120) * 3 * smallChange_);
}

void TLuiSkinScrollBar::timerEvent(QTimerEvent* e) {
  if (e->timerId() == repeatTimer_.timerId() && repeat_ != 0) SetPosition(position_ + repeat_ * smallChange_);
}

}  // namespace ml
