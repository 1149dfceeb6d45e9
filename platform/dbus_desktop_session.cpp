// Holds off sleep through logind and shows the progress on the dock while the device is
// written, through Qt D-Bus.
#include "platform/dbus_desktop_session.h"

#include <fcntl.h>
#include <unistd.h>

#include <QDBusError>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusUnixFileDescriptor>
#include <QMetaObject>
#include <QThread>
#include <QVariantMap>
#include <cstdio>
#include <utility>

namespace platform {

namespace {

const QString kLogindService = QStringLiteral("org.freedesktop.login1");
const QString kLogindPath = QStringLiteral("/org/freedesktop/login1");
const QString kLogindManager = QStringLiteral("org.freedesktop.login1.Manager");
const QString kInhibitWhat = QStringLiteral("sleep:idle:handle-lid-switch");
// What remains when logind refuses the lid switch (it may ask for more rights).
const QString kInhibitWhatFallback = QStringLiteral("sleep:idle");
// Long enough for a busy logind, short enough that a request never outlives a typical write.
constexpr int kInhibitTimeoutMs = 5000;

const QString kLauncherEntryPath = QStringLiteral("/com/canonical/unity/launcherentry/fwupdater");
const QString kLauncherEntryInterface = QStringLiteral("com.canonical.Unity.LauncherEntry");

// An answer that says logind is not there or does not answer, where asking again for less
// would only wait again.
bool LogindUnreachable(const QDBusError& error) {
  switch (error.type()) {
    case QDBusError::NoReply:
    case QDBusError::Timeout:
    case QDBusError::TimedOut:
    case QDBusError::ServiceUnknown:
    case QDBusError::NoServer:
    case QDBusError::Disconnected:
      return true;
    default:
      return false;
  }
}

}  // namespace

DbusDesktopSession::DbusDesktopSession(Identity identity, QObject* parent)
    : QObject(parent), m_identity(std::move(identity)) {}

DbusDesktopSession::~DbusDesktopSession() {
  StopStretch();
  // The last signal goes out before the connection does: a round trip to the bus flushes
  // everything sent before it (the bus answers at once).
  if (m_sessionBus && m_sessionBus->isConnected() && m_lastStretch != 0) {
    m_sessionBus->call(QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.DBus"),
                                                      QStringLiteral("/org/freedesktop/DBus"),
                                                      QStringLiteral("org.freedesktop.DBus"),
                                                      QStringLiteral("GetId")),
                       QDBus::Block, 1000);
  }
}

void DbusDesktopSession::OnOwnThread(std::function<void()> action) {
  if (QThread::currentThread() == thread()) {
    action();
    return;
  }
  {
    const std::lock_guard<std::mutex> lock(m_pendingMutex);
    m_pending.push_back(std::move(action));
  }
  QMetaObject::invokeMethod(this, "RunPending", Qt::QueuedConnection);
}

void DbusDesktopSession::RunPending() {
  // Only what was queued so far; each later action has its own wake-up behind it.
  std::deque<std::function<void()>> pending;
  {
    const std::lock_guard<std::mutex> lock(m_pendingMutex);
    pending.swap(m_pending);
  }
  for (const std::function<void()>& action : pending) action();
}

void DbusDesktopSession::WritingStarted() {
  OnOwnThread([this] { StartStretch(); });
}

void DbusDesktopSession::WritingProgress(int percent) {
  OnOwnThread([this, percent] {
    if (m_stretch != 0) SendLauncherEntry(percent / 100.0, true);
  });
}

void DbusDesktopSession::WritingStopped() {
  OnOwnThread([this] { StopStretch(); });
}

void DbusDesktopSession::StartStretch() {
  if (m_stretch != 0) return;
  m_stretch = ++m_lastStretch;
  RequestLock(kInhibitWhat, m_stretch);
}

void DbusDesktopSession::StopStretch() {
  if (m_stretch == 0) return;
  m_stretch = 0;
  if (m_lockDescriptor >= 0) {
    ::close(m_lockDescriptor);
    m_lockDescriptor = -1;
  }
  if (m_progressShown) SendLauncherEntry(m_progress, false);
}

void DbusDesktopSession::RequestLock(const QString& what, unsigned stretch) {
  QDBusConnection* bus = SystemBus();
  if (bus == nullptr) return;
  QDBusMessage call = QDBusMessage::createMethodCall(kLogindService, kLogindPath, kLogindManager,
                                                     QStringLiteral("Inhibit"));
  call << what << m_identity.programName << m_identity.inhibitReason << QStringLiteral("block");
  auto* watcher = new QDBusPendingCallWatcher(bus->asyncCall(call, kInhibitTimeoutMs), this);
  connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher, what, stretch] {
    watcher->deleteLater();
    const QDBusPendingReply<QDBusUnixFileDescriptor> reply = *watcher;
    if (reply.isError()) {
      if (stretch == m_stretch && what != kInhibitWhatFallback &&
          !LogindUnreachable(reply.error())) {
        RequestLock(kInhibitWhatFallback, stretch);
      } else if (stretch == m_stretch) {
        ReportNoLock(reply.error().message());
      }
      return;
    }
    // Our own copy of the descriptor: it is what keeps the lock, whatever becomes of the reply.
    const int descriptor = ::fcntl(reply.value().fileDescriptor(), F_DUPFD_CLOEXEC, 0);
    if (descriptor < 0) return;
    if (stretch != m_stretch || m_lockDescriptor >= 0) {
      // The stretch ended while logind was answering.
      ::close(descriptor);
      return;
    }
    m_lockDescriptor = descriptor;
  });
}

void DbusDesktopSession::SendLauncherEntry(double progress, bool visible) {
  QDBusConnection* bus = SessionBus();
  if (bus == nullptr) return;
  QDBusMessage signal = QDBusMessage::createSignal(kLauncherEntryPath, kLauncherEntryInterface,
                                                   QStringLiteral("Update"));
  const QVariantMap properties{{QStringLiteral("progress"), progress},
                               {QStringLiteral("progress-visible"), visible}};
  signal << QStringLiteral("application://") + m_identity.desktopFileId << properties;
  bus->send(signal);
  m_progress = progress;
  m_progressShown = visible;
}

void DbusDesktopSession::ReportNoLock(const QString& why) {
  if (m_noLockReported) return;
  m_noLockReported = true;
  std::fprintf(stderr, "FWUpdater: the computer may sleep during the update (no logind lock: %s)\n",
               qUtf8Printable(why));
}

QDBusConnection* DbusDesktopSession::SystemBus() {
  if (!m_systemBus) {
    m_systemBus = QDBusConnection::systemBus();
    if (!m_systemBus->isConnected()) ReportNoLock(QStringLiteral("no system bus"));
  }
  return m_systemBus->isConnected() ? &*m_systemBus : nullptr;
}

QDBusConnection* DbusDesktopSession::SessionBus() {
  if (!m_sessionBus) m_sessionBus = QDBusConnection::sessionBus();
  return m_sessionBus->isConnected() ? &*m_sessionBus : nullptr;
}

}  // namespace platform
