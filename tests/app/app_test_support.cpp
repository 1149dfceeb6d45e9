// Event-loop waits, unique guard names, scoped environment, folder snapshots and the box
// watcher.
#include "app_test_support.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QAbstractButton>
#include <QApplication>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
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

FolderSnapshot FolderSnapshot::Take(const QString& folder) {
  FolderSnapshot snapshot;
  QDirIterator iterator(folder,
                        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                        QDirIterator::Subdirectories);
  while (iterator.hasNext()) {
    const QString path = iterator.next();
    Entry entry;
    struct stat status {};
    if (::lstat(QFile::encodeName(path).constData(), &status) == 0) {
      entry.modifiedNs =
          static_cast<std::int64_t>(status.st_mtim.tv_sec) * 1000000000 + status.st_mtim.tv_nsec;
      entry.folder = S_ISDIR(status.st_mode);
    }
    if (!entry.folder) {
      QFile file(path);
      if (file.open(QIODevice::ReadOnly)) entry.bytes = file.readAll();
    }
    snapshot.entries[QDir(folder).relativeFilePath(path)] = entry;
  }
  return snapshot;
}

std::string FolderSnapshot::DifferencesFrom(const FolderSnapshot& other) const {
  std::string text;
  for (const auto& [path, entry] : entries) {
    const auto found = other.entries.find(path);
    if (found == other.entries.end()) {
      text += "only now: " + path.toStdString() + "\n";
    } else if (!(found->second == entry)) {
      text += "changed: " + path.toStdString() + "\n";
    }
  }
  for (const auto& [path, entry] : other.entries) {
    if (entries.count(path) == 0) text += "gone: " + path.toStdString() + "\n";
  }
  return text;
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
