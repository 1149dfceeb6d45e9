// Settings through QSettings under the organisation and application names of the program
// (on Linux, ~/.config/<organisation>/<application>.conf).
#include "app/app_settings.h"

#include <QSettings>
#include <memory>

namespace {

constexpr const char* kRecentGroup = "Recent File List";
constexpr const char* kWindowPositionKey = "Workspace/WindowPosition";

std::unique_ptr<QSettings> OpenSettings() {
  return std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope,
                                     QString::fromUtf8(kSettingsOrganization),
                                     QString::fromUtf8(kSettingsApplication));
}

}  // namespace

QStringList AppSettings::LoadRecentFiles() {
  const std::unique_ptr<QSettings> settings = OpenSettings();
  settings->beginGroup(QString::fromUtf8(kRecentGroup));
  QStringList files;
  for (int index = 1; index <= kRecentFileCount; ++index) {
    const QString file = settings->value(QStringLiteral("File%1").arg(index)).toString();
    if (!file.isEmpty() && !files.contains(file)) files.append(file);
  }
  return files;
}

void AppSettings::SaveRecentFiles(const QStringList& files) {
  const std::unique_ptr<QSettings> settings = OpenSettings();
  settings->beginGroup(QString::fromUtf8(kRecentGroup));
  settings->remove(QString());
  for (int index = 0; index < files.size() && index < kRecentFileCount; ++index) {
    settings->setValue(QStringLiteral("File%1").arg(index + 1), files[index]);
  }
}

QStringList AppSettings::WithRecentFile(QStringList list, const QString& path) {
  list.removeAll(path);
  list.prepend(path);
  while (list.size() > kRecentFileCount) list.removeLast();
  return list;
}

std::optional<QPoint> AppSettings::LoadWindowPosition() {
  const QVariant value = OpenSettings()->value(QString::fromUtf8(kWindowPositionKey));
  if (!value.canConvert<QPoint>() || value.isNull()) return std::nullopt;
  return value.toPoint();
}

void AppSettings::SaveWindowPosition(const QPoint& position) {
  OpenSettings()->setValue(QString::fromUtf8(kWindowPositionKey), position);
}
