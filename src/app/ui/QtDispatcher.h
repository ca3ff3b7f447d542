#pragma once
// The dispatcher of the desktop program: the same queue, timers and sends as the other programs'
// loop, run by Qt's event loop. Work posted from any thread wakes Qt with one queued call; the
// next timer is a single-shot QTimer. Waiting while pumping also runs Qt's own events, so the
// windows stay alive while the program waits for an answer.
#include "base/EventLoop.h"

#include <QObject>
#include <QTimer>

#include <atomic>

namespace ml {

class TQtDispatcher final : public QObject, public EventLoop {
  Q_OBJECT
public:
  // On the thread that runs the QCoreApplication, after it exists.
  TQtDispatcher();
  ~TQtDispatcher() override;

  bool WaitPumping(const std::function<bool()>& pred, Millis timeout) override;

protected:
  void WorkArrived() override;

private:
  // On Qt's thread: what is queued and due runs, and the timer is set for the next one.
  void Pump();
  void ScheduleNextTimer();

  QTimer timer_;
  std::atomic<bool> pumpQueued_{false};
};

}  // namespace ml
