// Helpers for the application shell's tests: a guard name of their own, the start of one whole
// update, and a watcher that answers the update sequence's boxes (WaitUntil comes along).
#pragma once

#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QTimer>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "event_loop_wait.h"
#include "scoped_environment.h"

// A connection-guard name used by no other test, program or parallel run.
std::string UniqueGuardName();

using test_support::ScopedEnvironment;

// What a start needs for one whole update, for as long as it lives: a firmware file
// (SC5_Firmware_v1.3.bin, 64 KiB) in a temporary folder that is the firmware source, and the
// simulated library playing one good device. The destructor takes the source back.
class OneGoodDeviceStart {
 public:
  OneGoodDeviceStart();
  ~OneGoodDeviceStart();
  OneGoodDeviceStart(const OneGoodDeviceStart&) = delete;
  OneGoodDeviceStart& operator=(const OneGoodDeviceStart&) = delete;

 private:
  QTemporaryDir m_folder;
  std::optional<ScopedEnvironment> m_device;
};

// What a message box showed.
struct SeenBox {
  QString title;
  QString text;
  QStringList buttons;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
};

// Watches the visible message boxes from a timer and hands each new one to the handler; the
// default handler records it and presses its escape button (for the sequence's "no firmware
// file" box that is OK, after which the sequence tries again a second later). So the update
// running behind a test never waits for a person and never ends the application.
class BoxWatcher : public QObject {
 public:
  using Handler = std::function<void(QMessageBox& box)>;
  explicit BoxWatcher(Handler handler = {});

  const std::vector<SeenBox>& seen() const { return m_seen; }

 private:
  void Poll();

  Handler m_handler;
  QTimer m_timer;
  std::vector<QPointer<QMessageBox>> m_handled;
  std::vector<SeenBox> m_seen;
};
