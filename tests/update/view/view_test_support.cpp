// Work on another thread, the modal-box driver and the tick-counting view of the view's tests.
#include "view_test_support.h"

#include <QAbstractButton>
#include <QPushButton>
#include <QWindow>

bool RunOnOtherThread(const std::function<void()>& work, int timeoutMs) {
  std::atomic<bool> done{false};
  std::thread thread([&] {
    work();
    done = true;
  });
  const bool finished = WaitUntil([&] { return done.load(); }, timeoutMs);
  thread.join();
  return finished;
}

SeenBox Describe(QMessageBox& box) {
  SeenBox seen;
  seen.title = box.windowTitle();
  if (QWindow* window = box.windowHandle()) seen.windowSystemTitle = window->title();
  seen.text = box.text();
  for (QAbstractButton* button : box.buttons()) seen.buttons << button->text();
  if (QPushButton* button = box.defaultButton()) seen.defaultButton = button->text();
  seen.icon = box.icon();
  return seen;
}

bool ClickButton(QMessageBox& box, const QString& text) {
  for (QAbstractButton* button : box.buttons()) {
    if (button->text() == text) {
      button->click();
      return true;
    }
  }
  return false;
}

BoxDriver::BoxDriver(Handler handler) : m_handler(std::move(handler)) {
  connect(&m_timer, &QTimer::timeout, this, &BoxDriver::Poll);
  m_timer.start(5);
}

void BoxDriver::Poll() {
  auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
  if (!box || !box->isVisible() || box == m_last) return;
  m_last = box;
  m_seen.push_back(Describe(*box));
  m_handler(*box);
}
