// Waiting on the Qt event loop until a condition comes true, with a guard against hanging.
#include "event_loop_wait.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <chrono>
#include <thread>

bool WaitUntil(const std::function<bool()>& condition, int timeoutMs) {
  QElapsedTimer elapsed;
  elapsed.start();
  while (!condition()) {
    if (elapsed.elapsed() > timeoutMs) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}
