// The private bus: a dbus-daemon and python-dbusmock as child processes of the test.
#include "private_bus.h"

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDeadlineTimer>
#include <QFile>
#include <QThread>
#include <fstream>
#include <functional>

namespace {

constexpr int kStartTimeoutMs = 20000;

const QString kLogind = QStringLiteral("org.freedesktop.login1");
const QString kLogindPath = QStringLiteral("/org/freedesktop/login1");
const QString kLogindManager = QStringLiteral("org.freedesktop.login1.Manager");

QString ReadAll(const std::string& path) {
  QFile file(QString::fromStdString(path));
  if (!file.open(QIODevice::ReadOnly)) return {};
  return QString::fromUtf8(file.readAll());
}

}  // namespace

bool PrivateBusToolsPresent() {
  return std::string(FWU_DBUS_DAEMON).size() > 0 && std::string(FWU_DBUSMOCK_PYTHON).size() > 0;
}

PrivateBus::PrivateBus(std::string folder, std::string name)
    : m_folder(std::move(folder)),
      m_name(std::move(name)),
      m_connectionName(QStringLiteral("fwu-test-") + QString::fromStdString(m_name)) {}

PrivateBus::~PrivateBus() {
  QDBusConnection::disconnectFromBus(m_connectionName);
  m_mock.reset();
  m_daemon.reset();
}

bool PrivateBus::WaitFor(const std::function<bool()>& condition, int timeoutMs) {
  const QDeadlineTimer deadline(timeoutMs);
  while (!condition()) {
    if (deadline.hasExpired()) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    QThread::msleep(5);
  }
  return true;
}

bool PrivateBus::Start() {
  // The session bus's configuration: a socket of its own, no policy beyond the user's.
  const std::string errors = m_folder + "/" + m_name + "-daemon.err";
  m_daemon = std::make_unique<SpawnedProgram>(
      m_folder, errors, std::map<std::string, std::string>{}, std::vector<std::string>{},
      FWU_DBUS_DAEMON,
      std::vector<std::string>{"--session", "--nofork", "--print-address=1",
                               "--address=unix:dir=" + m_folder});
  const bool listening = WaitFor(
      [&] { return ReadAll(errors + ".out").contains(QLatin1Char('\n')) || !m_daemon->Running(); },
      kStartTimeoutMs);
  m_address = ReadAll(errors + ".out").trimmed();
  if (!listening || m_address.isEmpty()) {
    m_failure = "dbus-daemon did not start: " + ReadAll(errors).toStdString();
    return false;
  }
  QDBusConnection bus = QDBusConnection::connectToBus(m_address, m_connectionName);
  if (!bus.isConnected()) {
    m_failure = "cannot connect to " + m_address.toStdString();
    return false;
  }
  bus.connect(QString(), QString(), QStringLiteral("com.canonical.Unity.LauncherEntry"),
              QStringLiteral("Update"), this, SLOT(OnLauncherEntryUpdate(QDBusMessage)));
  return true;
}

bool PrivateBus::StartMockLogind() {
  const std::string errors = m_folder + "/" + m_name + "-logind.err";
  m_mock = std::make_unique<SpawnedProgram>(
      m_folder, errors,
      std::map<std::string, std::string>{{"DBUS_SYSTEM_BUS_ADDRESS", m_address.toStdString()}},
      std::vector<std::string>{}, FWU_DBUSMOCK_PYTHON,
      std::vector<std::string>{"-m", "dbusmock", "--template", "logind", "-l",
                               m_folder + "/" + m_name + "-logind.log"});
  QDBusConnection bus(m_connectionName);
  const bool named = WaitFor(
      [&] { return bus.interface()->isServiceRegistered(kLogind).value() || !m_mock->Running(); },
      kStartTimeoutMs);
  if (!named || !m_mock->Running()) {
    m_failure = "python-dbusmock's logind did not start: " + ReadAll(errors).toStdString();
    return false;
  }
  return true;
}

bool PrivateBus::MakeLogindSilent() {
  return ReplaceInhibit(QStringLiteral("time.sleep(600)"));
}

bool PrivateBus::MakeLogindRefuseTheLidSwitch() {
  // Anything else goes to the template's own Inhibit, which keeps its inhibitor list.
  return ReplaceInhibit(
      QStringLiteral("if 'handle-lid-switch' in args[0]:\n"
                     "    raise dbus.exceptions.DBusException('refused', "
                     "name='org.freedesktop.DBus.Error.AccessDenied')\n"
                     "ret = load_module('logind').Inhibit(self, *args)\n"));
}

bool PrivateBus::ReplaceInhibit(const QString& code) {
  QDBusMessage call = QDBusMessage::createMethodCall(kLogind, kLogindPath,
                                                     QStringLiteral("org.freedesktop.DBus.Mock"),
                                                     QStringLiteral("AddMethod"));
  call << kLogindManager << QStringLiteral("Inhibit") << QStringLiteral("ssss")
       << QStringLiteral("h") << code;
  const QDBusMessage reply = QDBusConnection(m_connectionName).call(call);
  if (reply.type() != QDBusMessage::ReplyMessage) m_failure = reply.errorMessage().toStdString();
  return reply.type() == QDBusMessage::ReplyMessage;
}

QString PrivateBus::MockLog() const {
  return ReadAll(m_folder + "/" + m_name + "-logind.log");
}

std::vector<ListedInhibitor> PrivateBus::ListInhibitors() {
  const QDBusMessage reply =
      QDBusConnection(m_connectionName)
          .call(QDBusMessage::createMethodCall(kLogind, kLogindPath, kLogindManager,
                                               QStringLiteral("ListInhibitors")));
  std::vector<ListedInhibitor> inhibitors;
  if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) return inhibitors;
  const QDBusArgument list = reply.arguments().constFirst().value<QDBusArgument>();
  list.beginArray();
  while (!list.atEnd()) {
    ListedInhibitor inhibitor;
    uint user = 0;
    uint process = 0;
    list.beginStructure();
    list >> inhibitor.what >> inhibitor.who >> inhibitor.why >> inhibitor.mode >> user >> process;
    list.endStructure();
    inhibitors.push_back(inhibitor);
  }
  list.endArray();
  return inhibitors;
}

void PrivateBus::OnLauncherEntryUpdate(const QDBusMessage& message) {
  const QList<QVariant> arguments = message.arguments();
  if (arguments.size() != 2) return;
  LauncherEntryUpdate update;
  update.application = arguments[0].toString();
  QVariantMap properties;
  arguments[1].value<QDBusArgument>() >> properties;
  update.progress = properties.value(QStringLiteral("progress"), -1.0).toDouble();
  update.progressVisible = properties.value(QStringLiteral("progress-visible")).toBool();
  m_updates.push_back(update);
}
