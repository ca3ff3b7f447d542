#include "lyrics/ui/LRScrollLRC.h"

#include "skin/ui/SkinQt.h"

#include <QEvent>
#include <QFontMetrics>
#include <QMouseEvent>
#include <QPainter>

namespace ml {

namespace {

int AlignFlags(const TLyricTextItem& item) {
  const int h = item.Align == TLyricAlign::Left ? Qt::AlignLeft : item.Align == TLyricAlign::Right ? Qt::AlignRight : Qt::AlignHCenter;
  return Qt::TextSingleLine | h | (item.VCenter ? Qt::AlignVCenter : Qt::AlignTop);
}

QRect QRectOf(const TLyricRect& r) { return QRect(r.Left, r.Top, r.Right - r.Left, r.Bottom - r.Top); }

}  // namespace

// The model measures with the control's font as it is at the moment of asking, so a font change
// needs nothing but a refresh.
class TLRScrollLRC::TFontMeasure : public TLyricTextMeasure {
public:
  explicit TFontMeasure(const QWidget& owner) : owner_(owner) {}
  int TextWidth(std::string_view utf8) const override {
    return QFontMetrics(owner_.font()).horizontalAdvance(QString::fromUtf8(utf8.data(), qsizetype(utf8.size())));
  }
  int TextHeight(std::string_view) const override { return QFontMetrics(owner_.font()).height(); }

private:
  const QWidget& owner_;
};

TLRScrollLRC::TLRScrollLRC(QWidget* parent)
    : QWidget(parent), measure_(std::make_unique<TFontMeasure>(*this)), model_(*measure_) {
  setAttribute(Qt::WA_OpaquePaintEvent);
  resize(100, 20);
  model_.OnChange = [this](int32_t time, bool& canChange) { emit Change(time, &canChange); };
  model_.OnChangePosition = [this](int32_t time) { emit ChangePosition(time); };
}

TLRScrollLRC::~TLRScrollLRC() = default;

void TLRScrollLRC::SyncState() {
  model_.Visible = isVisible();
  model_.Enabled = isEnabled();
}

// Every setting recomposes at the current position with the new value.
template <class T>
void TLRScrollLRC::Set(T& setting, T value) {
  setting = value;
  Refresh();
}

void TLRScrollLRC::SetKind(TLRScrollLRCKind kind) { Set(model_.Kind, kind); }
void TLRScrollLRC::SetBlendValue(int value) { Set(model_.BlendValue, value); }
void TLRScrollLRC::SetBackground(bool parentPicture) { Set(model_.Background, parentPicture); }
void TLRScrollLRC::SetBKColor(TLyricColor color) { Set(model_.BKColor, color); }
void TLRScrollLRC::SetIsSmall(bool small) { Set(model_.IsSmall, small); }
void TLRScrollLRC::SetLRCParse(TLRCParse* parser) { Set(model_.LRCParse, parser); }

void TLRScrollLRC::SetCurrentColor(TLyricColor color) {
  model_.SetCurrentColor(color);
  Refresh();
}

void TLRScrollLRC::SetScrollColor(TLyricColor color) {
  model_.SetScrollColor(color);
  Refresh();
}

void TLRScrollLRC::UpdatePosition(int32_t t) {
  SyncState();
  if (model_.UpdatePosition(t)) Paint();
}

void TLRScrollLRC::ClearLyrics() {
  model_.ClearLyrics();
  RebuildBackground();
  Paint();
}

void TLRScrollLRC::Refresh() {
  SyncState();
  model_.Refresh();
  RebuildBackground();
  Paint();
}

// The background every picture starts from: the colour, or in the horizontal and single-line
// layouts with Background, what the window shows under the control (its parents and the
// siblings there) without the control itself, which paints nothing while it is taken.
void TLRScrollLRC::RebuildBackground() {
  backgroundColor_ = ToQColor(model_.BKColor);
  backgroundSize_ = size();
  QWidget* top = window();
  // The colour alone needs no picture of the control's size (600 KB for the lyric window's).
  plainBackground_ = !model_.Frame().ParentBackground || top == this;
  if (plainBackground_) {
    background_ = QImage();
    return;
  }
  background_ = QImage(size(), QImage::Format_RGB32);
  if (background_.isNull()) return;
  background_.fill(backgroundColor_);
  QPainter p(&background_);
  // An opaque control is cut out of what its parents paint; for this one picture it is not.
  takingBackground_ = true;
  setAttribute(Qt::WA_OpaquePaintEvent, false);
  top->render(&p, QPoint(), QRegion(QRect(mapTo(top, QPoint(0, 0)), size())),
              QWidget::DrawWindowBackground | QWidget::DrawChildren);
  setAttribute(Qt::WA_OpaquePaintEvent, true);
  takingBackground_ = false;
}

void TLRScrollLRC::Paint() {
  if (backgroundSize_ != size()) RebuildBackground();
  update();
}

// The frame is drawn straight onto the screen's picture of the window: a picture of its own
// (another copy of the background's size, written at every line) is made only when asked for.
void TLRScrollLRC::DrawFrame(QPainter& p) const {
  p.setCompositionMode(QPainter::CompositionMode_Source);
  if (plainBackground_) p.fillRect(rect(), backgroundColor_);
  else p.drawImage(0, 0, background_);
  p.setCompositionMode(QPainter::CompositionMode_SourceOver);
  const TLyricFrame& frame = model_.Frame();
  p.setFont(font());
  for (const TLyricTextItem& item : frame.Texts) {
    p.setPen(ToQColor(item.Color));
    p.drawText(QRectOf(item.Rect), AlignFlags(item), QString::fromStdString(item.Text));
  }
  // The background laid over the outermost rows or columns, more opaque towards the edge.
  for (const TLyricEdgeBlend& blend : frame.Blends) {
    const QRect line = blend.Rows ? QRect(0, blend.Index, width(), 1) : QRect(blend.Index, 0, 1, height());
    p.setOpacity(blend.Alpha / 255.0);
    if (plainBackground_) p.fillRect(line, backgroundColor_);
    else p.drawImage(line, background_, line);
  }
  p.setOpacity(1);
  p.setPen(ToQColor(model_.CurrentColor()));
  for (const TLyricStroke& s : frame.Marker) p.drawLine(s.X1, s.Y1, s.X2, s.Y2);
  for (const TLyricTextItem& item : frame.MarkerText) {
    p.setPen(ToQColor(item.Color));
    p.drawText(QRectOf(item.Rect), AlignFlags(item), QString::fromStdString(item.Text));
  }
}

QImage TLRScrollLRC::Picture() const {
  if (backgroundSize_.isEmpty()) return {};
  QImage picture(backgroundSize_, QImage::Format_RGB32);
  QPainter p(&picture);
  DrawFrame(p);
  return picture;
}

void TLRScrollLRC::paintEvent(QPaintEvent*) {
  if (takingBackground_ || backgroundSize_.isEmpty()) return;
  QPainter p(this);
  DrawFrame(p);
}

void TLRScrollLRC::resizeEvent(QResizeEvent*) {
  model_.Resize(width(), height());
  RebuildBackground();
  Paint();
}

void TLRScrollLRC::changeEvent(QEvent* e) {
  if (e->type() == QEvent::FontChange || e->type() == QEvent::EnabledChange) Refresh();
  QWidget::changeEvent(e);
}

void TLRScrollLRC::showEvent(QShowEvent*) { Refresh(); }

void TLRScrollLRC::mousePressEvent(QMouseEvent* e) {
  if (e->button() != Qt::LeftButton) return QWidget::mousePressEvent(e);
  const QPoint at = e->position().toPoint();
  if (model_.MouseDown(at.x(), at.y())) Paint();
}

void TLRScrollLRC::mouseMoveEvent(QMouseEvent* e) {
  if (!model_.Dragging()) return QWidget::mouseMoveEvent(e);
  const QPoint at = e->position().toPoint();
  model_.MouseMove(at.x(), at.y());
  Paint();
}

void TLRScrollLRC::mouseReleaseEvent(QMouseEvent* e) {
  if (e->button() != Qt::LeftButton || !model_.Dragging()) return QWidget::mouseReleaseEvent(e);
  const QPoint at = e->position().toPoint();
  model_.MouseUp(at.x(), at.y());
  Paint();
}

}  // namespace ml
