// Helpers for the application shell's tests: event-loop waits, a guard name of their own,
// scoped environment variables, and a watcher that answers the update sequence's boxes.
#pragma once

#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <functional>
#include <optional>
#include <string>
#include <vector>

// Runs the event loop until condition holds; false if it has not after timeoutMs (a guard
// against hanging, never a measure of speed).
bool WaitUntil(const std::function<bool()>& condition, int timeoutMs = 30000);

// A connection-guard name used by no other test, program or parallel run.
std::string UniqueGuardName();

// Sets (or, with nullopt, removes) an environment variable for its lifetime. Only while no
// other thread of the test runs.
class ScopedEnvironment {
 public:
  ScopedEnvironment(const char* name, std::optional<std::string> value);
  ~ScopedEnvironment();

 private:
  std::string m_name;
  std::optional<std::string> m_previous;
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
