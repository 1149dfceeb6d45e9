// A D-Bus of the test's own for the program's desktop services: a dbus-daemon started for the
// test (never the machine's buses), optionally with python-dbusmock's logind on it, and what the
// test sees there (logind's inhibitor list, the dock's launcher-entry signals).
#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QObject>
#include <QString>
#include <QVariantMap>
#include <memory>
#include <string>
#include <vector>

#include "spawned_program.h"

// Where the tools are, found when the build was configured; empty when absent.
bool PrivateBusToolsPresent();

// One inhibitor as logind lists it.
struct ListedInhibitor {
  QString what;
  QString who;
  QString why;
  QString mode;
};

// One launcher-entry Update signal.
struct LauncherEntryUpdate {
  QString application;
  double progress = -1;
  bool progressVisible = false;
};

// A private bus in folder: Start() runs the daemon and connects the test to it. On the test's
// main thread; the daemon and the mock are killed with it.
class PrivateBus : public QObject {
  Q_OBJECT

 public:
  PrivateBus(std::string folder, std::string name);
  ~PrivateBus() override;

  // The daemon is listening and the test connected; false with the reason in failure().
  bool Start();
  // python-dbusmock's logind template on this bus (in place of the system bus's logind),
  // logging every call to its log file; true once its name is on the bus.
  bool StartMockLogind();
  // logind from now on takes every Inhibit request and never answers it.
  bool MakeLogindSilent();
  // logind from now on refuses (AccessDenied) every Inhibit request that names the lid switch
  // and takes the others as the template does.
  bool MakeLogindRefuseTheLidSwitch();

  QString address() const { return m_address; }
  std::string failure() const { return m_failure; }
  // The mock's log of method calls.
  QString MockLog() const;

  std::vector<ListedInhibitor> ListInhibitors();
  // The launcher-entry updates received so far (events are processed while waiting).
  const std::vector<LauncherEntryUpdate>& LauncherEntryUpdates() const { return m_updates; }
  // Lets Qt deliver what came in, for at most timeoutMs or until condition holds.
  static bool WaitFor(const std::function<bool()>& condition, int timeoutMs);

 private slots:
  void OnLauncherEntryUpdate(const QDBusMessage& message);

 private:
  // logind's Inhibit from now on runs code (python-dbusmock's method body) instead.
  bool ReplaceInhibit(const QString& code);

  std::string m_folder;
  std::string m_name;
  QString m_address;
  QString m_connectionName;
  std::string m_failure;
  std::unique_ptr<SpawnedProgram> m_daemon;
  std::unique_ptr<SpawnedProgram> m_mock;
  std::vector<LauncherEntryUpdate> m_updates;
};
