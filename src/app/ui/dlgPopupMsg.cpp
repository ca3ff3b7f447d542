#include "app/ui/dlgPopupMsg.h"

#include <QDesktopServices>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QUrl>

#include <algorithm>

namespace ml {

namespace {
constexpr int kTitleBand = 24, kTextInset = 10, kExtraHeight = 68;
}

TdlgPopupMsg::TdlgPopupMsg(QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint) {
  setObjectName("dlgPopupMsg");
  setAttribute(Qt::WA_ShowWithoutActivating);
  setStyleSheet(
      "#dlgPopupMsg { background: white; border: 1px solid #3a6ea5; }"
      "#band { background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 #5b8cc4, stop:1 #2f5f96); }"
      "QLabel#caption { color: white; font-weight: bold; }"
      "QPushButton#close { color: white; border: none; background: transparent; }");
  auto* band = new QWidget(this);
  band->setObjectName("band");
  band->setGeometry(1, 1, kWidth - 2, kTitleBand);
  caption_ = new QLabel(band);
  caption_->setObjectName("caption");
  caption_->setGeometry(kTextInset, 0, kWidth - 50, kTitleBand);
  close_ = new QPushButton(QStringLiteral("×"), band);
  close_->setObjectName("close");
  close_->setGeometry(kWidth - 28, 2, 22, kTitleBand - 4);
  connect(close_, &QPushButton::clicked, this, &TdlgPopupMsg::HideNotice);
  message_ = new QLabel(this);
  message_->setWordWrap(true);
  message_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  message_->setTextInteractionFlags(Qt::LinksAccessibleByMouse);
  connect(message_, &QLabel::linkActivated, this, [this] {
    if (!link_.isEmpty()) QDesktopServices::openUrl(QUrl::fromUserInput(link_));
  });
  options_ = new QLabel(QStringLiteral("<a href=\"options\">选项(&amp;O)</a>"), this);
  connect(options_, &QLabel::linkActivated, this, [this] { emit OptionsClicked(); });
  slide_.setInterval(15);
  connect(&slide_, &QTimer::timeout, this, &TdlgPopupMsg::SlideStep);
  autoHide_.setSingleShot(true);
  connect(&autoHide_, &QTimer::timeout, this, &TdlgPopupMsg::HideNotice);
  resize(kWidth, kTitleBand + kExtraHeight);
}

QString TdlgPopupMsg::Caption() const { return caption_->text(); }
QString TdlgPopupMsg::Text() const { return message_->text(); }

int TdlgPopupMsg::FullHeight(const QString& text) const {
  const QRect r = QFontMetrics(message_->font()).boundingRect(QRect(0, 0, kWidth - 2 * kTextInset, 10000),
                                                               Qt::TextWordWrap, text);
  return r.height() + kExtraHeight;
}

QRect TdlgPopupMsg::TargetRect() const {
  const QScreen* screen = QGuiApplication::primaryScreen();
  const QRect work = screen ? screen->availableGeometry() : QRect(0, 0, 1024, 768);
  return QRect(work.right() + 1 - kRightMargin - kWidth, work.bottom() + 1 - fullHeight_, kWidth, fullHeight_);
}

void TdlgPopupMsg::ShowNotice(const TNotice& notice) {
  const QString text = QString::fromStdString(notice.Text);
  link_ = QString::fromStdString(notice.Link);
  caption_->setText(QString::fromStdString(notice.Caption));
  message_->setText(link_.isEmpty() ? text.toHtmlEscaped()
                                    : QStringLiteral("<a href=\"link\">%1</a>").arg(text.toHtmlEscaped()));
  message_->setCursor(link_.isEmpty() ? Qt::ArrowCursor : Qt::PointingHandCursor);
  options_->setVisible(notice.OptionsLink);
  fullHeight_ = FullHeight(text);
  message_->setGeometry(kTextInset, kTitleBand + 8, kWidth - 2 * kTextInset, fullHeight_ - kTitleBand - 32);
  options_->setGeometry(kWidth - 70, fullHeight_ - 22, 60, 18);
  if (notice.AutoHideMs >= 0) autoHide_.start(notice.AutoHideMs);
  else autoHide_.stop();
  hiding_ = false;
  if (isVisible() && !slide_.isActive()) {
    setGeometry(TargetRect());
    return;
  }
  // A new notice during a slide stops it where it is and slides in from there.
  slideClock_.start();
  slide_.start();
  SlideStep();
  show();
}

void TdlgPopupMsg::HideNotice() {
  if (!isVisible()) return;
  autoHide_.stop();
  hiding_ = true;
  slideClock_.start();
  slide_.start();
}

void TdlgPopupMsg::SlideStep() {
  const double f = std::min(1.0, slideClock_.elapsed() / double(kSlideMs));
  const double shown = hiding_ ? 1.0 - f : f;
  const QRect target = TargetRect();
  const int visible = std::max(1, int(target.height() * shown));
  setGeometry(target.left(), target.bottom() + 1 - visible, target.width(), target.height());
  // Only the part above the screen's edge is the window: clip it there.
  setMask(QRegion(0, 0, target.width(), visible));
  if (f < 1.0) return;
  slide_.stop();
  clearMask();
  if (hiding_) {
    hiding_ = false;
    hide();
  }
}

}  // namespace ml
