#include "skin/ui/uLuiSkinPlayForm.h"

#include "skin/ui/SkinQt.h"

#include <QMouseEvent>
#include <QPainter>
#include <QScreen>

#include <algorithm>

namespace ml {

namespace {

Qt::CursorShape CursorFor(TSkinHit hit) {
  switch (hit) {
    case hitLeft: case hitRight: return Qt::SizeHorCursor;
    case hitTop: case hitBottom: return Qt::SizeVerCursor;
    case hitTopLeft: case hitBottomRight: return Qt::SizeFDiagCursor;
    case hitTopRight: case hitBottomLeft: return Qt::SizeBDiagCursor;
    default: return Qt::ArrowCursor;
  }
}

}  // namespace

std::vector<TLuiSkinPlayForm*>& TLuiSkinPlayForm::Live() {
  static std::vector<TLuiSkinPlayForm*> live;
  return live;
}

TLuiSkinPlayForm::TLuiSkinPlayForm(TSkinFormKind kind, QString selfForm, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint), kind_(kind), selfForm_(std::move(selfForm)) {
  setMouseTracking(true);
  setAttribute(Qt::WA_NoSystemBackground);
  Live().push_back(this);
}

TLuiSkinPlayForm::~TLuiSkinPlayForm() { std::erase(Live(), this); }

TLuiSkinPlayForm* TLuiSkinPlayForm::FormOfKind(TSkinFormKind kind) {
  if (kind == TSkinFormKind::fkSelf) return nullptr;
  for (TLuiSkinPlayForm* f : Live())
    if (f->kind_ == kind) return f;
  return nullptr;
}

QString TLuiSkinPlayForm::FormName(bool miniMode) const {
  switch (kind_) {
    case TSkinFormKind::fkMain: return TLuiSkinManager::MainForm(miniMode);
    case TSkinFormKind::fkLRC: return "lyricForm";
    case TSkinFormKind::fkEQ: return "equalizerForm";
    case TSkinFormKind::fkWeb: return "webForm";
    case TSkinFormKind::fkSelf: break;
  }
  return selfForm_;
}

void TLuiSkinPlayForm::SetBorders(const TSkinBorders& b) {
  borders_ = {SkinBorderWidth(b.Left), SkinBorderWidth(b.Top), SkinBorderWidth(b.Right), SkinBorderWidth(b.Bottom)};
}

void TLuiSkinPlayForm::SetGlyph(const QImage& image, int seperateX, int seperateY) {
  glyph_ = image;
  seperateX_ = seperateX;
  seperateY_ = seperateY;
  // A skin that names no separation point draws the window at its picture's size.
  resizable_ = seperateX > 0 && seperateY > 0;
  if (glyph_.isNull()) {
    setMinimumSize(0, 0);
    setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
  } else if (resizable_) {
    setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    setMinimumSize(glyph_.size());
  } else {
    setFixedSize(glyph_.size());
  }
  Repaint();
}

void TLuiSkinPlayForm::Repaint() {
  if (glyph_.isNull()) {
    painted_ = QImage();
    shape_.clear();
    clearMask();
  } else {
    const TSkinImage glyph = ToSkinImage(glyph_);
    if (size() == glyph_.size()) {
      // At the picture's own size the form is the picture: it is shared, not copied (a window of
      // the built-in skin holds some 700 KB less this way).
      painted_ = glyph_;
      shape_ = ShapeRects(glyph);
    } else {
      const TSkinImage composed = ComposeNineSlice(glyph, seperateX_, seperateY_, width(), height());
      painted_ = ToQImage(composed);
      shape_ = ShapeRects(composed);
    }
    setMask(ToQRegion(shape_));
  }
  update();
  emit RegionChanged();
}

void TLuiSkinPlayForm::UpdateSkin(bool miniMode, TColor tint, bool setRect) {
  const TLuiSkinManager& skin = *SkinManager();
  const TSkinFormLook look = skin.GetForm(FormName(miniMode).toStdString());
  SetInSkin(look.Found);
  if (!look.Found) return;
  QPalette pal = palette();
  pal.setColor(QPalette::Window, ToQColor(TintColor(look.Color, tint)));
  setPalette(pal);
  const QImage image = LoadSkinImage(look.Image, tint);
  if (image.isNull()) return;
  // A layout switch takes the picture's size, the size the controls' skin places are for; a new
  // tint keeps the size the user gave.
  if (setRect) {
    layoutSize_ = image.size();
    resize(image.size());
  }
  SetGlyph(image, look.SeperateX, look.SeperateY);
}

TSkinHit TLuiSkinPlayForm::HitTest(const QPoint& p) const {
  return SkinHitTest(width(), height(), p.x(), p.y(), borders_, resizable_);
}

void TLuiSkinPlayForm::paintEvent(QPaintEvent*) {
  QPainter p(this);
  if (painted_.isNull()) {
    p.fillRect(rect(), palette().window());
    return;
  }
  p.setCompositionMode(QPainter::CompositionMode_Source);
  p.drawImage(0, 0, painted_);
}

void TLuiSkinPlayForm::resizeEvent(QResizeEvent*) {
  AnchorChildren();
  if (!painted_.isNull() && painted_.size() == size()) return;
  if (!glyph_.isNull()) Repaint();
}

void TLuiSkinPlayForm::AnchorChildren() {
  const QSize was = layoutSize_;
  layoutSize_ = size();
  if (!resizable_ || !was.isValid()) return;
  const int dx = width() - was.width(), dy = height() - was.height();
  if (dx == 0 && dy == 0) return;
  for (QWidget* child : findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
    // A control of fixed size (a button, the time) never stretches: it goes with the side its
    // middle is on.
    const QRect g = child->geometry();
    const QSizePolicy policy = child->sizePolicy();
    auto follow = [](int& low, int& high, int separation, int delta, bool fixed) {
      if (fixed) {
        if (low + (high - low) / 2 > separation) low += delta, high += delta;
        return;
      }
      if (low > separation) low += delta;
      if (high > separation) high += delta;
    };
    int left = g.left(), top = g.top(), right = g.left() + g.width(), bottom = g.top() + g.height();
    follow(left, right, seperateX_, dx, policy.horizontalPolicy() == QSizePolicy::Fixed);
    follow(top, bottom, seperateY_, dy, policy.verticalPolicy() == QSizePolicy::Fixed);
    child->setGeometry(left, top, right - left, bottom - top);
  }
}

void TLuiSkinPlayForm::MoveSnapped(const QPoint& topLeft) {
  const QRect wanted(topLeft, size());
  std::vector<TRect> others;
  std::vector<TLuiSkinPlayForm*> windows;
  for (TLuiSkinPlayForm* f : Live())
    if (f != this && f->isVisible() && f->isWindow()) {
      others.push_back(ToTRect(f->frameGeometry()));
      windows.push_back(f);
    }
  const QScreen* s = screen();
  const TRect work = s ? ToTRect(s->availableGeometry()) : TRect{};
  const TRect snapped = SnapMove(ToTRect(wanted), work, others);
  const QPoint delta = QPoint(snapped.Left, snapped.Top) - pos();
  if (delta.isNull()) return;
  if (kind_ == TSkinFormKind::fkMain) {
    const std::vector<bool> docked = DockedWindows(ToTRect(frameGeometry()), others);
    for (size_t i = 0; i < windows.size(); ++i)
      if (docked[i]) windows[i]->move(windows[i]->pos() + delta);
  }
  move(pos() + delta);
}

void TLuiSkinPlayForm::mousePressEvent(QMouseEvent* e) {
  if (e->button() != Qt::LeftButton) return;
  drag_ = HitTest(e->position().toPoint());
  dragFrom_ = e->globalPosition().toPoint();
  dragStart_ = geometry();
}

void TLuiSkinPlayForm::mouseMoveEvent(QMouseEvent* e) {
  if (drag_ == hitNowhere) {
    setCursor(CursorFor(HitTest(e->position().toPoint())));
    return;
  }
  const QPoint d = e->globalPosition().toPoint() - dragFrom_;
  if (drag_ == hitMove) {
    MoveSnapped(dragStart_.topLeft() + d);
    return;
  }
  QRect r = dragStart_;
  const QSize least = minimumSize();
  if (drag_ == hitLeft || drag_ == hitTopLeft || drag_ == hitBottomLeft)
    r.setLeft(std::min(r.left() + d.x(), r.right() + 1 - least.width()));
  if (drag_ == hitRight || drag_ == hitTopRight || drag_ == hitBottomRight)
    r.setRight(std::max(r.right() + d.x(), r.left() + least.width() - 1));
  if (drag_ == hitTop || drag_ == hitTopLeft || drag_ == hitTopRight)
    r.setTop(std::min(r.top() + d.y(), r.bottom() + 1 - least.height()));
  if (drag_ == hitBottom || drag_ == hitBottomLeft || drag_ == hitBottomRight)
    r.setBottom(std::max(r.bottom() + d.y(), r.top() + least.height() - 1));
  setGeometry(r);
}

void TLuiSkinPlayForm::mouseReleaseEvent(QMouseEvent* e) {
  if (e->button() == Qt::LeftButton) drag_ = hitNowhere;
}

}  // namespace ml
