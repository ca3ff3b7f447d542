#include "skin/ui/uLuiScrollLabel.h"

#include "skin/ui/SkinQt.h"

#include <QFontMetrics>
#include <QPainter>
#include <QTimerEvent>

#include <algorithm>

namespace ml {

namespace {

constexpr int kScrollIntervalMs = 60;
constexpr int kPauseSteps = 25;  // 1.5 s at each end

const char* ElementName(TScrollLabelKind kind) {
  switch (kind) {
    case TScrollLabelKind::lkPlayInfo: return "PlayInfo";
    case TScrollLabelKind::lkBitrate: return "Bitrate";
    case TScrollLabelKind::lkSampleRate: return "SampleRate";
    case TScrollLabelKind::lkSelf: break;
  }
  return nullptr;
}

}  // namespace

TLuiScrollLabel::TLuiScrollLabel(TScrollLabelKind kind, QWidget* parent) : QWidget(parent), kind_(kind) {
  resize(120, 14);
}

void TLuiScrollLabel::SetText(const QString& text) {
  if (text == text_) return;
  text_ = text;
  Restart();
}

void TLuiScrollLabel::SetDisableScroll(bool disable) {
  disableScroll_ = disable;
  Restart();
}

void TLuiScrollLabel::SetAlignLeft(bool left) {
  alignLeft_ = left;
  update();
}

void TLuiScrollLabel::SetFontColor(TColor color) {
  fontColor_ = color;
  update();
}

int TLuiScrollLabel::Overflow() const { return QFontMetrics(font()).horizontalAdvance(text_) - width(); }

void TLuiScrollLabel::Restart() {
  offset_ = 0;
  direction_ = 1;
  pause_ = kPauseSteps;
  if (!disableScroll_ && Overflow() > 0)
    timer_.start(kScrollIntervalMs, this);
  else
    timer_.stop();
  update();
}

void TLuiScrollLabel::ScrollStep() {
  const int overflow = Overflow();
  if (overflow <= 0 || disableScroll_) return;
  if (pause_ > 0) {
    --pause_;
    return;
  }
  offset_ += direction_;
  if (offset_ >= overflow || offset_ <= 0) {
    offset_ = std::clamp(offset_, 0, overflow);
    direction_ = -direction_;
    pause_ = kPauseSteps;
  }
  update();
}

void TLuiScrollLabel::timerEvent(QTimerEvent* e) {
  if (e->timerId() == timer_.timerId()) ScrollStep();
}

void TLuiScrollLabel::resizeEvent(QResizeEvent*) { Restart(); }

void TLuiScrollLabel::UpdateSkin(bool miniMode, TColor tint, bool setRect) {
  const char* name = ElementName(kind_);
  SetInSkin(false);
  if (!name) return;
  const TSkinLabelLook look = SkinManager()->GetLabel(TLuiSkinManager::MainForm(miniMode), name);
  SetInSkin(look.Found);
  if (!look.Found) return;
  QFont f = font();
  if (!look.FontName.empty()) f.setFamily(QString::fromStdString(look.FontName));
  if (look.FontSize > 0) f.setPointSize(look.FontSize);
  setFont(f);
  fontColor_ = TintColor(look.FontColor, tint);
  alignLeft_ = look.AlignLeft;
  if (setRect && !look.Position.IsEmpty()) setGeometry(ToQRect(look.Position));
  Restart();
}

void TLuiScrollLabel::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setPen(ToQColor(fontColor_));
  if (Overflow() > 0) {
    p.drawText(QRect(-offset_, 0, width() + Overflow(), height()), Qt::AlignLeft | Qt::AlignVCenter, text_);
    return;
  }
  p.drawText(rect(), (alignLeft_ ? Qt::AlignLeft : Qt::AlignRight) | Qt::AlignVCenter, text_);
}

}  // namespace ml
