#include "app/ui/QtDispatcher.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QMetaObject>

#include <algorithm>

namespace ml {

TQtDispatcher::TQtDispatcher() {
  timer_.setSingleShot(true);
  timer_.setTimerType(Qt::PreciseTimer);
  connect(&timer_, &QTimer::timeout, this, [this] { Pump(); });
}

TQtDispatcher::~TQtDispatcher() { BeginShutdown(); }

void TQtDispatcher::WorkArrived() {
  // Many posts between two pumps cost one queued call.
  if (pumpQueued_.exchange(true)) return;
  QMetaObject::invokeMethod(
      this,
      [this] {
        pumpQueued_ = false;
        Pump();
      },
      Qt::QueuedConnection);
}

void TQtDispatcher::Pump() {
  ProcessPending();
  ScheduleNextTimer();
}

void TQtDispatcher::ScheduleNextTimer() {
  const std::optional<Millis> next = NextTimerDue();
  if (!next) {
    timer_.stop();
    return;
  }
  const Millis wait = std::max(Millis(0), *next - Clock().Now());
  timer_.start(int(std::min<Millis::rep>(wait.count(), 24 * 3600 * 1000)));
}

bool TQtDispatcher::WaitPumping(const std::function<bool()>& pred, Millis timeout) {
  const Millis deadline = Clock().Now() + timeout + Millis(1);
  QEventLoop loop;
  for (;;) {
    Pump();
    if (pred()) return true;
    const Millis now = Clock().Now();
    if (now >= deadline) return false;
    // Qt's events (ours among them) until something arrives, at most until the deadline or the
    // next timer of ours.
    Millis wait = deadline - now;
    if (const std::optional<Millis> next = NextTimerDue()) wait = std::min(wait, std::max(Millis(0), *next - now));
    QTimer wake;
    wake.setSingleShot(true);
    wake.start(int(std::max<Millis::rep>(wait.count(), 1)));
    loop.processEvents(QEventLoop::WaitForMoreEvents);
  }
}

}  // namespace ml
