#pragma once
// Runs Qt's event loop until a condition holds or a time has passed, waiting between rounds
// (a bare processEvents returns at once when nothing is queued yet).
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <functional>

namespace ml::test {

inline bool PumpUntil(const std::function<bool()>& done, int timeoutMs = 5000) {
  QElapsedTimer clock;
  clock.start();
  while (!done()) {
    if (clock.elapsed() >= timeoutMs) return false;
    QEventLoop loop;
    QTimer::singleShot(5, &loop, &QEventLoop::quit);
    loop.exec();
  }
  return true;
}

}  // namespace ml::test
