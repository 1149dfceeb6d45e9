// The desktop session over D-Bus: a logind inhibitor lock on the system bus keeps the computer
// from sleeping while the device is written, and the launcher-entry signal on the session bus
// puts the progress on the dock.
#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>

#include "platform/desktop_session.h"

namespace platform {

// Lives on the thread that created it (the UI thread), which must run a Qt event loop; a call
// from another thread is queued there in order. Nothing touches a bus before the first
// WritingStarted, so start-up never waits for one; the buses are then connected once (from
// DBUS_SYSTEM_BUS_ADDRESS and DBUS_SESSION_BUS_ADDRESS, or the standard places).
//
// The lock: org.freedesktop.login1.Manager.Inhibit("sleep:idle:handle-lid-switch", who, why,
// "block"), asked again with "sleep:idle" when logind refuses that. The call is asynchronous
// with a time limit: the write never waits for it, and an answer that comes after the
// stretch has ended is closed at once. The lock is released by closing its descriptor the
// moment the stretch ends. Without a system bus or logind there is no lock and one line on
// standard error, once per process.
//
// The dock: com.canonical.Unity.LauncherEntry.Update("application://<desktop file id>",
// {progress, progress-visible}), progress-visible false when the stretch ends. Without a
// session bus nothing is sent.
class DbusDesktopSession : public QObject, public DesktopSession {
  Q_OBJECT

 public:
  struct Identity {
    QString programName;    // who holds the lock
    QString inhibitReason;  // why, already translated
    QString desktopFileId;  // e.g. "FWUpdater.AppID.NoVersion.desktop"
  };

  explicit DbusDesktopSession(Identity identity, QObject* parent = nullptr);
  // Ends a stretch still open: the lock is released and the progress hidden.
  ~DbusDesktopSession() override;

  void WritingStarted() override;
  void WritingProgress(int percent) override;
  void WritingStopped() override;

  // True while this process holds an inhibitor lock. Own thread; for tests.
  bool HoldsLock() const { return m_lockDescriptor >= 0; }

 private:
  // Runs action on the object's own thread: at once when called there, queued otherwise. The
  // queue is ours, behind our mutex, and the wake-up carries no data, so everything the other
  // thread hands over is ordered by that mutex.
  void OnOwnThread(std::function<void()> action);
  Q_INVOKABLE void RunPending();
  void StartStretch();
  void StopStretch();
  void RequestLock(const QString& what, unsigned stretch);
  void SendLauncherEntry(double progress, bool visible);
  void ReportNoLock(const QString& why);
  QDBusConnection* SystemBus();
  QDBusConnection* SessionBus();

  const Identity m_identity;
  std::mutex m_pendingMutex;
  std::deque<std::function<void()>> m_pending;  // guarded by m_pendingMutex
  // The open stretch's number (0: none), so that a late answer to an earlier request is
  // recognised.
  unsigned m_stretch = 0;
  unsigned m_lastStretch = 0;
  int m_lockDescriptor = -1;
  double m_progress = 0;
  bool m_progressShown = false;
  bool m_noLockReported = false;
  // Connected at the first stretch; an unconnected one is kept too, so it is tried once.
  std::optional<QDBusConnection> m_systemBus;
  std::optional<QDBusConnection> m_sessionBus;
};

}  // namespace platform
