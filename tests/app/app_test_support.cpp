// Event-loop waits, unique guard names, scoped environment and the box watcher.
#include "app_test_support.h"

#include <unistd.h>

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QThread>
#include <algorithm>
#include <atomic>
#include <cstdlib>

bool WaitUntil(const std::function<bool()>& condition, int timeoutMs) {
  QElapsedTimer elapsed;
  elapsed.start();
  while (!condition()) {
    if (elapsed.elapsed() > timeoutMs) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    QThread::msleep(2);
  }
  return true;
}

std::string UniqueGuardName() {
  static std::atomic<int> counter{0};
  return "fwu-app-test-" + std::to_string(::getpid()) + "-" + std::to_string(counter++);
}

ScopedEnvironment::ScopedEnvironment(const char* name, std::optional<std::string> value)
    : m_name(name) {
  if (const char* previous = std::getenv(name)) m_previous = previous;
  if (value) {
    ::setenv(name, value->c_str(), 1);
  } else {
    ::unsetenv(name);
  }
}

ScopedEnvironment::~ScopedEnvironment() {
  if (m_previous) {
    ::setenv(m_name.c_str(), m_previous->c_str(), 1);
  } else {
    ::unsetenv(m_name.c_str());
  }
}

BoxWatcher::BoxWatcher(Handler handler) : m_handler(std::move(handler)) {
  if (!m_handler) {
    m_handler = [](QMessageBox& box) {
      if (QAbstractButton* escape = box.escapeButton()) {
        escape->click();
      } else {
        box.reject();
      }
    };
  }
  connect(&m_timer, &QTimer::timeout, this, &BoxWatcher::Poll);
  m_timer.start(10);
}

void BoxWatcher::Poll() {
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    auto* box = qobject_cast<QMessageBox*>(widget);
    if (box == nullptr || !box->isVisible()) continue;
    if (std::find(m_handled.begin(), m_handled.end(), box) != m_handled.end()) continue;
    m_handled.emplace_back(box);
    SeenBox seen;
    seen.title = box->windowTitle();
    seen.text = box->text();
    for (QAbstractButton* button : box->buttons()) seen.buttons << button->text();
    seen.icon = box->icon();
    m_seen.push_back(seen);
    m_handler(*box);
  }
}
