// Helpers for the view's tests: work on another thread, answering modal boxes from a timer,
// and a view that counts its step-timer ticks instead of running the sequence (WaitUntil
// comes along).
#pragma once

#include <QApplication>
#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QTimer>
#include <atomic>
#include <functional>
#include <thread>
#include <vector>

#include "event_loop_wait.h"
#include "update/view/fw_updater_view.h"

// Runs work on a thread of its own while the event loop serves it; joins it. False if the
// work did not end within timeoutMs (the thread is then still joined, so a hang shows).
bool RunOnOtherThread(const std::function<void()>& work, int timeoutMs = 20000);

// What a box showed when the driver met it.
struct SeenBox {
  QString title;
  QString windowSystemTitle;  // what the title bar is given
  QString text;
  QStringList buttons;  // in the order of QMessageBox::buttons()
  QString defaultButton;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
};

SeenBox Describe(QMessageBox& box);
// Clicks the box's button labelled text; false if there is none.
bool ClickButton(QMessageBox& box, const QString& text);

// Watches for the active modal message box from a 5 ms timer and hands each new one to the
// handler, which usually records it and clicks a button. Runs inside the box's own event loop.
class BoxDriver : public QObject {
 public:
  using Handler = std::function<void(QMessageBox& box)>;
  explicit BoxDriver(Handler handler);

  const std::vector<SeenBox>& seen() const { return m_seen; }

 private:
  void Poll();

  Handler m_handler;
  QTimer m_timer;
  QPointer<QObject> m_last;
  std::vector<SeenBox> m_seen;
};

// A view whose step-timer ticks are only counted, with the thread they arrived on.
class TickCountingView : public CFWUpdaterView {
 public:
  std::atomic<int> ticks{0};
  std::atomic<bool> offUiThreadTick{false};

 protected:
  void OnStepTimerTick() override {
    if (std::this_thread::get_id() != m_uiThread) offUiThreadTick = true;
    ++ticks;
  }

 private:
  const std::thread::id m_uiThread = std::this_thread::get_id();
};
