#include "lyrics/ui/ufrmMiniLRC.h"

#include "lyrics/ui/ufmLRC.h"
#include "skin/ui/uLuiPanel.h"

#include <QMouseEvent>

#include <algorithm>

namespace ml {

TfrmMiniLRC::TfrmMiniLRC(QWidget* owner)
    : QWidget(owner, Qt::Tool | Qt::FramelessWindowHint), pnlMiniLRC_(new TLuiPanel(TLuiPanelKind::pkMiniLRC, this)) {
  pnlMiniLRC_->setObjectName("pnlMiniLRC");
  pnlMiniLRC_->SetBorderSize(PanelBorder);
  pnlMiniLRC_->setMouseTracking(true);
  pnlMiniLRC_->installEventFilter(this);
  resize(DefaultWidth, 60);
}

void TfrmMiniLRC::TakeFrame(TfmLRC* frame) {
  if (!frame || frame == frame_) return;
  GiveBackFrame();
  frame_ = frame;
  frameHome_ = frame->parentWidget();
  frameHomePlace_ = frame->geometry();
  // Hidden on purpose (a page not selected), not merely inside a window not shown yet.
  frameHomeHidden_ = frame->isHidden() && frame->testAttribute(Qt::WA_WState_ExplicitShowHide);
  frame->setParent(pnlMiniLRC_);
  Layout();
  frame->show();
}

TfmLRC* TfrmMiniLRC::GiveBackFrame() {
  TfmLRC* frame = frame_;
  if (!frame) return nullptr;
  frame_ = nullptr;
  frame->setParent(frameHome_);
  frame->setGeometry(frameHomePlace_);
  frame->setVisible(!frameHomeHidden_);
  return frame;
}

// The panel fills the window (whatever place a skin gives it); the frame fills the panel inside
// its border, leaving the resize strip at the right edge uncovered.
void TfrmMiniLRC::Layout() {
  if (pnlMiniLRC_->geometry() != rect()) pnlMiniLRC_->setGeometry(rect());
  if (frame_) frame_->setGeometry(rect().adjusted(PanelBorder, PanelBorder, -(PanelBorder + 1), -PanelBorder));
}

void TfrmMiniLRC::resizeEvent(QResizeEvent*) { Layout(); }

bool TfrmMiniLRC::eventFilter(QObject* watched, QEvent* event) {
  if (watched != pnlMiniLRC_) return QWidget::eventFilter(watched, event);
  switch (event->type()) {
    case QEvent::Move:
    case QEvent::Resize:
      Layout();
      break;
    case QEvent::MouseButtonPress:
      if (static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) resizing_ = true;
      return resizing_;
    case QEvent::MouseMove: {
      const int x = pnlMiniLRC_->mapTo(this, static_cast<QMouseEvent*>(event)->position().toPoint()).x();
      if (resizing_) resize(std::max(MinWidth, x), height());
      else if (NearRightEdge(x)) pnlMiniLRC_->setCursor(Qt::SizeHorCursor);
      else pnlMiniLRC_->unsetCursor();
      return resizing_;
    }
    case QEvent::MouseButtonRelease:
      if (!resizing_ || static_cast<QMouseEvent*>(event)->button() != Qt::LeftButton) break;
      resizing_ = false;
      emit MiniLRCWidthChanged(width());
      return true;
    default:
      break;
  }
  return QWidget::eventFilter(watched, event);
}

}  // namespace ml
